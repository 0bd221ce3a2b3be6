// Two intercepts on one connection: the outer one rewrites (upper case out, lower case in), the nested
// one writes a hex dump of every block as it is on the wire. Sent bytes pass the outer layer first,
// received bytes the nested layer first, so the dump shows the rewritten bytes both ways.
//   intercepts PORT      a line server on 127.0.0.1 (qordemod)
#include <cctype>
#include <cstdio>
#include <string>

#include <qorclnt/client/IdTCPClient.hpp>
#include <qorclnt/runtime/Console.hpp>
#include <qorclnt/runtime/Strings.hpp>
#include <qorclnt/runtime/UncaughtError.hpp>
#include <qorclnt/socket/IdIntercept.hpp>

namespace {

// The whole block; an intercept's stream stands at position 0.
std::string ReadBlock(qor::TStream* AStream) {
  std::string bytes(static_cast<size_t>(AStream->Size()), '\0');
  AStream->Read(bytes.data(), static_cast<int64_t>(bytes.size()));
  return bytes;
}

// Replaces the block; the connection takes the stream's size afterwards, so a block may also change
// its length.
void WriteBlock(qor::TStream* AStream, const std::string& ABytes) {
  AStream->SetSize(0);
  AStream->Write(ABytes.data(), static_cast<int64_t>(ABytes.size()));
}

void Dump(const char* ADirection, qor::TStream* AStream) {
  std::string line = ADirection;
  char hex[4];
  for (const unsigned char byte : ReadBlock(AStream)) {
    std::snprintf(hex, sizeof hex, " %02X", byte);
    line += hex;
  }
  qor::ConsoleWriteLine(line);
}

std::string Mapped(const std::string& ABytes, int (*AMap)(int)) {
  std::string result;
  for (const unsigned char byte : ABytes) result += static_cast<char>(AMap(byte));
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: intercepts PORT\n");
    return 2;
  }
  return qor::RunProgram([&] {
    qor::TIdTCPClient client(nullptr);
    auto* dump = new qor::TIdConnectionIntercept(&client);  // owned, and freed, by the client
    dump->OnSend = [](qor::TIdConnectionIntercept*, qor::TStream* s) { Dump("out:", s); };
    dump->OnReceive = [](qor::TIdConnectionIntercept*, qor::TStream* s) { Dump("in: ", s); };
    auto* rewrite = new qor::TIdConnectionIntercept(&client);
    rewrite->OnSend = [](qor::TIdConnectionIntercept*, qor::TStream* s) {
      WriteBlock(s, Mapped(ReadBlock(s), ::toupper));
    };
    rewrite->OnReceive = [](qor::TIdConnectionIntercept*, qor::TStream* s) {
      WriteBlock(s, Mapped(ReadBlock(s), ::tolower));
    };
    rewrite->SetNestedIntercept(dump);
    client.SetIntercept(rewrite);

    client.SetHost("127.0.0.1");
    client.SetPort(qor::StrToInt(argv[1]));
    client.SetReadTimeout(5000);
    client.Connect(5000);
    client.WriteLn("hello");
    qor::ConsoleWriteLine("line: " + client.ReadLn());
    client.Disconnect();
  });
}
