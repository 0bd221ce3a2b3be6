// The client at a terminal: editing and recalling lines, and the keys that end or cancel.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "frontend/AtTerminal.hpp"
#include "support/FreePort.hpp"
#include "support/LoopbackServer.hpp"

namespace qor::test::terminal {
namespace {

using Clock = std::chrono::steady_clock;

// A server that answers every line with one reply line and the blank line that ends a reply.
ServerScript Answering(int ALines) {
  ServerScript script;
  for (int i = 1; i <= ALines; ++i) script.WaitFor("\r\n").Send("ANSWER " + std::to_string(i) + "\r\n\r\n");
  return script;
}

TEST_F(AtTerminal, TheScreenShowsThePlainDialogueAndUpRecallsAndSendsTheLineAgain) {
  LoopbackServer server(Answering(2));
  auto client = Start({});
  EXPECT_EQ(client->Output(), FirstPrompt);
  client->Type("sp " + std::to_string(server.Port()) + Enter);
  ASSERT_TRUE(AtPrompt(*client, "< PORT SET\r\n" + NextPrompt, 10s)) << client->Output();
  client->Type(std::string("quote hello") + Enter);
  ASSERT_TRUE(AtPrompt(
      *client, "quote hello\r\n< QUOTING COMMAND\r\nANSWER 1\r\n< COMMAND QUOTED\r\n" + NextPrompt, 10s))
      << client->Output();
  client->Type(std::string(Up) + Enter);
  ASSERT_TRUE(AtPrompt(
      *client, "quote hello\r\n< QUOTING COMMAND\r\nANSWER 2\r\n< COMMAND QUOTED\r\n" + NextPrompt, 10s))
      << client->Output();
  EXPECT_EQ(server.Received(), "HELLO\r\nHELLO\r\n");
  EndWithCtrlD(*client);
}

TEST_F(AtTerminal, EditingKeysChangeTheLineBeforeItIsSent) {
  LoopbackServer server(Answering(3));
  auto client = Start({"-SP", std::to_string(server.Port())});
  // Left, then a key typed there goes in before the last character.
  client->Type(std::string("AB") + Left + "X" + Enter);
  ASSERT_TRUE(AtPrompt(*client, "ANSWER 1\r\n" + NextPrompt, 10s)) << client->Output();
  // Home and End move to either end; Ctrl-W kills the word before the cursor.
  client->Type(std::string("ello wrd") + "\x17" + Home + "h" + End + "!" + Enter);
  ASSERT_TRUE(AtPrompt(*client, "ANSWER 2\r\n" + NextPrompt, 10s)) << client->Output();
  // Ctrl-U kills the whole line.
  client->Type(std::string("garbage") + "\x15" + "q fine" + Enter);
  ASSERT_TRUE(AtPrompt(*client, "ANSWER 3\r\n< COMMAND QUOTED\r\n" + NextPrompt, 10s)) << client->Output();
  EXPECT_EQ(server.Received(), "AXB\r\nHELLO !\r\nFINE\r\n");
  EndWithCtrlD(*client);
}

TEST_F(AtTerminal, CtrlCAtThePromptDiscardsTheLineAndShowsAFreshPrompt) {
  LoopbackServer server(Answering(1));
  auto client = Start({"-SP", std::to_string(server.Port())});
  client->Type(std::string("q discarded") + CtrlC);
  ASSERT_TRUE(AtPrompt(*client, "q discarded\r\n" + NextPrompt, 10s)) << client->Output();
  client->Type(std::string("q kept") + Enter);
  ASSERT_TRUE(AtPrompt(*client, "ANSWER 1\r\n< COMMAND QUOTED\r\n" + NextPrompt, 10s)) << client->Output();
  EXPECT_EQ(server.Received(), "KEPT\r\n");
  EXPECT_EQ(client->Output().find("CANCELLED"), std::string::npos);
  EndWithCtrlD(*client);
}

TEST_F(AtTerminal, CtrlCInTheRetryLoopCancelsTheCommandAndTheNextOneWorks) {
  const RefusingPort refusing;
  LoopbackServer server(Answering(1));
  auto client = Start({"-SP", std::to_string(refusing.Port())});
  client->Type(std::string("q lost") + Enter);
  ASSERT_TRUE(client->WaitForOutput("< CONNECTION FAILED\r\n< CONNECTION FAILED\r\n", 10s))
      << client->Output();
  const auto pressed = Clock::now();
  client->Type(CtrlC);
  ASSERT_TRUE(AtPrompt(*client, "< COMMAND CANCELLED\r\n" + NextPrompt, 5s)) << client->Output();
  EXPECT_LT(Clock::now() - pressed, 5s);
  EXPECT_EQ(client->Output().find("< COMMAND QUOTED"), std::string::npos);

  client->Type("sp " + std::to_string(server.Port()) + Enter + "q found" + Enter);
  ASSERT_TRUE(AtPrompt(*client, "< QUOTING COMMAND\r\nANSWER 1\r\n< COMMAND QUOTED\r\n" + NextPrompt, 10s))
      << client->Output();
  EXPECT_EQ(server.Received(), "FOUND\r\n");
  EndWithCtrlD(*client);
}

TEST_F(AtTerminal, CtrlCWhileAReplyIsAwaitedClosesTheConnection) {
  // The server takes the line and says nothing; the client would wait a minute for the reply.
  LoopbackServer server(std::vector<ServerScript>{ServerScript().WaitFor("\r\n"), Answering(1)});
  auto client = Start({"-SP", std::to_string(server.Port()), "-ST", "60000"});
  client->Type(std::string("q wait") + Enter);
  ASSERT_TRUE(server.WaitForReceived("WAIT\r\n", 10s));
  client->Type(CtrlC);
  ASSERT_TRUE(AtPrompt(*client, "< COMMAND CANCELLED\r\n" + NextPrompt, 5s)) << client->Output();
  EXPECT_TRUE(server.WaitForPeerClose(5s, 0));
  EXPECT_EQ(client->Output().find("< COMMAND QUOTED"), std::string::npos);

  // The next command connects anew.
  client->Type(std::string("q again") + Enter);
  ASSERT_TRUE(AtPrompt(*client, "ANSWER 1\r\n< COMMAND QUOTED\r\n" + NextPrompt, 10s)) << client->Output();
  EXPECT_EQ(server.Received(1), "AGAIN\r\n");
  EndWithCtrlD(*client);
}

TEST_F(AtTerminal, CtrlDEndsTheRunWithTheClosingLinesAndTheSettingsAsBefore) {
  LoopbackServer server(Answering(1));
  auto client = Start({"-SP", std::to_string(server.Port())});
  // Ctrl-D inside a line deletes the character under the cursor and leaves the run going.
  client->Type(std::string("abc") + Left + CtrlD + Enter);
  ASSERT_TRUE(AtPrompt(*client, "ANSWER 1\r\n" + NextPrompt, 10s)) << client->Output();
  EXPECT_EQ(server.Received(), "AB\r\n");
  EndWithCtrlD(*client);
  // Nothing is echoed for the end of input, and no ENTER is waited for after it, as with a pipe.
  const std::string output = client->Output();
  EXPECT_EQ(output.substr(output.size() - Closing.size() - 4), "\r\n> " + Closing);
  EXPECT_EQ(client->Settings(), client->InitialSettings());
}

TEST_F(AtTerminal, ExitLeavesTheSettingsAsBefore) {
  auto client = Start({});
  client->Type(std::string("exit") + Enter);
  ASSERT_TRUE(client->WaitForOutput("exit\r\n" + Closing, 10s)) << client->Output();
  client->Type(Enter);
  ASSERT_TRUE(client->WaitForEnd(10s));
  EXPECT_EQ(client->ExitCode(), 0);
  EXPECT_EQ(client->Settings(), client->InitialSettings());
}

// SIGTERM and SIGHUP end the run as they did, with the terminal put back even while a line is
// being edited (when the editor has the terminal in its own mode).
TEST_F(AtTerminal, TerminatingSignalsRestoreTheSettings) {
  for (const int signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    auto client = Start({});
    client->Type("half a line");
    ASSERT_TRUE(client->WaitForOutput("half a line", 10s));
    EXPECT_NE(client->Settings(), client->InitialSettings()) << "the editor's own mode";
    ::kill(client->Pid(), signal);
    ASSERT_TRUE(client->WaitForEnd(10s));
    EXPECT_EQ(client->Signal(), signal);
    EXPECT_EQ(client->Settings(), client->InitialSettings());
  }
}

}  // namespace
}  // namespace qor::test::terminal
