#pragma once

#include <stdexcept>

#include "cli/Arguments.h"
#include "core/document/Host.h"

namespace velloran::cli {

// A command refused for what the document holds, such as a key that cannot encipher it.
class Refusal : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Carries out a complete command line; returns the exit status, 0, or 1 when check finds that
// a save would change the document. Throws UsageError, Refusal and velloran::Error.
int Run(const Arguments& args);

// The document's bytes into the buffer as the editor reads them: unsealed when it is named as
// sealed, deciphered when it is named as enciphered and a key is given; not yet split.
void ReadForCommand(const Arguments& a, const std::string& path, PlainSession& p);

}  // namespace velloran::cli
