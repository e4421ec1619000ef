// The zip archive of the EPUB, through libzip (export.h, ZipArchive).
//
// libzip writes the archive when it is closed, reading every entry's source
// then; an entry's source makes its bytes only when it is read and forgets
// them when closed, so one entry at a time is in memory.
#include <zip.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "host/export/export.h"

namespace {

// A zip entry whose bytes are made when libzip reads it and dropped when it
// is done with them.
// libzip asks for an entry's size before it opens it and again after it
// closed it; the size is kept, the bytes only from the first question (or
// the opening) to the closing, so that one page at a time is in memory.
struct LazySource {
    std::function<bool(std::string& out, std::string& error)> make;
    std::string* failure;  // the first reason an entry could not be made
    time_t modified;
    std::string data;
    size_t offset = 0;
    bool made = false;
    bool sized = false;
    size_t size = 0;
    zip_error_t error;
};

zip_int64_t LazyCallback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    LazySource* source = (LazySource*)state;
    switch (command) {
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_STAT:
        if (!source->made && (command == ZIP_SOURCE_OPEN || !source->sized)) {
            std::string why;
            if (!source->make(source->data, why)) {
                if (source->failure->empty())
                    *source->failure = why;
                zip_error_set(&source->error, ZIP_ER_READ, EIO);
                return -1;
            }
            source->made = source->sized = true;
            source->size = source->data.size();
            source->offset = 0;
        }
        if (command == ZIP_SOURCE_OPEN) {
            source->offset = 0;
            return 0;
        } else {
            zip_stat_t* stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &source->error);
            if (!stat)
                return -1;
            zip_stat_init(stat);
            stat->size = source->size;
            stat->mtime = source->modified;
            stat->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
            return sizeof(zip_stat_t);
        }
    case ZIP_SOURCE_READ: {
        size_t left = source->data.size() - source->offset;
        size_t count = length < left ? (size_t)length : left;
        memcpy(data, source->data.data() + source->offset, count);
        source->offset += count;
        return (zip_int64_t)count;
    }
    case ZIP_SOURCE_CLOSE:
        std::string().swap(source->data);
        source->made = false;
        return 0;
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&source->error, data, length);
    case ZIP_SOURCE_FREE:
        zip_error_fini(&source->error);
        delete source;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              -1);
    default:
        zip_error_set(&source->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

}  // namespace

ZipArchive::ZipArchive(std::string& failure, time_t modified)
    : failure_(failure)
    , modified_(modified)
{
}

ZipArchive::~ZipArchive()
{
    if (zip_)
        zip_discard(zip_);
}

bool ZipArchive::Open(const std::string& path, std::string& error)
{
    int code = 0;
    zip_ = zip_open(path.c_str(), ZIP_CREATE | ZIP_EXCL, &code);
    if (!zip_) {
        zip_error_t why;
        zip_error_init_with_code(&why, code);
        error = "cannot write " + path + ": " + zip_error_strerror(&why);
        zip_error_fini(&why);
    }
    return zip_ != nullptr;
}

bool ZipArchive::Add(const std::string& name, std::function<bool(std::string&, std::string&)> make,
                     bool compress)
{
    LazySource* state = new LazySource;
    state->make = std::move(make);
    state->failure = &failure_;
    state->modified = modified_;
    zip_error_init(&state->error);
    zip_source_t* source = zip_source_function(zip_, LazyCallback, state);
    if (!source) {
        zip_error_fini(&state->error);
        delete state;
        return false;
    }
    zip_int64_t index = zip_file_add(zip_, name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        return false;
    }
    zip_set_file_compression(zip_, (zip_uint64_t)index, compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                             0);
    return true;
}

bool ZipArchive::AddText(const std::string& name, std::string text, bool compress)
{
    return Add(
        name,
        [text = std::move(text)](std::string& out, std::string&) {
            out = text;
            return true;
        },
        compress);
}

bool ZipArchive::Close(std::string& error)
{
    if (zip_close(zip_) != 0) {
        error = !failure_.empty() ? failure_ : std::string(zip_strerror(zip_));
        return false;
    }
    zip_ = nullptr;
    return true;
}

std::string ZipArchive::Error()
{
    return zip_strerror(zip_);
}
