#include "qorclnt/frontend/Commands.hpp"

#include <chrono>

#include "qorclnt/client/qorclss.hpp"
#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/frontend/Messages.hpp"
#include "qorclnt/frontend/Settings.hpp"
#include "qorclnt/runtime/Console.hpp"
#include "qorclnt/runtime/RuntimeErrors.hpp"
#include "qorclnt/runtime/Strings.hpp"

namespace qor::frontend {

namespace {

// Shortest time one connect attempt takes, so that attempts that fail at once do not spin.
constexpr int32_t MinAttemptMs = 125;

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
    const std::string lineEnd("\n");
    // One string serves every line of the reply: once it holds the longest line, reading and
    // printing a line allocates nothing.
    std::string line;
    for (;;) {
      EnsureConnected(AClient);
      AClient.ReadLn(line, lineEnd, -1, -1);
      if (TrimView(line).empty()) break;
      // The LF goes onto the line itself, so that the line leaves in one write.
      line.push_back('\n');
      ConsoleWrite(line);
    }
  } catch (const EInOutError&) {
    throw;  // the console itself failed: that is no end of a reply
  } catch (...) {
    // A time-out, a close or an over-long line ends the reply.
  }
  if (AQuote) ConsoleWriteLine(MsgQuoted);
}

}  // namespace

void EnsureConnected(TIdRUROvoduv& AClient) {
  while (!AClient.Connected()) {
    const auto started = std::chrono::steady_clock::now();
    try {
      AClient.Connect(AClient.ReadTimeout());
    } catch (...) {
      ConsoleWriteLine(MsgConnectionFailed);
      const auto spent =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
      if (spent.count() < MinAttemptMs) PauseMs(MinAttemptMs - static_cast<int32_t>(spent.count()));
    }
  }
}

void HandleCommand(TIdRUROvoduv& AClient, const std::string& ALine, bool& AStop) {
  const std::string line = UpperCase(Trim(ALine));
  AStop = false;
  const size_t space = line.find(' ');
  const std::string word = line.substr(0, space);
  const std::string argument = space == std::string::npos ? std::string() : line.substr(space + 1);

  if (word == "EXIT" || word == "E") {
    AStop = true;
    ConsoleWriteLine(MsgStopping);
  } else if (word == "HELP" || word == "H") {
    ShowHelp(MsgCommandHelp);
  } else if (word == "QUOTE" || word == "Q") {
    Exchange(AClient, argument, true);
  } else if (word == "SETHOST" || word == "SH") {
    ChangeSetting(AClient, stHost, argument);
  } else if (word == "SETPORT" || word == "SP") {
    ChangeSetting(AClient, stPort, argument);
  } else if (word == "SETTIMEOUT" || word == "ST") {
    ChangeSetting(AClient, stTimeout, argument);
  } else {
    Exchange(AClient, line, false);
  }
}

}  // namespace qor::frontend
