#include <cstdio>
#include <exception>
#include <span>
#include <string>

#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "core/document/Error.h"
#include "core/document/State.h"
#include "core/protection/Protection.h"
#include "core/storage/InPlaceWrite.h"

#ifndef VELLORAN_VERSION
#error "VELLORAN_VERSION must name the project's version"
#endif

namespace {

int Fail(int status, const char* message, bool suggestHelp = false) {
    std::fprintf(stderr, "velloran-cli: %s\n", message);
    if (suggestHelp) {
        std::fputs("Try 'velloran-cli --help' for more information.\n", stderr);
    }
    return status;
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace velloran::cli;
    Arguments args;
    try {
        args = ParseArguments(
            std::span<const char* const>(argv + 1, static_cast<std::size_t>(argc - 1)));
    } catch (const UsageError& e) {
        return Fail(2, e.what(), true);
    }
    if (args.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (args.version) {
        std::printf("velloran-cli (Velloran Editor) %s\n", VELLORAN_VERSION);
        return 0;
    }
    // As the editor does at start, before any file is read: a save that was killed while it
    // wrote a file over itself left the file's old bytes aside, to be put back.
    for (const auto& write : velloran::RestoreInterruptedWrites()) {
        std::fprintf(stderr, "velloran-cli: %s\n",
                     velloran::DescribeInterruptedWrite(write).c_str());
    }
    int status;
    try {
        status = Run(args);
    } catch (const UsageError& e) {
        status = Fail(2, e.what());
    } catch (const Refusal& e) {
        status = Fail(1, e.what());
    } catch (const velloran::Error& e) {
        const std::string why = e.detail().empty() ? e.what() : e.what() + (": " + e.detail());
        status = Fail(3, why.c_str());
    } catch (const std::exception& e) {
        status = Fail(3, e.what());
    }
    velloran::ForgetKeys(velloran::state());
    return status;
}
