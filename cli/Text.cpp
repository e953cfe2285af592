#include "cli/Text.h"

#include <cstdio>

#include "cli/Arguments.h"
#include "core/Codepage.h"

namespace velloran::cli {

std::string TextForm::Out(std::string_view documentText) const {
    return utf8_ ? codepage::ToUtf8(documentText) : std::string(documentText);
}

std::string TextForm::In(std::string_view given, std::string_view what) const {
    if (!utf8_) {
        return std::string(given);
    }
    bool replaced = false;
    auto bytes = codepage::FromUtf8(given, &replaced);
    if (!bytes) {
        throw UsageError(std::string(what) + " is not valid UTF-8");
    }
    if (replaced) {
        std::fprintf(stderr,
                     "velloran-cli: %.*s holds characters that Windows-1252 cannot hold; each "
                     "was taken as \"?\", as the editor takes it\n",
                     static_cast<int>(what.size()), what.data());
    }
    return std::move(*bytes);
}

std::string TextForm::ForJson(std::string_view documentText) {
    return codepage::ToUtf8(documentText);
}

}  // namespace velloran::cli
