// The demo server qordemod, driven by the client stack: its line mode and its numeric-reply mode.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "qorclnt/client/IdTCPClient.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/runtime/Strings.hpp"
#include "qorclnt/socket/IdTLSIOHandlerSocket.hpp"
#include "support/ProcessRunner.hpp"

namespace qor::test {
namespace {

using namespace std::chrono_literals;

const std::string DemoPath = (std::filesystem::path(QOR_CLIENT_PATH).parent_path() / "qordemod").string();

// A qordemod on a free port of 127.0.0.1, with a client connected to it.
class DemoServer {
 public:
  explicit DemoServer(std::vector<std::string> AMode) {
    AMode.insert(AMode.begin(), "0");
    FServer = std::make_unique<ChildProcess>(DemoPath, AMode, ProcessOptions{.TimeLimit = 120s});
    const std::string announce = "qordemod: listening on 127.0.0.1:";
    if (!FServer->WaitForStdout("\n", 10s)) throw std::runtime_error("qordemod did not start");
    const std::string first = FServer->Stdout();
    if (first.rfind(announce, 0) != 0) throw std::runtime_error("qordemod said: " + first);
    Client.SetHost("127.0.0.1");
    Client.SetPort(StrToInt(Trim(first.substr(announce.size(), first.find('\n') - announce.size()))));
    Client.SetReadTimeout(10000);
    if (AMode.back() == "--tls") {
      // The certificate it made is named on the next line: trust that one.
      const std::string made = "qordemod: TLS certificate in ";
      if (!FServer->WaitForStdout("\n", 10s)) throw std::runtime_error("qordemod made no certificate");
      const std::string output = FServer->Stdout();
      const size_t at = output.find(made);
      if (at == std::string::npos) throw std::runtime_error("qordemod said: " + output);
      FCertificate = Trim(output.substr(at + made.size()));
      auto* tls = new TIdTLSIOHandlerSocket(&Client);
      tls->SetCAFile(FCertificate);
      Client.SetIOHandler(tls);
    }
    Client.Connect(10000);
  }
  ~DemoServer() {
    if (!FCertificate.empty()) std::filesystem::remove_all(std::filesystem::path(FCertificate).parent_path());
  }

  TIdTCPClient Client{nullptr};

 private:
  std::unique_ptr<ChildProcess> FServer;  // killed and reaped when the test ends
  std::string FCertificate;
};

TEST(DemoServer, TLSModeServesLinesOverTLSWithTheCertificateItMade) {
  DemoServer demo({"replies", "--tls"});
  EXPECT_EQ(demo.Client.ReadReply({220}), 220);
  EXPECT_EQ(demo.Client.SendCommand("HELO TLS", {250}), 250);
  EXPECT_EQ(demo.Client.LastReply().Text(), std::vector<std::string>{"HELLO TLS"});
  // DATA's bytes end with the server's close: a close_notify, so the end is a graceful one.
  EXPECT_EQ(demo.Client.SendCommand("DATA 100000", {150}), 150);
  EXPECT_EQ(demo.Client.ReadAll().size(), 100000u);
}

// --help shows the usage text on standard output; an argument it does not understand (a port that is
// not a number from 0 to 65535, an unknown option, a third argument) is refused with the reason and
// the same text on standard error and exit status 2, before anything listens.
TEST(DemoServer, HelpShowsTheUsageAndABadArgumentIsRefusedWithIt) {
  const ProcessResult help = RunProcess(DemoPath, {"--help"}, "");
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_EQ(help.Stdout.rfind("usage: qordemod [OPTION]... [PORT [replies]]\n", 0), 0u) << help.Stdout;
  EXPECT_EQ(help.Stderr, "");
  EXPECT_EQ(RunProcess(DemoPath, {"-h"}, "").Stdout, help.Stdout);
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"abc"}, "bad port abc (a number from 0 to 65535)"},
      {{"65536"}, "bad port 65536 (a number from 0 to 65535)"},
      {{"-1"}, "unknown option -1"},
      {{"0x10"}, "bad port 0x10 (a number from 0 to 65535)"},
      {{"--port"}, "unknown option --port"},
      {{"--help=yes"}, "option --help takes no value"},
      {{"0", "lines"}, "unexpected argument lines"},
      {{"0", "replies", "more"}, "unexpected argument more"},
      {{"--cert", "c.pem", "--tls"}, "--cert and --key go together"},
      {{"--cert", "c.pem", "--key", "k.pem"}, "--cert and --key need --tls"},
  };
  for (const auto& [args, reason] : refused) {
    const ProcessResult run = RunProcess(DemoPath, args, "");
    EXPECT_EQ(run.ExitCode, 2) << args.front();
    EXPECT_EQ(run.Stdout, "") << args.front();
    EXPECT_EQ(run.Stderr, "qordemod: " + reason + "\n" + help.Stdout) << args.front();
  }
}

