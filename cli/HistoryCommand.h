#pragma once

#include <string>
#include <string_view>

#include "cli/Arguments.h"
#include "core/document/DocumentBuffer.h"
#include "core/protection/Protection.h"

namespace velloran::cli {

// velloran-cli history FILE: lists the versions kept, shows one, compares two or keeps one.
int History(const Arguments& args);

// Keeps text, the whole document that a command wrote at path, as a version in its history,
// sealed as key says, when the editor would open path so (a plain name for a plain key); a
// reason it could not is said on standard error, the command going on.
void KeepWrittenVersion(const std::string& path, const SideKey& key, std::string_view text);
void KeepWrittenVersion(const std::string& path, const SideKey& key, const DocumentBuffer& lines);

}  // namespace velloran::cli
