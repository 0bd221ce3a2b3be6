// A client of static storage duration that is still connected when main returns: its destructor
// runs during static destruction and closes the socket through the stack, which must still exist.
// The first parameter is the port on 127.0.0.1 to connect to.
#include <cstdio>
#include <string>

#include "qorclnt/client/IdTCPClient.hpp"

namespace {

qor::TIdTCPClient Client(nullptr);

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  Client.SetHost("127.0.0.1");
  Client.SetPort(std::stoi(argv[1]));
  Client.Connect(1000);
  Client.WriteLn("STILL CONNECTED");
  std::puts(Client.Connected() ? "connected" : "not connected");
  return 0;
}
