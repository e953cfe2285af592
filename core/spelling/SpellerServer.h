#pragma once

namespace velloran::spelling {

// The spelling helper's side: opens the dictionary aff/dic with Hunspell and answers requests on
// the socket fd until the editor closes its end. Whatever a malformed dictionary does to Hunspell
// here costs this process only. Returns the helper's exit status.
int ServeSpeller(int fd, const char* aff, const char* dic);

}  // namespace velloran::spelling
