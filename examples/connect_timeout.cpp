// A timed connect that gives up: a listener that never accepts and whose queue is full lets no
// further connect complete, so Connect(1000) raises EIdConnectTimeout after about a second.
#include <sys/socket.h>

#include <memory>
#include <string>

#include <qorclnt/client/IdTCPClient.hpp>
#include <qorclnt/connection/IdGlobal.hpp>
#include <qorclnt/errors/IdException.hpp>
#include <qorclnt/runtime/Console.hpp>
#include <qorclnt/runtime/UncaughtError.hpp>
#include <qorclnt/socket/IdStack.hpp>

int main() {
  return qor::RunProgram([] {
    // The listener, through the socket stack: a backlog of 0 holds one connection nobody accepts.
    const std::unique_ptr<qor::TIdStack> stack = qor::TIdStack::NewStack();
    const qor::TIdStackSocketHandle listener = stack->CreateIPv4Socket(SOCK_STREAM, 0);
    stack->BindSocket(listener, qor::Id_PF_INET, "127.0.0.1", 0);
    stack->ListenSocket(listener, 0);
    uint16_t family = 0;
    std::string ip;
    int32_t port = 0;
    stack->GetSocketAddress(listener, family, ip, port);

    qor::TIdTCPClient first(nullptr);
    first.SetHost("127.0.0.1");
    first.SetPort(port);
    first.Connect(5000);
    qor::ConsoleWriteLine("first: connected, the listener's queue is full");

    qor::TIdTCPClient second(nullptr);
    second.SetHost("127.0.0.1");
    second.SetPort(port);
    try {
      second.Connect(1000);
      qor::ConsoleWriteLine("second: connected");
    } catch (const qor::EIdConnectTimeout& e) {
      qor::ConsoleWriteLine(std::string("second: ") + e.ClassName() + ": " + e.Message());
    }
    qor::ConsoleWriteLine(std::string("second: Connected() is ") + (second.Connected() ? "true" : "false"));
    stack->CloseSocketDescriptor(listener);
  });
}
