#include "qorclnt/runtime/Console.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "support/Posix.hpp"
#include "support/UniqueFd.hpp"

namespace qor::test {
namespace {

// Standard input replaced by the read end of a pipe for the life of the object.
class PipedStdin {
 public:
  PipedStdin() {
    int ends[2];
    if (::pipe(ends) != 0) ThrowSystemError("pipe");
    FWriter.Reset(ends[1]);
    const UniqueFd reader(ends[0]);
    if (::dup2(reader.Get(), STDIN_FILENO) < 0) ThrowSystemError("dup2");
  }
  ~PipedStdin() { ::dup2(FSaved.Get(), STDIN_FILENO); }

  UniqueFd& Writer() { return FWriter; }

 private:
  UniqueFd FSaved{::dup(STDIN_FILENO)};
  UniqueFd FWriter;
};

TEST(ConsoleReadLine, ReadsLinesSplitAnyhowAcrossReadsUntilTheEndOfInput) {
  PipedStdin input;
  const std::string longLine(150000, 'x');  // longer than one read of standard input
  std::thread writer([&input, &longLine] {
    for (const std::string& piece : {std::string("al"), std::string("pha\r"), std::string("\n\nbe"),
                                     std::string("ta\r\r\n") + longLine + "\r\n", std::string("last")}) {
      if (::write(input.Writer().Get(), piece.data(), piece.size()) != static_cast<ssize_t>(piece.size()))
        break;
      std::this_thread::yield();
    }
    input.Writer().Reset();  // the end of input
  });
  std::vector<std::string> lines;
  for (std::string line; ConsoleReadLine(line);) lines.push_back(line);
  writer.join();
  // One CR before the LF is dropped; a last line without LF is still a line.
  EXPECT_EQ(lines, (std::vector<std::string>{"alpha", "", "beta\r", longLine, "last"}));
  std::string line = "unchanged";
  EXPECT_FALSE(ConsoleReadLine(line));
}

}  // namespace
}  // namespace qor::test
