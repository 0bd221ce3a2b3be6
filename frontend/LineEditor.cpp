#include "qorclnt/frontend/LineEditor.hpp"

#include <histedit.h>

#include <cerrno>
#include <cstdio>

#include "qorclnt/frontend/HistoryFile.hpp"
#include "qorclnt/frontend/Messages.hpp"
#include "qorclnt/runtime/Strings.hpp"

namespace qor::frontend {

namespace {

char* PromptText(EditLine*) {
  return const_cast<char*>(MsgPrompt);
}

}  // namespace

TLineEditor::TLineEditor(std::string AHistoryFile)
    : FHistoryFile(std::move(AHistoryFile)),
      FHistory(history_init()),
      FEditLine(el_init("qorclnt", stdin, stdout, stderr)) {
  HistEvent event;
  history(FHistory, &event, H_SETSIZE, static_cast<int>(MaxHistoryLines));
  history(FHistory, &event, H_SETUNIQUE, 1);
  if (!FHistoryFile.empty()) {
    for (const std::string& line : ReadHistoryFile(FHistoryFile, MaxHistoryLines)) Remember(line);
  }

  el_set(FEditLine, EL_EDITOR, "emacs");
  el_set(FEditLine, EL_PROMPT, &PromptText);
  el_set(FEditLine, EL_HIST, history, FHistory);
  el_set(FEditLine, EL_CLIENTDATA, this);
  // While a line is edited, the keys that send signals (Ctrl-C, Ctrl-Z, Ctrl-\) reach the editor as
  // keys: Ctrl-C is bound below, the others do nothing. A signal sent from elsewhere finds the
  // terminal put back by the editor before it acts (and taken again when a stopped run goes on).
  el_set(FEditLine, EL_SETTY, "-d", "-isig", nullptr);
  el_set(FEditLine, EL_SIGNAL, 1);
  // The wide form keeps the names as given; the narrow one copies them and never frees the copies.
  el_wset(FEditLine, EL_ADDFN, L"qor-discard-line", L"Discard the line and show a fresh prompt",
          &DiscardLine);
  el_set(FEditLine, EL_BIND, "^C", "qor-discard-line", nullptr);
  el_wset(FEditLine, EL_ADDFN, L"qor-end-or-delete",
          L"End of input on an empty line, else delete the character under the cursor", &EndOrDelete);
  el_set(FEditLine, EL_BIND, "^D", "qor-end-or-delete", nullptr);
}

TLineEditor::~TLineEditor() {
  el_end(FEditLine);
  history_end(FHistory);
}

TLineOutcome TLineEditor::ReadLine(std::string& ALine) {
  FDiscarded = false;
  int count = 0;
  const char* line = el_gets(FEditLine, &count);
  if (line == nullptr) {
    // A signal that broke the read (one sent from elsewhere) costs the line, not the run.
    return count < 0 && errno == EINTR ? loDiscarded : loEnded;
  }
  if (FDiscarded) return loDiscarded;
  ALine.assign(line, static_cast<size_t>(count));
  if (!ALine.empty() && ALine.back() == '\n') ALine.pop_back();
  if (Remember(ALine) && !FHistoryFile.empty()) WriteHistoryFile(FHistoryFile, FLines);
  return loLine;
}

unsigned char TLineEditor::DiscardLine(EditLine* AEditLine, int) {
  void* self = nullptr;
  el_get(AEditLine, EL_CLIENTDATA, &self);
  static_cast<TLineEditor*>(self)->FDiscarded = true;
  // A newline read next ends the line the usual way: the cursor leaves the edited text below it.
  el_push(AEditLine, "\n");
  return CC_NORM;
}

unsigned char TLineEditor::EndOrDelete(EditLine* AEditLine, int) {
  const LineInfoW* line = el_wline(AEditLine);
  // Nothing is echoed for the end of input, as a terminal in its own line mode shows nothing.
  if (line->buffer == line->lastchar) return CC_EOF;
  if (line->cursor == line->lastchar) return CC_ERROR;
  el_cursor(AEditLine, 1);
  el_deletestr(AEditLine, 1);
  return CC_REFRESH;
}

bool TLineEditor::Remember(const std::string& ALine) {
  if (IsBlank(ALine) || (!FLines.empty() && FLines.back() == ALine)) return false;
  HistEvent event;
  history(FHistory, &event, H_ENTER, ALine.c_str());
  FLines.push_back(ALine);
  if (FLines.size() > MaxHistoryLines) FLines.erase(FLines.begin());
  return true;
}

}  // namespace qor::frontend
