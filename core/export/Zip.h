#pragma once

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/storage/FileIO.h"

// ZIP containers (DOCX, ODT, EPUB) through libzip, built in memory and then handed to a file
// written as saves are written.
namespace velloran {

// Appends the next piece of an entry's bytes to out; false once the entry is complete (out may
// still have been given its last piece).
using ZipProducer = std::function<bool(std::string& out)>;

class ZipBuilder {
  public:
    ZipBuilder();
    ~ZipBuilder();
    ZipBuilder(const ZipBuilder&) = delete;
    ZipBuilder& operator=(const ZipBuilder&) = delete;

    // An entry kept as it is, not compressed: the "mimetype" that must come first.
    void AddStored(const std::string& name, std::string bytes);
    void Add(const std::string& name, std::string bytes);
    // An entry whose bytes are made only while the archive is written, piece by piece.
    void AddProduced(const std::string& name, ZipProducer produce);
    // Writes the archive and copies it to out. An exception from a producer comes out here.
    void Finish(OutputFile& out);

    struct Stream;

  private:
    void AddSource(const std::string& name, void* source, bool stored);
    void* archive_ = nullptr;
    void* buffer_ = nullptr;  // the source the archive is written into
    std::deque<std::string> kept_;
    std::deque<std::unique_ptr<Stream>> streams_;
    std::exception_ptr failure_;
};

}  // namespace velloran
