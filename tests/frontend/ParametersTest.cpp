// The start of a run and the command-line parameters, through the built program.
#include <gtest/gtest.h>

#include "frontend/Transcript.hpp"

namespace qor::test {
namespace {

using namespace transcript;

TEST(Startup, BannerPromptAndEndOfInputEndTheRunAsExitWould) {
  const ProcessResult run = RunClient({}, "");
  EXPECT_EQ(run.Stdout, Banner + Started + "\n> " + Stopping + Stopped);
  EXPECT_EQ(run.Stderr, "");
  EXPECT_EQ(run.ExitCode, 0);
}

TEST(Parameters, EveryHelpFormShowsTheHelpAndEndsWithoutAPrompt) {
  for (const char* form : {"-HELP", "-help", "-H", "-?", "  -h\t"}) {
    const ProcessResult run = RunClient({form}, "");
    EXPECT_EQ(run.Stdout, Banner + ParameterHelp + "\n" + Stopped) << form;
    EXPECT_EQ(run.ExitCode, 0) << form;
  }
}

TEST(Parameters, SettingsAfterHelpAreStillApplied) {
  const ProcessResult run = RunClient({"-?", "-SP", "80"}, "");
  EXPECT_EQ(run.Stdout, Banner + ParameterHelp + "\n\n< SETTING PORT\n< PORT SET\n\n" + Stopped);
}

TEST(Parameters, ValuesAreCheckedByTheNumberRule) {
  const std::string portSet = "\n< SETTING PORT\n< PORT SET\n\n";
  const std::string portRefused = "\n< SETTING PORT\n< ERROR: PORT NOT SET SUCCESSFULLY\n\n";
  const std::string timeoutSet = "\n< SETTING TIMEOUT\n< TIMEOUT SET\n\n";
  const std::string timeoutRefused = "\n< SETTING TIMEOUT\n< ERROR: TIMEOUT NOT SET SUCCESSFULLY\n\n";
  const struct {
    std::vector<std::string> Args;
    std::string Lines;
  } cases[] = {
      {{"-SP", "8080", "-ST", "5000"}, portSet + timeoutSet},
      {{"-sport", "$50"}, portSet},
      {{"-SETPORT", "0x1F90"}, portSet},
      {{"-SP", "65536"}, portSet},
      {{"-SP", "0"}, portRefused},
      {{"-SP", "-1"}, portRefused},
      {{"-SP", "x"}, portRefused},
      {{"-SP", "$FFFFFFFF"}, portRefused},  // -1 in 32 bits
      {{"-SP", "4294967296"}, portRefused},
      {{"-ST", "2147483648"}, timeoutRefused},
      {{"-STIMEOUT", "2147483647"}, timeoutSet},
      {{"-SETTIMEOUT", ""}, timeoutRefused},
  };
  for (const auto& c : cases) {
    const ProcessResult run = RunClient(c.Args, "");
    EXPECT_EQ(run.Stdout, Session(c.Lines, {})) << c.Args[0] << " " << c.Args[1];
  }
}

TEST(Parameters, UnknownMissingAndOptionLikeValues) {
  const std::string unknown = "< UNKNOWN PARAMETER\n\n";
  const std::string hostSet = "\n< SETTING HOST\n< HOST SET\n\n";
  const struct {
    std::vector<std::string> Args;
    std::string Lines;
  } cases[] = {
      {{"-SP=80"}, unknown},
      {{"/?"}, unknown},
      {{"-SP"}, "\n"},                            // an option left without a value
      {{"-SH", "-SP", "80"}, hostSet + unknown},  // -SP is the host, 80 is unknown
      {{"-SHOST", "-?"}, hostSet},                // a value that looks like help is a value
      {{"extra", "-SETHOST", "localhost"}, unknown + hostSet},
  };
  for (const auto& c : cases) {
    const ProcessResult run = RunClient(c.Args, "");
    EXPECT_EQ(run.Stdout, Session(c.Lines, {})) << c.Args[0];
    EXPECT_EQ(run.ExitCode, 0);
  }
}

}  // namespace
}  // namespace qor::test
