// Reaches a line server through a SOCKS proxy and prints the server's first reply line.
//   socks 5 PROXY_PORT HOST PORT USER PASSWORD   SOCKS 5 with user name and password
//   socks 4a PROXY_PORT HOST PORT                SOCKS 4A: the proxy resolves HOST
// The proxy listens on 127.0.0.1:PROXY_PORT.
#include <cstdio>
#include <string>

#include <qorclnt/client/IdTCPClient.hpp>
#include <qorclnt/runtime/Console.hpp>
#include <qorclnt/runtime/Strings.hpp>
#include <qorclnt/runtime/UncaughtError.hpp>
#include <qorclnt/socket/IdIOHandlerSocket.hpp>
#include <qorclnt/socket/IdSocks.hpp>

int main(int argc, char** argv) {
  const std::string version = argc > 1 ? argv[1] : "";
  if (!((version == "5" && argc == 7) || (version == "4a" && argc == 5))) {
    std::fprintf(stderr,
                 "usage: socks 5 PROXY_PORT HOST PORT USER PASSWORD | socks 4a PROXY_PORT HOST PORT\n");
    return 2;
  }
  return qor::RunProgram([&] {
    qor::TIdTCPClient client(nullptr);
    // The client makes a socket I/O handler of its own only when none is set; this one, owned by the
    // client, carries the proxy settings.
    auto* handler = new qor::TIdIOHandlerSocket(&client);
    client.SetIOHandler(handler);
    qor::TIdSocksInfo* socks = handler->SocksInfo();
    socks->SetHost("127.0.0.1");
    socks->SetPort(qor::StrToInt(argv[2]));
    if (version == "5") {
      socks->SetVersion(qor::svSocks5);
      socks->SetAuthentication(qor::saUsernamePassword);
      socks->SetUsername(argv[5]);
      socks->SetPassword(argv[6]);
    } else {
      socks->SetVersion(qor::svSocks4A);
    }
    client.SetHost(argv[3]);  // the destination, as the proxy is to reach it
    client.SetPort(qor::StrToInt(argv[4]));
    client.SetReadTimeout(5000);
    client.Connect(5000);  // the time-out covers the connect to the proxy and its negotiation
    client.WriteLn("HELLO THROUGH SOCKS " + version);
    qor::ConsoleWriteLine(client.ReadLn());
    client.Disconnect();
  });
}
