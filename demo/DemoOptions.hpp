// The command line of the demo line server.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qor::demo {

struct TDemoOptions {
  int32_t Port = 15937;  // 0 takes a free port
  bool Replies = false;  // numeric replies instead of plain lines
  bool Help = false;     // show the usage text and end
  bool Ipv6 = false;     // listen on ::1 instead of 127.0.0.1
  bool Tls = false;      // speak TLS from the first byte
  std::string CertFile;  // with KeyFile: the TLS certificate to use; else one is made at start
  std::string KeyFile;
};

// The usage text, ending in a line feed.
extern const char DemoUsage[];

// Reads the arguments after the program's name into VOptions. Returns what is wrong with them, empty
// when nothing is.
std::string ParseDemoOptions(const std::vector<std::string>& AArgs, TDemoOptions& VOptions);

}  // namespace qor::demo
