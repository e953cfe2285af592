#pragma once

#include <stdexcept>

#include "cli/Arguments.h"

namespace velloran::cli {

// A command refused for what the document holds, such as a key that cannot encipher it.
class Refusal : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Carries out a complete command line; returns the exit status, 0, or 1 when check finds that
// a save would change the document. Throws UsageError, Refusal and velloran::Error.
int Run(const Arguments& args);

}  // namespace velloran::cli
