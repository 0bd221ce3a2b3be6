#pragma once

#include <string>
#include <string_view>

namespace qor {

// The console owns standard input and output. Lines end with LF alone, and everything written is
// handed to the system at once (one write a line). A failed read or write raises EInOutError with
// the system's text.

// Reads one line from standard input without its line end (LF, or CR LF). A last line without a line
// end is still a line. False at the end of input.
bool ConsoleReadLine(std::string& ALine);

// Writes AText followed by LF.
void ConsoleWriteLine(std::string_view AText);

// Writes AText as it is (the prompt).
void ConsoleWrite(std::string_view AText);

}  // namespace qor
