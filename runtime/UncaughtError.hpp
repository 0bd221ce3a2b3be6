#pragma once

#include <functional>

namespace qor {

// The program's entry point, called by main. It does the start-up actions (descriptor 2 opened on
// /dev/null when it is closed, so that no socket can take its number; the locale from the
// environment; SIGPIPE ignored), then runs ABlock and returns 0 when ABlock returns.
//
// An error that escapes ABlock ends the process: a failure of the C++ runtime first becomes the
// runtime's own kind (EOutOfMemory for std::bad_alloc, ELibraryError for another std::exception, an
// Exception with an empty message for anything else). The report
//   "Exception <class> in module <module> at <address>.\n<message><full stop>\n"
// (cut to 1023 characters) is written with one write to descriptor 2, and the process leaves through
// std::exit(1), so exit handlers and static destructors still run. The module is the file, without
// its directory, that holds the raise address; the address is eight upper-case hexadecimal digits:
// its offset in that module on a 64-bit build, the address itself on a 32-bit one. The full stop is
// added to a message that is not empty and does not end with one.
int RunProgram(const std::function<void()>& ABlock);

}  // namespace qor
