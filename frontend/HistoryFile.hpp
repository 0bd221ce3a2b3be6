#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The file that keeps the lines typed at a terminal from one run to the next: plain text, one line
// as typed a line, oldest first. History is a convenience, so a file that cannot be read or written
// is passed over without a word.
namespace qor::frontend {

// The most lines kept, in the file and for recall.
inline constexpr size_t MaxHistoryLines = 1000;

// QORCLNT_HISTFILE when it is set (an empty value: no file), else .qorclnt_history in the home
// folder; empty when no file is kept.
std::string HistoryFilePath();

// The last AMax lines of the file at APath; none when it is not a regular file that can be read.
std::vector<std::string> ReadHistoryFile(const std::string& APath, size_t AMax);

// Replaces the file's contents with ALines. A file made here is readable and writable by its owner
// alone (mode 0600); an existing file keeps its mode.
void WriteHistoryFile(const std::string& APath, const std::vector<std::string>& ALines);

}  // namespace qor::frontend
