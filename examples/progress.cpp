// Progress of a large reply: the work notifications count the bytes that ReadAll takes in.
//   progress PORT COUNT     asks a numeric-reply server on 127.0.0.1 (qordemod PORT replies) for
//                           COUNT bytes, which it sends before it closes the connection
#include <cstdio>
#include <string>

#include <qorclnt/client/IdTCPClient.hpp>
#include <qorclnt/runtime/Console.hpp>
#include <qorclnt/runtime/Strings.hpp>
#include <qorclnt/runtime/UncaughtError.hpp>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: progress PORT COUNT\n");
    return 2;
  }
  return qor::RunProgram([&] {
    const int32_t count = qor::StrToInt(argv[2]);
    qor::TIdTCPClient client(nullptr);
    client.SetHost("127.0.0.1");
    client.SetPort(qor::StrToInt(argv[1]));
    client.SetReadTimeout(5000);
    client.Connect(5000);
    client.ReadReply({220});
    client.SendCommand("DATA " + std::to_string(count), {150});

    // OnWork gets the running total of the span; the blocks it counts are as the network delivered
    // them, so this prints a line each time another quarter is done rather than one per block.
    int32_t quarters = 0;
    client.OnWorkBegin = [](qor::TComponent*, qor::TWorkMode, int32_t) { qor::ConsoleWriteLine("reading"); };
    client.OnWork = [&](qor::TComponent*, qor::TWorkMode, int32_t ADone) {
      while (quarters < 4 && ADone >= count / 4 * (quarters + 1)) {
        qor::ConsoleWriteLine(std::to_string(25 * ++quarters) + " %");
      }
    };
    client.OnWorkEnd = [](qor::TComponent*, qor::TWorkMode) { qor::ConsoleWriteLine("done"); };
    const std::string data = client.ReadAll();  // until the server closes
    qor::ConsoleWriteLine("received " + std::to_string(data.size()) + " bytes");
  });
}