TEST(DemoServer, AnswersEveryLineWithOkAndABlankLine) {
  DemoServer demo({});
  demo.Client.WriteLn("HELLO");
  EXPECT_EQ(demo.Client.ReadLn(), "OK HELLO");
  EXPECT_EQ(demo.Client.ReadLn(), "");
  demo.Client.WriteLn("QUIT");
  EXPECT_EQ(demo.Client.ReadAll(), "BYE\r\n\r\n");
}

TEST(DemoServer, RepliesModeGreetsAndAnswersInNumericRepliesOfOneOrMoreLines) {
  DemoServer demo({"replies"});
  TIdTCPClient& client = demo.Client;
  EXPECT_EQ(client.ReadReply({220}), 220);
  EXPECT_EQ(client.LastReply().Text(), std::vector<std::string>{"QORDEMOD READY"});
  EXPECT_EQ(client.SendCommand("HELO THERE", {250}), 250);
  EXPECT_EQ(client.LastReply().Text(), std::vector<std::string>{"HELLO THERE"});
  EXPECT_EQ(client.SendCommand("HELP", {214}), 214);
  EXPECT_EQ(client.LastReply().Text(),
            (std::vector<std::string>{"COMMANDS:", "HELO name", "DATA count", "QUIT", "END OF HELP"}));
  // A code the caller does not allow raises, and the connection goes on.
  try {
    client.SendCommand("NOOP", {250});
    FAIL() << "a 500 reply passed as 250";
  } catch (const EIdProtocolReplyError& error) {
    EXPECT_EQ(error.ErrorCode(), 500);
    EXPECT_EQ(error.Message(), "UNKNOWN COMMAND\n");
  }
  EXPECT_EQ(client.SendCommand("DATA -1", {501}), 501);
  EXPECT_EQ(client.SendCommand("DATA 1073741825", {501}), 501);
  EXPECT_EQ(client.SendCommand("QUIT", {221}), 221);
  EXPECT_EQ(client.ReadAll(), "");
  EXPECT_FALSE(client.Connected());
}

TEST(DemoServer, DataSendsTheCountOfBytesInTextLinesAndThenCloses) {
  for (const int32_t count : {0, 1, 64, 65537, 3000000}) {
    DemoServer demo({"replies"});
    demo.Client.ReadReply({220});
    EXPECT_EQ(demo.Client.SendCommand("DATA " + std::to_string(count), {150}), 150);
    EXPECT_EQ(demo.Client.LastReply().Text(),
              std::vector<std::string>{std::to_string(count) + " BYTES FOLLOW"});
    const std::string data = demo.Client.ReadAll();
    ASSERT_EQ(data.size(), static_cast<size_t>(count));
    for (size_t i = 0; i < data.size(); ++i) {
      ASSERT_EQ(data[i], i % 64 == 63 ? '\n' : 'D') << "at byte " << i << " of " << count;
    }
  }
}

}  // namespace
}  // namespace qor::test
