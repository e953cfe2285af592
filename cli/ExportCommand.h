#pragma once

#include "cli/Arguments.h"

namespace velloran::cli {

// velloran-cli export FILE --to FORMAT and velloran-cli import FILE -o BOOK.vlp.
int ExportCommand(const Arguments& a);
int ImportCommand(const Arguments& a);

}  // namespace velloran::cli
