#pragma once

#include "cli/Arguments.h"

namespace velloran::cli {

// velloran-cli replace: every match in each FILE replaced and the document saved as the editor
// saves it, or with --dry-run the matches listed as the preview lists them.
int Replace(const Arguments& args);

}  // namespace velloran::cli
