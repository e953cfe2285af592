// velloran-speller: Hunspell in a process of its own, started by the editor and velloran-cli
// with a dictionary's two files and a socket as standard input, so that a dictionary that makes
// Hunspell crash costs this process and never the writer's text.

#include <cstdio>

#include "core/spelling/SpellerServer.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr,
                     "velloran-speller: the editor's spelling helper, started by the editor with "
                     "a dictionary's .aff and .dic\n");
        return 2;
    }
    return velloran::spelling::ServeSpeller(0, argv[1], argv[2]);
}
