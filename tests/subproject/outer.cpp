// Uses the client stack through the tree added as a subdirectory. The unused variable is on purpose:
// it makes a warning that must stay a warning.
#include <qorclnt/client/IdTCPClient.hpp>
#include <qorclnt/runtime/Console.hpp>
#include <qorclnt/runtime/UncaughtError.hpp>

int main() {
  int unused = 0;
  return qor::RunProgram([] {
    qor::TIdTCPClient client(nullptr);
    client.SetHost("127.0.0.1");
    qor::ConsoleWriteLine("host: " + client.Host());
  });
}
