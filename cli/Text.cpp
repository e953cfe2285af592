#include "cli/Text.h"

#include <cstdio>

#include "cli/Arguments.h"
#include "core/document/Codepage.h"

namespace velloran::cli {

std::string TextForm::Out(std::string_view documentText) const {
    return Converts() ? codepage::ToUtf8(documentText) : std::string(documentText);
}

std::string TextForm::In(std::string_view given, std::string_view what) const {
    if ((utf8_ || encoding_ == Encoding::Utf8) && !IsUtf8(given)) {
        throw UsageError(std::string(what) + " is not valid UTF-8");
    }
    if (!Converts()) {
        return std::string(given);
    }
    bool replaced = false;
    std::string bytes = codepage::FromUtf8(given, &replaced).value();
    if (replaced) {
        std::fprintf(stderr,
                     "velloran-cli: %.*s holds characters that Windows-1252 cannot hold; each "
                     "was taken as \"?\", as the editor takes it\n",
                     static_cast<int>(what.size()), what.data());
    }
    return bytes;
}

std::string TextForm::ForJson(std::string_view documentText) const {
    return encoding_ == Encoding::Utf8 ? std::string(documentText) : codepage::ToUtf8(documentText);
}

}  // namespace velloran::cli
