#include "DemoOptions.hpp"

#include <algorithm>
#include <string_view>

namespace qor::demo {

const char DemoUsage[] =
    "usage: qordemod [OPTION]... [PORT [replies]]\n"
    "A small line server to try qorclnt with. It listens on 127.0.0.1, port PORT (15937 unless given;\n"
    "0 takes a free one), writes the port it listens on as its first line, and answers every line\n"
    "with \"OK <line>\" and a blank line; QUIT is answered with BYE and closes the connection.\n"
    "With \"replies\" it speaks in numeric replies instead: a 220 greeting, then HELO name, HELP,\n"
    "DATA count and QUIT.\n"
    "\n"
    "  -6, --ipv6         listen on ::1 instead of 127.0.0.1\n"
    "      --tls          speak TLS from the first byte; without --cert and --key it makes a\n"
    "                     certificate for localhost, 127.0.0.1 and ::1 and names its file on its\n"
    "                     second line (qorclnt -TLS -CAFILE FILE trusts it)\n"
    "      --cert FILE    with --tls: the certificate (PEM) to present\n"
    "      --key FILE     with --tls: its private key (PEM)\n"
    "  -h, --help         show this text and exit\n";

namespace {

// One option: its names, whether a value follows it ("--name VALUE" or "--name=VALUE"), and what it
// sets; Apply returns what is wrong with the value, empty when nothing is.
struct TOption {
  std::string_view Long;
  std::string_view Short;
  bool TakesValue;
  std::string (*Apply)(TDemoOptions& VOptions, const std::string& AValue);
};

const TOption Options[] = {
    {"--help", "-h", false,
     [](TDemoOptions& VOptions, const std::string&) {
       VOptions.Help = true;
       return std::string();
     }},
    {"--ipv6", "-6", false,
     [](TDemoOptions& VOptions, const std::string&) {
       VOptions.Ipv6 = true;
       return std::string();
     }},
    {"--tls", "", false,
     [](TDemoOptions& VOptions, const std::string&) {
       VOptions.Tls = true;
       return std::string();
     }},
    {"--cert", "", true,
     [](TDemoOptions& VOptions, const std::string& AValue) {
       VOptions.CertFile = AValue;
       return std::string();
     }},
    {"--key", "", true,
     [](TDemoOptions& VOptions, const std::string& AValue) {
       VOptions.KeyFile = AValue;
       return std::string();
     }},
};

// A port number: decimal digits only, 0 to 65535.
bool ParsePort(const std::string& AText, int32_t& VPort) {
  if (AText.empty() || AText.size() > 5 ||
      !std::all_of(AText.begin(), AText.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const int32_t port = std::stoi(AText);
  if (port > 65535) return false;
  VPort = port;
  return true;
}

// Applies the option at AArgs[VIndex], taking its value from the next argument when it needs one.
std::string ApplyOption(const std::vector<std::string>& AArgs, size_t& VIndex, TDemoOptions& VOptions) {
  const std::string& arg = AArgs[VIndex];
  const size_t equals = arg.find('=');
  const std::string_view name = std::string_view(arg).substr(0, equals);
  for (const TOption& option : Options) {
    if (name != option.Long && name != option.Short) continue;
    if (!option.TakesValue) {
      if (equals != std::string::npos) return "option " + std::string(name) + " takes no value";
      return option.Apply(VOptions, {});
    }
    if (equals != std::string::npos) return option.Apply(VOptions, arg.substr(equals + 1));
    if (VIndex + 1 == AArgs.size()) return "option " + arg + " needs a value";
    return option.Apply(VOptions, AArgs[++VIndex]);
  }
  return "unknown option " + arg;
}

}  // namespace

std::string ParseDemoOptions(const std::vector<std::string>& AArgs, TDemoOptions& VOptions) {
  size_t positional = 0;
  for (size_t i = 0; i < AArgs.size(); ++i) {
    const std::string& arg = AArgs[i];
    if (arg.size() > 1 && arg[0] == '-') {
      std::string failure = ApplyOption(AArgs, i, VOptions);
      if (!failure.empty()) return failure;
    } else if (positional == 0) {
      if (!ParsePort(arg, VOptions.Port)) return "bad port " + arg + " (a number from 0 to 65535)";
      ++positional;
    } else if (positional == 1 && arg == "replies") {
      VOptions.Replies = true;
      ++positional;
    } else {
      return "unexpected argument " + arg;
    }
  }
  if (VOptions.CertFile.empty() != VOptions.KeyFile.empty()) return "--cert and --key go together";
  if (!VOptions.CertFile.empty() && !VOptions.Tls) return "--cert and --key need --tls";
  return {};
}

}  // namespace qor::demo
