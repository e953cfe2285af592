#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "State.h"

namespace velloran {

// Buffered writes to an open file descriptor; the first failure sticks.
class OutputFile {
  public:
    explicit OutputFile(int fd) : fd_(fd) {}
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(std::string_view bytes);
    // Writes out what is buffered; false when any write so far failed.
    bool Flush();
    bool Ok() const { return ok_; }

  private:
    void WriteOut(std::string_view bytes);
    int fd_;
    bool ok_ = true;
    std::string pending_;
};

// Replaces path with what produce writes, through a temporary file in the same folder that is
// flushed to disk and then renamed over the target, so that the old file stays whole until the
// new one is complete. A symbolic link is written through to its file; an existing target keeps
// its permissions. False on any failure, with the old file untouched and no temporary file left.
bool ReplaceFile(const std::string& path, const std::function<void(OutputFile&)>& produce);

// The file at the end of a chain of symbolic links (path itself when it is none).
std::string ResolveLinks(const std::string& path);

// Whole contents of a regular file, or nothing when it cannot be opened or read or holds more
// than maxBytes.
std::optional<std::string> ReadWholeFile(const std::string& path,
                                         std::size_t maxBytes = static_cast<std::size_t>(-1));

// The identity of the file at path (through symbolic links), or nothing when there is none.
std::optional<FileIdentity> IdentityOf(const std::string& path);

bool FileExists(const std::string& path);
// Exists and is not a folder: a folder named as a document counts as no document.
bool IsExistingFile(const std::string& path);
bool IsRegularFile(const std::string& path);
// Creates one folder level; false when it could not be created (also when it exists).
bool MakeDirectory(const std::string& path);

// "dir/name" -> "dir"; "/name" -> "/"; "name" -> "".
std::string FolderPart(std::string_view path);
// "dir/name" -> "name".
std::string FileNamePart(std::string_view path);

}  // namespace velloran
