// Sends the line HELLO to a line server on 127.0.0.1 and prints the first line of its reply.
//   consumer PORT
#include <cstdio>

#include <qorclnt/client/IdTCPClient.hpp>
#include <qorclnt/runtime/Console.hpp>
#include <qorclnt/runtime/Strings.hpp>
#include <qorclnt/runtime/UncaughtError.hpp>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: consumer PORT\n");
    return 2;
  }
  return qor::RunProgram([&] {
    qor::TIdTCPClient client(nullptr);
    client.SetHost("127.0.0.1");
    client.SetPort(qor::StrToIntDef(argv[1], 0));
    client.SetReadTimeout(5000);  // a reply line later than that raises EIdReadTimeout
    client.Connect(1000);
    client.WriteLn("HELLO");
    qor::ConsoleWriteLine(client.ReadLn());
    client.Disconnect();
  });
}
