#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "support/ProcessRunner.hpp"

// Pieces of the console dialogue, for comparing whole transcripts byte for byte.
namespace qor::test::transcript {

inline const std::string Banner = "RURovoduv 0.3b\n(tarvelKIT)\n\n< STARTING EXECUTION\n";
inline const std::string Started = "< EXECUTION STARTED\n";
inline const std::string Prompt = "\n> ";
inline const std::string Stopping = "< STOPPING EXECUTION\n";
inline const std::string Stopped = "< EXECUTION STOPPED\n\n(Press ENTER to Proceed.)";
inline const std::string Help =
    "< SHOWING HELP\n"
    "EXIT       : EXIT | E\n"
    "SHOW HELP  : HELP | H\n"
    "QUOTE      : QUOTE | Q <command>\n"
    "SET HOST   : SETHOST | SH <host>\n"
    "SET PORT   : SETPORT | SP <number>\n"
    "SET TIMEOUT: SETTIMEOUT | ST <number>\n"
    "< HELP SHOWN\n";
inline const std::string ParameterHelp =
    "< SHOWING HELP\n"
    "SHOW HELP  : -HELP | -H | -?\n"
    "SET HOST   : -SETHOST | -SHOST | -SH <host>\n"
    "SET PORT   : -SETPORT | -SPORT | -SP <number>\n"
    "SET TIMEOUT: -SETTIMEOUT | -STIMEOUT | -ST <number>\n"
    "< HELP SHOWN\n";

// The whole transcript of a run whose parameters wrote AParameterLines and whose prompts each
// produced one entry of AAnswers, ended by the end of standard input.
inline std::string Session(const std::string& AParameterLines, const std::vector<std::string>& AAnswers) {
  std::string text = Banner + AParameterLines + Started;
  for (const std::string& answer : AAnswers) text += Prompt + answer;
  return text + Prompt + Stopping + Stopped;
}

// Runs the built client with AArgs and AInput (then the end of input) and a hard time limit.
inline ProcessResult RunClient(const std::vector<std::string>& AArgs, std::string_view AInput,
                               std::chrono::milliseconds ALimit = std::chrono::seconds(30)) {
  ProcessOptions options;
  options.TimeLimit = ALimit;
  return RunProcess(QOR_CLIENT_PATH, AArgs, AInput, options);
}

}  // namespace qor::test::transcript
