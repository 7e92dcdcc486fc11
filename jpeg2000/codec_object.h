// What every codec object of the JPEG2000 engine shares. An object is created by a create function
// of no arguments, is configured by `initialize` (as a rule from the `command_line`), describes its
// options with `get_usage`, works, and is finished by `terminate`, in that slot order. Objects are
// C++ classes here: `terminate` finishes the work and releases what the object holds, and the
// owner's std::unique_ptr frees the object itself, also when a run aborts on the way.
#pragma once

namespace zn::j2k {

// Pairs of (option syntax, description), ended by a null pointer. No table is a null pointer.
using usage_table = const char *const *;

// Memory keys: texts handed to local_malloc that name a block's owner.
inline constexpr const char kCommandLineMemory[] = "COMMAND-LINE OBJECT MEMORY";
inline constexpr const char kStreamMemory[] = "STREAM IN/OUT OBJECT MEMORY";
inline constexpr const char kCodewordMemory[] = "COMPRESSED CODEWORD MEMORY";
inline constexpr const char kCodingMemory[] = "CODING OBJECT MEMORY (we can eliminate most of this)";

} // namespace zn::j2k
