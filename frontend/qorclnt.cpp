// The console client: banner, command-line parameters, the prompt loop, and the clean-up.
#include <memory>
#include <string>
#include <vector>

#include "qorclnt/client/qorclss.hpp"
#include "qorclnt/frontend/Commands.hpp"
#include "qorclnt/frontend/ConsoleTLS.hpp"
#include "qorclnt/frontend/Messages.hpp"
#include "qorclnt/frontend/Parameters.hpp"
#include "qorclnt/runtime/Console.hpp"
#include "qorclnt/runtime/UncaughtError.hpp"

namespace qor::frontend {

namespace {

// Disconnects (ignoring any error) and frees the client.
void CleanUp(std::unique_ptr<TIdRUROvoduv>& AClient) {
  try {
    if (AClient->Connected()) AClient->Disconnect();
  } catch (...) {
    // The run is ending; a failed disconnect changes nothing for the operator.
  }
  AClient.reset();
}

void PromptLoop(TIdRUROvoduv& AClient, bool& AStop) {
  ConsoleWriteLine(MsgStarted);
  AStop = false;
  // The blank line and the prompt leave together: one write, nothing held back.
  const std::string prompt = std::string("\n") + MsgPrompt;
  std::string line;
  while (!AStop) {
    ConsoleWrite(prompt);
    // The end of standard input ends the run as EXIT would.
    if (!ConsoleReadLine(line)) line = "EXIT";
    HandleCommand(AClient, line, AStop);
  }
}

void Run(const std::vector<std::string>& AParameters) {
  ConsoleWriteLine(MsgBanner1);
  ConsoleWriteLine(MsgBanner2);
  ConsoleWriteLine("");
  ConsoleWriteLine(MsgStarting);
  auto client = std::make_unique<TIdRUROvoduv>(nullptr);
  try {
    bool stop = false;
    client->SetReadTimeout(1000);
    TConsoleTLS tls;
    HandleParameters(*client, AParameters, stop, tls);
    if (tls.Enabled) UseTLS(*client, tls);
    if (tls.NoVerify && !stop) ConsoleWriteLine(MsgTLSNoVerifyWarning);
    if (!stop) PromptLoop(*client, stop);
  } catch (...) {
    CleanUp(client);
    throw;
  }
  CleanUp(client);
  ConsoleWriteLine(MsgStopped);
  ConsoleWriteLine("");
  ConsoleWrite(MsgPressEnter);
  std::string ignored;
  ConsoleReadLine(ignored);
}

}  // namespace

}  // namespace qor::frontend

int main(int argc, char** argv) {
  const std::vector<std::string> parameters(argv + (argc > 0 ? 1 : 0), argv + argc);
  return qor::RunProgram([&parameters] { qor::frontend::Run(parameters); });
}
