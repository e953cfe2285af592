#pragma once

#include <string>

#include "cli/Arguments.h"

namespace velloran::cli {

// The key from where the arguments say, as the bytes given: typed on the terminal without echo
// (twice when confirm is set, so that a typing slip cannot lock a document away), or the first
// line of a file descriptor or of a key file of the user's own that no other user may read or
// change. Throws UsageError when no key can be asked for or the key file is open to others or
// another user's, velloran::Error when it cannot be read.
std::string ReadKey(const Arguments& args, bool confirm);

// The legacy cipher's key: with --utf8 taken as UTF-8 and made the bytes that the editor's key
// field would give.
std::string ReadCipherKey(const Arguments& args, bool confirm);

}  // namespace velloran::cli
