#pragma once

#include <string>

#include "cli/Arguments.h"

namespace velloran::cli {

// The key from where the arguments say: typed on the terminal without echo (twice when
// confirm is set, so that a typing slip cannot lock a document away), or the first line of a
// file descriptor or of a key file that no other user may read. With --utf8 the key is taken
// as UTF-8 and becomes the bytes the editor's key field would give. Throws UsageError when no
// key can be asked for or the key file is open to others, velloran::Error when it cannot be
// read.
std::string ReadKey(const Arguments& args, bool confirm);

}  // namespace velloran::cli
