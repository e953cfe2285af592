#include "core/storage/Paths.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "core/storage/FileIO.h"

namespace velloran {

std::string AbsolutePath(const std::string& path) {
    std::string absolute = path;
    if (path.empty() || path[0] != '/') {
        char here[PATH_MAX];
        absolute = std::string(::getcwd(here, sizeof here) ? here : "") + "/" + path;
    }
    std::string folder = FolderPart(absolute);
    char resolved[PATH_MAX];
    if (::realpath(folder.c_str(), resolved)) {
        folder = resolved;
        return (folder == "/" ? folder : folder + "/") + FileNamePart(absolute);
    }
    return absolute;
}

}  // namespace velloran
