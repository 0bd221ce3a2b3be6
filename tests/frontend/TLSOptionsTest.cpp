// The console's TLS options end to end, against the in-process TLS test server.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "frontend/Transcript.hpp"
#include "support/LoopbackServer.hpp"
#include "support/TestPki.hpp"
#include "support/TlsServer.hpp"

namespace qor::test {
namespace {

using namespace std::chrono_literals;
using namespace transcript;

// Answers each line with "WELCOME " and the line, then a blank line; counts the lines it got.
TlsServer::TScript Welcome(std::atomic<int>& VLines) {
  return [&VLines](TlsPeer& APeer) {
    if (!APeer.Accept()) return;
    for (std::string line = APeer.ReadLine(); !line.empty(); line = APeer.ReadLine()) {
      ++VLines;
      APeer.Send("WELCOME " + line + "\r\n");
    }
  };
}

std::vector<std::string> TLSArgs(const TlsServer& AServer, const std::string& AHost = "127.0.0.1") {
  return {"-tls", "-CAFILE", " " + TestPki::Get().CAFile + " ", "-SH",
          AHost,  "-SP",     std::to_string(AServer.Port())};
}
const std::string TLSLines = "\n\n\n\n< SETTING HOST\n< HOST SET\n\n\n< SETTING PORT\n< PORT SET\n\n";
const std::string Established = "< TLS ESTABLISHED: TLSV1.3 TLS_AES_256_GCM_SHA384, ";

TEST(TLSOptions, AVerifiedSessionSaysWhatItVerified) {
  std::atomic<int> lines{0};
  TlsServer server(Welcome(lines));
  const ProcessResult run = RunClient(TLSArgs(server), "q hello\nq again\n");
  EXPECT_EQ(run.Stdout, Session(TLSLines, {"< QUOTING COMMAND\n" + Established +
                                               "VERIFIED AS 127.0.0.1\nWELCOME HELLO\n< COMMAND QUOTED\n",
                                           "< QUOTING COMMAND\nWELCOME AGAIN\n< COMMAND QUOTED\n"}));
  EXPECT_EQ(lines, 2);

  const ProcessResult named = RunClient(TLSArgs(server, "localhost"), "q hi\n");
  EXPECT_EQ(named.Stdout, Session(TLSLines, {"< QUOTING COMMAND\n" + Established +
                                             "VERIFIED AS LOCALHOST\nWELCOME HI\n< COMMAND QUOTED\n"}));
}

TEST(TLSOptions, WithoutACAFileTheSystemStoreDecidesAndHonoursSSLCertFile) {
  std::atomic<int> lines{0};
  TlsServer server(Welcome(lines));
  ProcessOptions options;
  options.Environment = {"SSL_CERT_FILE=" + TestPki::Get().CAFile};
  const ProcessResult run =
      RunProcess(QOR_CLIENT_PATH, {"-TLS", "-SP", std::to_string(server.Port())}, "q hello\n", options);
  EXPECT_EQ(run.Stdout, Session("\n\n< SETTING PORT\n< PORT SET\n\n",
                                {"< QUOTING COMMAND\n" + Established +
                                 "VERIFIED AS 127.0.0.1\nWELCOME HELLO\n< COMMAND QUOTED\n"}));
}

// A peer that fails verification gets no application byte, and the client keeps trying.
void ExpectRefused(const std::string& ACert, const std::string& AHost, const std::string& AReason) {
  std::atomic<int> lines{0};
  TlsServer server(Welcome(lines), {ACert});
  ChildProcess client(QOR_CLIENT_PATH, TLSArgs(server, AHost));
  client.Write("q secret\n");
  const std::string failed = "< TLS FAILED: CERTIFICATE VERIFY FAILED: " + AReason + "\n";
  EXPECT_TRUE(client.WaitForStdout(failed, 10s)) << client.Stdout();
  EXPECT_TRUE(client.WaitForStdout(failed, 10s)) << client.Stdout();
  EXPECT_EQ(client.Stdout().find("< CONNECTION FAILED"), std::string::npos);
  EXPECT_EQ(lines, 0);
}

TEST(TLSOptions, WrongNameUnknownCAAndExpiredAreRefused) {
  const TestPki& pki = TestPki::Get();
  ExpectRefused(pki.WrongNameCert, "localhost", "HOSTNAME MISMATCH");
  ExpectRefused(pki.UnknownCACert, "localhost", "UNABLE TO GET LOCAL ISSUER CERTIFICATE");
  ExpectRefused(pki.ExpiredCert, "127.0.0.1", "CERTIFICATE HAS EXPIRED");
}

TEST(TLSOptions, NoVerifyWarnsOnceAndTakesAnyPeer) {
  std::atomic<int> lines{0};
  TlsServer server(Welcome(lines), {TestPki::Get().UnknownCACert});
  const ProcessResult run = RunClient({"-NoVerify", "-SP", std::to_string(server.Port())}, "q hello\n");
  EXPECT_EQ(run.Stdout, Session("\n\n< SETTING PORT\n< PORT SET\n\n< WARNING: TLS PEERS ARE NOT VERIFIED\n",
                                {"< QUOTING COMMAND\n" + Established +
                                 "NOT VERIFIED\nWELCOME HELLO\n"
                                 "< COMMAND QUOTED\n"}));
}

TEST(TLSOptions, APlaintextServerIsATLSFailure) {
  LoopbackServer plaintext(ServerScript().Send("220 plain\r\n").Silence(5s));
  ChildProcess client(QOR_CLIENT_PATH, {"-TLS", "-SP", std::to_string(plaintext.Port())});
  client.Write("q hello\n");
  EXPECT_TRUE(client.WaitForStdout("< TLS FAILED: TLS HANDSHAKE FAILED: ", 10s)) << client.Stdout();
}

}  // namespace
}  // namespace qor::test
