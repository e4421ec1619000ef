// Outputs written whole or not at all: under a temporary name beside the
// output, renamed onto it when complete and removed otherwise, so that a
// full disk or a failed page leaves nothing cut under the real name and
// whatever was there before stays. And the progress line on a terminal.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/export/export.h"
#include "host/os/os.h"

std::string TemporaryNameBeside(const std::string& path)
{
    static unsigned counter = 0;
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + "." + name + ".velkory-" + std::to_string(ProcessNumber()) + "-" +
        std::to_string(++counter) + ".tmp";
}

OutputFile::~OutputFile()
{
    if (file_ && file_ != stdout)
        fclose(file_);
    if (!temporary_.empty())
        remove(temporary_.c_str());
}

bool OutputFile::Open(const std::string& path, std::string& error)
{
    path_ = path;
    if (path == "-") {
        file_ = stdout;
        return true;
    }
    temporary_ = TemporaryNameBeside(path);
    file_ = fopen(temporary_.c_str(), "wbx");
    if (!file_) {
        error = "cannot write " + path + ": " + strerror(errno);
        temporary_.clear();
        return false;
    }
    return true;
}

bool OutputFile::Write(std::string_view bytes)
{
    if (failed_ || !file_)
        return false;
    if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        failed_ = true;
        error_ = errno;
    }
    return !failed_;
}

bool OutputFile::Close(std::string& error)
{
    if (!file_) {
        if (!closed_)
            error = "cannot write " + path_;
        return closed_ && !failed_;
    }
    bool flushed = fflush(file_) == 0;
    if (!flushed && !failed_) {
        failed_ = true;
        error_ = errno;
    }
    if (file_ == stdout) {
        file_ = nullptr;
        if (failed_)
            error = std::string("cannot write to standard output: ") + strerror(error_);
        closed_ = true;
        return !failed_;
    }
    if (!failed_ && fsync(fileno(file_)) != 0 && errno != EINVAL) {
        failed_ = true;
        error_ = errno;
    }
    if (fclose(file_) != 0 && !failed_) {
        failed_ = true;
        error_ = errno;
    }
    file_ = nullptr;
    closed_ = true;
    if (failed_)
        error = "cannot write " + path_ + ": " + strerror(error_);
    return !failed_;
}

bool OutputFile::Commit(std::string& error)
{
    if (!Close(error))
        return false;
    if (temporary_.empty())
        return true;  // standard output
    if (rename(temporary_.c_str(), path_.c_str()) != 0) {
        error = "cannot write " + path_ + ": " + strerror(errno);
        return false;
    }
    temporary_.clear();
    return true;
}

Progress::Progress(bool shown, size_t total, const char* what)
    : shown_(shown)
    , total_(total)
    , what_(what)
{
}

Progress::~Progress()
{
    if (shown_ && last_ != (size_t)-1)
        fputs("\r\033[K", stderr);
}

void Progress::Step(size_t done)
{
    if (!shown_ || done == last_)
        return;
    last_ = done;
    fprintf(stderr, "\rexport: %s %zu/%zu", what_, done, total_);
    fflush(stderr);
}
