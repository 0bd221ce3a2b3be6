#pragma once

// Every message text of the runtime support, stored once.
namespace qor {

// Copying an object into one of a class that cannot take it
inline constexpr char RSAssignError[] = "Cannot assign a %s to a %s";
// A failed allocation
inline constexpr char RSOutOfMemory[] = "Out of memory";
// A text that is not a number
inline constexpr char RSInvalidInteger[] = "'%s' is not a valid integer value";
// A format that does not fit its arguments
inline constexpr char RSInvalidFormat[] = "Format '%s' invalid or incompatible with argument";
// An index past the end of a list
inline constexpr char RSListIndexError[] = "List index out of bounds (%d)";

}  // namespace qor
