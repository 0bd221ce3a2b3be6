// Numeric replies: reads a server's greeting, sends commands with SendCommand and checks each reply's
// code against the codes it allows; a code outside them raises EIdProtocolReplyError.
//   replies PORT      a numeric-reply server on 127.0.0.1 (qordemod PORT replies)
#include <cstdio>
#include <string>

#include <qorclnt/client/IdTCPClient.hpp>
#include <qorclnt/errors/IdException.hpp>
#include <qorclnt/runtime/Console.hpp>
#include <qorclnt/runtime/Strings.hpp>
#include <qorclnt/runtime/UncaughtError.hpp>

namespace {

void Show(qor::TIdTCPConnection& AConnection) {
  const qor::TIdRFCReply& reply = AConnection.LastReply();
  for (const std::string& line : reply.Text()) qor::ConsoleWriteLine(reply.TextCode() + " | " + line);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: replies PORT\n");
    return 2;
  }
  return qor::RunProgram([&] {
    qor::TIdTCPClient client(nullptr);
    client.SetHost("127.0.0.1");
    client.SetPort(qor::StrToInt(argv[1]));
    client.SetReadTimeout(5000);
    client.Connect(5000);
    client.ReadReply({220});  // the greeting
    Show(client);
    client.SendCommand("HELO EXAMPLE", {250});
    Show(client);
    client.SendCommand("HELP", {211, 214});  // a reply of several lines: 214-... up to 214 ...
    Show(client);
    try {
      client.SendCommand("NOOP", {250});
    } catch (const qor::EIdProtocolReplyError& e) {
      // The code is in ErrorCode, the reply's text (each line followed by LF) in the message.
      qor::ConsoleWrite(std::string(e.ClassName()) + " " + std::to_string(e.ErrorCode()) + ": " +
                        e.Message());
    }
    client.SendCommand("QUIT", {221});
    Show(client);
    client.Disconnect();
  });
}
