#pragma once

#include <string>
#include <vector>

struct editline;
struct history;

namespace qor::frontend {

// How reading a line at the terminal ended.
enum TLineOutcome { loLine, loDiscarded, loEnded };

// Reads the lines typed at a terminal with line editing (cursor keys, Home and End, word and line
// kills) and a history that Up and Down walk through, kept in a file across runs. The prompt is
// "> "; everything else on the screen is the caller's. Ctrl-C discards the line being typed, and
// Ctrl-D on an empty line is the end of input.
class TLineEditor {
 public:
  // AHistoryFile: where the history is read from and kept; empty keeps none.
  explicit TLineEditor(std::string AHistoryFile);
  ~TLineEditor();
  TLineEditor(const TLineEditor&) = delete;
  TLineEditor& operator=(const TLineEditor&) = delete;

  // Shows the prompt and reads one line, without its line end, into ALine (loLine). A line that is
  // not blank joins the history (a repeat of the line before it does not) and the file is rewritten
  // at once, so that no way out of the run loses it.
  TLineOutcome ReadLine(std::string& ALine);

 private:
  // Bound to Ctrl-C: marks the line as discarded and ends it as Enter would.
  static unsigned char DiscardLine(editline* AEditLine, int AKey);
  // Bound to Ctrl-D: the end of input on an empty line, else deletes the character under the cursor.
  static unsigned char EndOrDelete(editline* AEditLine, int AKey);
  // Adds a line that is not blank and not the same as the last one; true when it was added.
  bool Remember(const std::string& ALine);

  std::string FHistoryFile;
  std::vector<std::string> FLines;  // the history as the file keeps it, oldest first
  history* FHistory;
  editline* FEditLine;
  bool FDiscarded = false;
};

}  // namespace qor::frontend
