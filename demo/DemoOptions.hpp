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
};

// The usage text, ending in a line feed.
extern const char DemoUsage[];

// Reads the arguments after the program's name into VOptions. Returns what is wrong with them, empty
// when nothing is.
std::string ParseDemoOptions(const std::vector<std::string>& AArgs, TDemoOptions& VOptions);

}  // namespace qor::demo
