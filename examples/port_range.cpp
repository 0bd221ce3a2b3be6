// A connection from a local port out of a range. The client class always lets the system choose its
// port, so this one drives the socket I/O handler itself and hands it to a connection.
//   port_range PORT MIN MAX      a line server on 127.0.0.1 (qordemod), the range MIN..MAX
#include <cstdio>
#include <string>

#include <qorclnt/connection/IdTCPConnection.hpp>
#include <qorclnt/errors/IdException.hpp>
#include <qorclnt/runtime/Console.hpp>
#include <qorclnt/runtime/Strings.hpp>
#include <qorclnt/runtime/UncaughtError.hpp>
#include <qorclnt/socket/IdIOHandlerSocket.hpp>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: port_range PORT MIN MAX\n");
    return 2;
  }
  return qor::RunProgram([&] {
    const int32_t port = qor::StrToInt(argv[1]);
    qor::TIdTCPConnection connection(nullptr);
    auto* handler = new qor::TIdIOHandlerSocket(&connection);  // owned, and freed, by the connection
    connection.SetIOHandler(handler);
    connection.SetReadTimeout(5000);
    // The highest free port of MIN..MAX: the range is tried from the top down.
    handler->Open();
    handler->ConnectTo("127.0.0.1", port, "", 0, qor::StrToInt(argv[2]), qor::StrToInt(argv[3]), 5000);
    const int32_t local = handler->Socket()->Port();
    qor::ConsoleWriteLine("local port: " + std::to_string(local));
    connection.WriteLn("HELLO FROM A PORT OF THE RANGE");
    qor::ConsoleWriteLine(connection.ReadLn());

    // A range of one port that is taken: the bind fails.
    qor::TIdTCPConnection second(nullptr);
    auto* other = new qor::TIdIOHandlerSocket(&second);
    second.SetIOHandler(other);
    other->Open();
    try {
      other->ConnectTo("127.0.0.1", port, "", 0, local, local, 5000);
    } catch (const qor::EIdSocketHandleError& e) {
      qor::ConsoleWriteLine(std::string(e.ClassName()) + ": " + e.Message());
      other->Close();  // a failed ConnectTo leaves the descriptor open: close it before any retry
    }
    connection.Disconnect();
  });
}
