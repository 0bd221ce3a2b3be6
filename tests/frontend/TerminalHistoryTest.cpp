// The client at a terminal keeps the lines typed in a history file across runs.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "frontend/AtTerminal.hpp"
#include "frontend/Transcript.hpp"
#include "support/FreePort.hpp"

namespace qor::test::terminal {
namespace {

std::string ReadFile(const std::string& APath) {
  std::ifstream file(APath, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Types ALines, each followed by Enter and the prompt after its command, then ends with EXIT and
// ENTER.
void TypeAndExit(TerminalProcess& AClient, const std::vector<std::string>& ALines) {
  for (const std::string& line : ALines) {
    AClient.Type(line + Enter);
    ASSERT_TRUE(AtPrompt(AClient, NextPrompt, 10s)) << AClient.Output();
  }
  AClient.Type(std::string("Exit") + Enter);
  ASSERT_TRUE(AClient.WaitForOutput(Closing, 10s)) << AClient.Output();
  AClient.Type(Enter);
  ASSERT_TRUE(AClient.WaitForEnd(10s));
  EXPECT_EQ(AClient.ExitCode(), 0);
}

TEST_F(AtTerminal, TheHistoryFileIsPrivateKeepsLinesAsTypedAndIsReadAtTheNextStart) {
  {
    const RefusingPort refusing;
    auto client = Start({"-SP", std::to_string(refusing.Port())});
    // A discarded line is not kept, nor is a blank one (sent, and cancelled in the retry loop), nor
    // a repeat of the line before.
    client->Type(std::string("q never") + CtrlC);
    ASSERT_TRUE(AtPrompt(*client, "q never\r\n" + NextPrompt, 10s)) << client->Output();
    client->Type(std::string("  ") + Enter);
    ASSERT_TRUE(client->WaitForOutput("< CONNECTION FAILED\r\n", 10s)) << client->Output();
    client->Type(CtrlC);
    ASSERT_TRUE(AtPrompt(*client, "< COMMAND CANCELLED\r\n" + NextPrompt, 10s)) << client->Output();
    TypeAndExit(*client, {"help", "sh 127.0.0.1", "sh 127.0.0.1", "Help"});
  }
  struct stat info {};
  ASSERT_EQ(::stat(HistoryPath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(ReadFile(HistoryPath()), "help\nsh 127.0.0.1\nHelp\nExit\n");

  // The next run starts with those lines: Up three times goes back past Exit and Help.
  auto client = Start({});
  client->Type(std::string(Up) + Up + Up + Enter);
  ASSERT_TRUE(AtPrompt(*client, "sh 127.0.0.1\r\n< SETTING HOST\r\n< HOST SET\r\n" + NextPrompt, 10s))
      << client->Output();
  EndWithCtrlD(*client);
}

TEST_F(AtTerminal, TheHistoryFileKeepsTheLastThousandLines) {
  std::string lines;
  for (int i = 1; i <= 1005; ++i) lines += "line " + std::to_string(i) + "\n";
  FHome.WriteFile(".qorclnt_history", lines);
  auto client = Start({});
  TypeAndExit(*client, {"help"});
  std::string expected;
  for (int i = 8; i <= 1005; ++i) expected += "line " + std::to_string(i) + "\n";
  EXPECT_EQ(ReadFile(HistoryPath()), expected + "help\nExit\n");
}

TEST_F(AtTerminal, TheVariableNamesAnotherFileAndAnEmptyValueKeepsNone) {
  const std::string other = (FHome.Path() / "other history").string();
  {
    auto client = Start({}, {"QORCLNT_HISTFILE=" + other});
    TypeAndExit(*client, {"help"});
  }
  EXPECT_EQ(ReadFile(other), "help\nExit\n");
  EXPECT_FALSE(std::filesystem::exists(HistoryPath()));

  std::filesystem::remove(other);
  auto client = Start({}, {"QORCLNT_HISTFILE="});
  TypeAndExit(*client, {"help"});
  EXPECT_TRUE(std::filesystem::is_empty(FHome.Path()));
}

// A history file that cannot be read or written costs nothing but the history: the run is the same.
TEST_F(AtTerminal, AHistoryFileThatCannotBeUsedIsPassedOverSilently) {
  const std::string folder = (FHome.Path() / "a folder").string();
  std::filesystem::create_directory(folder);
  auto client = Start({}, {"QORCLNT_HISTFILE=" + folder});
  EXPECT_EQ(client->Output(), FirstPrompt);
  TypeAndExit(*client, {"help"});
  std::string help;
  for (const char c : transcript::Help) help += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(client->Output(), FirstPrompt + "help\r\n" + help + NextPrompt + "Exit\r\n" + Closing + "\r\n");
  EXPECT_EQ(std::filesystem::directory_iterator(FHome.Path())->path(), folder);
}

// From a pipe the client keeps no history and the transcript is the plain one.
TEST_F(AtTerminal, APipedRunKeepsNoHistory) {
  ProcessOptions options;
  options.Environment = {"HOME=" + FHome.Path().string()};
  const ProcessResult run = RunProcess(QOR_CLIENT_PATH, {}, "help\n", options);
  EXPECT_EQ(run.Stdout, transcript::Session("", {transcript::Help}));
  EXPECT_TRUE(std::filesystem::is_empty(FHome.Path()));
}

}  // namespace
}  // namespace qor::test::terminal
