// The console client: banner, command-line parameters, the prompt loop, and the clean-up.
#include <memory>
#include <string>
#include <vector>

#include "qorclnt/client/qorclss.hpp"
#include "qorclnt/frontend/Commands.hpp"
#include "qorclnt/frontend/ConsoleTLS.hpp"
#include "qorclnt/frontend/HistoryFile.hpp"
#include "qorclnt/frontend/LineEditor.hpp"
#include "qorclnt/frontend/Messages.hpp"
#include "qorclnt/frontend/Parameters.hpp"
#include "qorclnt/frontend/TerminalSession.hpp"
#include "qorclnt/runtime/Console.hpp"
#include "qorclnt/runtime/UncaughtError.hpp"

namespace qor::frontend {

namespace {

// Disconnects (ignoring any error) and frees the client.
void CleanUp(std::unique_ptr<TIdRUROvoduv>& AClient) {
  DisconnectQuietly(*AClient);
  AClient.reset();
}

// The prompt loop at a terminal: lines are edited and recalled, Ctrl-C at the prompt gives a fresh
// one, and Ctrl-C while a command waits closes the connection and comes back to the prompt. The
// screen shows what the plain loop shows, plus the line that says a command was cancelled.
void TerminalPromptLoop(TIdRUROvoduv& AClient, bool& AStop, bool& VInputEnded) {
  TTerminalSession session;
  TLineEditor editor(HistoryFilePath());
  std::string line;
  while (!AStop) {
    ConsoleWrite("\n");
    const TLineOutcome outcome = editor.ReadLine(line);
    if (outcome == loDiscarded) continue;
    if (outcome == loEnded) {
      line = "EXIT";
      VInputEnded = true;
    }
    if (!session.RunCommand([&] { HandleCommand(AClient, line, AStop); })) {
      DisconnectQuietly(AClient);
      ConsoleWriteLine(MsgCancelled);
    }
  }
}

// Reads and carries out lines until EXIT; VInputEnded tells that the input has ended.
void PromptLoop(TIdRUROvoduv& AClient, bool& AStop, bool& VInputEnded) {
  ConsoleWriteLine(MsgStarted);
  AStop = false;
  if (TTerminalSession::Available()) return TerminalPromptLoop(AClient, AStop, VInputEnded);
  // The blank line and the prompt leave together: one write, nothing held back.
  const std::string prompt = std::string("\n") + MsgPrompt;
  std::string line;
  while (!AStop) {
    ConsoleWrite(prompt);
    // The end of standard input ends the run as EXIT would.
    if (!ConsoleReadLine(line)) {
      line = "EXIT";
      VInputEnded = true;
    }
    HandleCommand(AClient, line, AStop);
  }
}

void Run(const std::vector<std::string>& AParameters) {
  ConsoleWriteLine(MsgBanner1);
  ConsoleWriteLine(MsgBanner2);
  ConsoleWriteLine("");
  ConsoleWriteLine(MsgStarting);
  auto client = std::make_unique<TIdRUROvoduv>(nullptr);
  bool inputEnded = false;
  try {
    bool stop = false;
    client->SetReadTimeout(1000);
    TConsoleTLS tls;
    HandleParameters(*client, AParameters, stop, tls);
    if (tls.Enabled) UseTLS(*client, tls);
    if (tls.NoVerify && !stop) ConsoleWriteLine(MsgTLSNoVerifyWarning);
    if (!stop) PromptLoop(*client, stop, inputEnded);
  } catch (...) {
    CleanUp(client);
    throw;
  }
  CleanUp(client);
  ConsoleWriteLine(MsgStopped);
  ConsoleWriteLine("");
  ConsoleWrite(MsgPressEnter);
  // Input that has ended (Ctrl-D at a terminal) has no ENTER to wait for.
  std::string ignored;
  if (!inputEnded) ConsoleReadLine(ignored);
}

}  // namespace

}  // namespace qor::frontend

int main(int argc, char** argv) {
  const std::vector<std::string> parameters(argv + (argc > 0 ? 1 : 0), argv + argc);
  return qor::RunProgram([&parameters] { qor::frontend::Run(parameters); });
}
