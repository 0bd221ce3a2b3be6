#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/ProxyDaemon.hpp"
#include "support/TerminalProcess.hpp"

// Runs of the client at a terminal of the test's own, with a home folder of their own.
namespace qor::test::terminal {

using namespace std::chrono_literals;

// Keys as a terminal sends them.
inline constexpr char Enter[] = "\r";
inline constexpr char CtrlC[] = "\x03";
inline constexpr char CtrlD[] = "\x04";
inline constexpr char Up[] = "\x1b[A";
inline constexpr char Left[] = "\x1b[D";
inline constexpr char Home[] = "\x1b[H";
inline constexpr char End[] = "\x1b[F";

// The screen up to the first prompt: the plain dialogue, with the terminal's CR before each LF.
inline const std::string FirstPrompt =
    "RURovoduv 0.3b\r\n(tarvelKIT)\r\n\r\n< STARTING EXECUTION\r\n< EXECUTION STARTED\r\n\r\n> ";
// A fresh prompt after a whole line: a blank line, then "> ".
inline const std::string NextPrompt = "\r\n> ";
inline const std::string Closing =
    "< STOPPING EXECUTION\r\n< EXECUTION STOPPED\r\n\r\n(Press ENTER to Proceed.)";

// Waits until AText (ending with a prompt) is on the screen and the editor has the terminal in its
// own mode: the editor shows the prompt just before it takes the terminal, and keys typed in
// between would meet the terminal's line mode.
inline bool AtPrompt(TerminalProcess& AClient, const std::string& AText, std::chrono::milliseconds ATimeout) {
  if (!AClient.WaitForOutput(AText, ATimeout)) return false;
  for (const auto end = std::chrono::steady_clock::now() + ATimeout;
       std::chrono::steady_clock::now() < end;) {
    if (AClient.Settings() != AClient.InitialSettings()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return false;
}

class AtTerminal : public ::testing::Test {
 protected:
  // Starts the client with AArgs, HOME set to the test's folder, and AEnvironment; waits for the
  // first prompt.
  std::unique_ptr<TerminalProcess> Start(const std::vector<std::string>& AArgs,
                                         std::vector<std::string> AEnvironment = {}) {
    AEnvironment.insert(AEnvironment.begin(), "HOME=" + FHome.Path().string());
    auto client = std::make_unique<TerminalProcess>(QOR_CLIENT_PATH, AArgs, AEnvironment);
    EXPECT_TRUE(AtPrompt(*client, "\r\n> ", 10s)) << client->Output();
    return client;
  }

  // Ends the run with Ctrl-D at the prompt and checks that it ended normally. Wait with AtPrompt
  // first: a Ctrl-D typed while a command runs meets the terminal's own line mode, not the editor.
  static void EndWithCtrlD(TerminalProcess& AClient) {
    AClient.Type(CtrlD);
    ASSERT_TRUE(AClient.WaitForEnd(10s)) << AClient.Output();
    EXPECT_EQ(AClient.ExitCode(), 0) << AClient.Output();
  }

  std::string HistoryPath() const { return (FHome.Path() / ".qorclnt_history").string(); }

  TempDir FHome;
};

}  // namespace qor::test::terminal
