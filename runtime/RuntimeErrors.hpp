#pragma once

#include "qorclnt/runtime/Exception.hpp"

namespace qor {

// Error kinds of the runtime support itself.
QOR_ERROR_KIND(EConvertError, Exception);  // a text that is not a number, a bad format
QOR_ERROR_KIND(EOutOfMemory, Exception);   // std::bad_alloc
QOR_ERROR_KIND(EInOutError, Exception);    // console read or write failed
QOR_ERROR_KIND(EListError, Exception);     // list index out of bounds
QOR_ERROR_KIND(ELibraryError, Exception);  // any other failure of the C++ library, with its what()

// Raises EInOutError with the system's text for the error number AErrno: a read or write of a
// console or a file failed.
[[noreturn]] void RaiseInOutError(int AErrno);

// Raises EOutOfMemory with the runtime's text: a block of memory could not be had.
[[noreturn]] void RaiseOutOfMemory();

}  // namespace qor
