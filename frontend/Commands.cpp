#include "qorclnt/frontend/Commands.hpp"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "qorclnt/client/qorclss.hpp"
#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/frontend/ConsoleTLS.hpp"
#include "qorclnt/frontend/Messages.hpp"
#include "qorclnt/frontend/Settings.hpp"
#include "qorclnt/runtime/Console.hpp"
#include "qorclnt/runtime/RuntimeErrors.hpp"
#include "qorclnt/runtime/Strings.hpp"

namespace qor::frontend {

namespace {

// Shortest time one connect attempt takes, so that attempts that fail at once do not spin.
constexpr int32_t MinAttemptMs = 125;

enum TCommand : uint8_t { cmNone, cmExit, cmHelp, cmQuote, cmSetHost, cmSetPort, cmSetTimeout };

// The command words, each with its short form.
struct TCommandWord {
  std::string_view Long;
  std::string_view Short;
  TCommand Command;
};
constexpr TCommandWord CommandWords[] = {{"EXIT", "E", cmExit},        {"HELP", "H", cmHelp},
                                         {"QUOTE", "Q", cmQuote},      {"SETHOST", "SH", cmSetHost},
                                         {"SETPORT", "SP", cmSetPort}, {"SETTIMEOUT", "ST", cmSetTimeout}};

// The command that AWord names; cmNone for a word that is no command.
TCommand FindCommand(std::string_view AWord) {
  for (const TCommandWord& entry : CommandWords) {
    if (AWord == entry.Long || AWord == entry.Short) return entry.Command;
  }
  return cmNone;
}

// One connect attempt; a failed one is reported and takes at least MinAttemptMs. A TLS connect is
// reported as such, and a failure in TLS with its reason.
void TryConnect(TIdRUROvoduv& AClient) {
  const auto started = std::chrono::steady_clock::now();
  std::string failure;
  try {
    AClient.Connect(AClient.ReadTimeout());
  } catch (const ECommandCancelled&) {
    throw;
  } catch (const EIdTLSError& error) {
    failure = TLSFailedLine(error);
  } catch (...) {
    failure = MsgConnectionFailed;
  }
  if (failure.empty()) {
    WriteTLSEstablished(AClient);
    return;
  }
  ConsoleWriteLine(failure);
  const auto spent =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  if (spent.count() < MinAttemptMs) PauseMs(MinAttemptMs - static_cast<int32_t>(spent.count()));
}

// Connects until connected, writing "< CONNECTION FAILED" (or "< TLS FAILED: ...") after every
// failed attempt. An attempt that failed in less than 125 ms is followed by a pause for the rest of
// them.
void EnsureConnected(TIdRUROvoduv& AClient) {
  while (!AClient.Connected()) TryConnect(AClient);
}

void ChangeSetting(TIdRUROvoduv& AClient, TSetting ASetting, const std::string& AArgument) {
  WriteSettingLine(ASetting);
  if (AClient.Connected()) AClient.Disconnect();
  StoreSetting(AClient, ASetting, AArgument);
}

// Sends one line and prints the reply lines until a blank one; any error while reading ends the
// reply silently.
void Exchange(TIdRUROvoduv& AClient, const std::string& AText, bool AQuote) {
  if (AQuote) ConsoleWriteLine(MsgQuoting);
  EnsureConnected(AClient);
  AClient.WriteLn(AText);
  try {
    // Each reply line goes to the console straight from the input buffer, with its LF, in one write.
    // Lines already received follow one another without a connection check: nothing can have
    // changed the connection between them.
    bool blank = false;
    const auto print = [&blank](std::string_view ALine) {
      blank = IsBlank(ALine);
      if (!blank) ConsoleWrite(ALine);
      return !blank;
    };
    while (!blank) {
      EnsureConnected(AClient);
      AClient.ReadLnWith(print, -1, -1);
    }
  } catch (const EInOutError&) {
    throw;  // the console itself failed: that is no end of a reply
  } catch (const ECommandCancelled&) {
    throw;
  } catch (...) {
    // A time-out, a close or an over-long line ends the reply.
  }
  if (AQuote) ConsoleWriteLine(MsgQuoted);
}

}  // namespace

void HandleCommand(TIdRUROvoduv& AClient, const std::string& ALine, bool& AStop) {
  const std::string line = UpperCase(TrimView(ALine));
  AStop = false;
  const std::string_view text = line;
  const size_t space = text.find(' ');
  const std::string_view argument =
      space == std::string_view::npos ? std::string_view() : text.substr(space + 1);

  switch (FindCommand(text.substr(0, space))) {
    case cmExit:
      AStop = true;
      ConsoleWriteLine(MsgStopping);
      break;
    case cmHelp:
      ShowHelp(MsgCommandHelp);
      break;
    case cmQuote:
      Exchange(AClient, std::string(argument), true);
      break;
    case cmSetHost:
      ChangeSetting(AClient, stHost, std::string(argument));
      break;
    case cmSetPort:
      ChangeSetting(AClient, stPort, std::string(argument));
      break;
    case cmSetTimeout:
      ChangeSetting(AClient, stTimeout, std::string(argument));
      break;
    case cmNone:
      Exchange(AClient, line, false);
      break;
  }
}

void DisconnectQuietly(TIdRUROvoduv& AClient) noexcept {
  try {
    if (AClient.Connected()) AClient.Disconnect();
  } catch (...) {
    // Whoever asks is done with the connection; a failed disconnect changes nothing for the operator.
  }
}

}  // namespace qor::frontend
