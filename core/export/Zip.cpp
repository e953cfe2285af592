#include "core/export/Zip.h"

#include <zip.h>

#include "core/document/Error.h"

namespace velloran {
namespace {

zip_t* A(void* p) {
    return static_cast<zip_t*>(p);
}

Error ZipError(zip_error_t* error) {
    return Error("The archive of the export could not be made", zip_error_strerror(error));
}

constexpr std::size_t kPiece = 1 << 16;
// Text compresses nearly as well at the fast levels, at a third of the time of the default.
constexpr zip_uint32_t kLevel = 2;

}  // namespace

struct ZipBuilder::Stream {
    ZipProducer produce;
    std::exception_ptr* failure;
    std::string pending;
    std::size_t at = 0;
    bool more = true;
    zip_error_t error{};

    static zip_int64_t Callback(void* self, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        auto* s = static_cast<Stream*>(self);
        switch (cmd) {
            case ZIP_SOURCE_OPEN:
                return 0;
            case ZIP_SOURCE_READ:
                return s->Read(static_cast<char*>(data), len);
            case ZIP_SOURCE_CLOSE:
            case ZIP_SOURCE_FREE:
                return 0;
            case ZIP_SOURCE_STAT: {
                auto* st = static_cast<zip_stat_t*>(data);
                zip_stat_init(st);
                return sizeof(*st);
            }
            case ZIP_SOURCE_ERROR:
                return zip_error_to_data(&s->error, data, len);
            case ZIP_SOURCE_SUPPORTS:
                return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ,
                                                      ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                      ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
            default:
                zip_error_set(&s->error, ZIP_ER_OPNOTSUPP, 0);
                return -1;
        }
    }

    // No exception may cross libzip: one is kept and thrown again once the archive gives up.
    zip_int64_t Read(char* data, zip_uint64_t len) {
        try {
            while (pending.size() - at < len && more) {
                pending.erase(0, at);
                at = 0;
                while (more && pending.size() < kPiece) {
                    more = produce(pending);
                }
            }
            const std::size_t n = std::min<std::size_t>(len, pending.size() - at);
            pending.copy(data, n, at);
            at += n;
            return static_cast<zip_int64_t>(n);
        } catch (...) {
            *failure = std::current_exception();
            zip_error_set(&error, ZIP_ER_CANCELLED, 0);
            return -1;
        }
    }
};

ZipBuilder::ZipBuilder() {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (!buffer) {
        throw ZipError(&error);
    }
    zip_source_keep(buffer);
    zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    if (!archive) {
        zip_source_free(buffer);
        zip_source_free(buffer);
        throw ZipError(&error);
    }
    archive_ = archive;
    buffer_ = buffer;
}

ZipBuilder::~ZipBuilder() {
    if (archive_) {
        zip_discard(A(archive_));
    }
    zip_source_free(static_cast<zip_source_t*>(buffer_));
}

void ZipBuilder::AddSource(const std::string& name, void* source, bool stored) {
    auto* s = static_cast<zip_source_t*>(source);
    if (!s) {
        throw ZipError(zip_get_error(A(archive_)));
    }
    const zip_int64_t index = zip_file_add(A(archive_), name.c_str(), s, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(s);
        throw ZipError(zip_get_error(A(archive_)));
    }
    const auto i = static_cast<zip_uint64_t>(index);
    if (zip_set_file_compression(A(archive_), i, stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                 stored ? 0 : kLevel) != 0) {
        throw ZipError(zip_get_error(A(archive_)));
    }
}

void ZipBuilder::AddStored(const std::string& name, std::string bytes) {
    const std::string& b = kept_.emplace_back(std::move(bytes));
    AddSource(name, zip_source_buffer(A(archive_), b.data(), b.size(), 0), true);
}

void ZipBuilder::Add(const std::string& name, std::string bytes) {
    const std::string& b = kept_.emplace_back(std::move(bytes));
    AddSource(name, zip_source_buffer(A(archive_), b.data(), b.size(), 0), false);
}

void ZipBuilder::AddProduced(const std::string& name, ZipProducer produce) {
    Stream& s = *streams_.emplace_back(std::make_unique<Stream>());
    s.produce = std::move(produce);
    s.failure = &failure_;
    zip_error_init(&s.error);
    AddSource(name, zip_source_function(A(archive_), &Stream::Callback, &s), false);
}

void ZipBuilder::Finish(OutputFile& out) {
    if (zip_close(A(archive_)) != 0) {
        if (failure_) {
            std::rethrow_exception(failure_);
        }
        throw ZipError(zip_get_error(A(archive_)));
    }
    archive_ = nullptr;
    auto* buffer = static_cast<zip_source_t*>(buffer_);
    if (zip_source_open(buffer) != 0) {
        throw ZipError(zip_source_error(buffer));
    }
    std::string piece(kPiece, '\0');
    while (true) {
        const zip_int64_t n = zip_source_read(buffer, piece.data(), piece.size());
        if (n < 0) {
            zip_source_close(buffer);
            throw ZipError(zip_source_error(buffer));
        }
        if (n == 0) {
            break;
        }
        out.Write(std::string_view(piece.data(), static_cast<std::size_t>(n)));
    }
    zip_source_close(buffer);
}

}  // namespace velloran
