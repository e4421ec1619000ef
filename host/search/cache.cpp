// The cache of search indexes: where it is, what an entry is called, the
// lock its builder holds, the checked file a finished index is kept in, the
// bound on its size and emptying it (search.h).
//
// A finished index is one file: a header of IndexHeaderSize bytes, then the
// Xapian database as one file. The header holds a magic text, the hash of
// the help file's identity and the size and checksum of the rest, so that a
// file cut short, changed, or written by something else is never opened as
// an index: it is removed and the index built again.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/search/search.h"

namespace fs = std::filesystem;

namespace {

constexpr char Magic[8] = {'V', 'L', 'K', 'S', 'R', 'C', 'H', '1'};

// The header: Magic, the identity's hash, the size of the database behind
// the header and its checksum, all little-endian, then zeros.
constexpr size_t IdentityAt = 8;
constexpr size_t SizeAt = 16;
constexpr size_t ChecksumAt = 24;

void PutLE64(uint8_t* at, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        at[i] = (uint8_t)(value >> (8 * i));
}

uint64_t GetLE64(const uint8_t* at)
{
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value |= (uint64_t)at[i] << (8 * i);
    return value;
}

std::string Hex64(uint64_t value)
{
    char text[17];
    snprintf(text, sizeof text, "%016llx", (unsigned long long)value);
    return text;
}

// Whether name is one of the cache's own: "<16 hex>-<16 hex>" and a suffix.
bool IsEntryName(const std::string& name, std::string& base)
{
    if (name.size() < 34 || name[16] != '-')
        return false;
    for (size_t i = 0; i < 33; ++i)
        if (i != 16 && !isxdigit((unsigned char)name[i]))
            return false;
    std::string suffix = name.substr(33);
    if (suffix != ".idx" && suffix != ".lock" && suffix != ".build" && suffix != ".tmp")
        return false;
    base = name.substr(0, 33);
    return true;
}

// Reads exactly size bytes at offset; false when the file is shorter.
bool ReadAt(int fd, uint8_t* data, size_t size, off_t offset)
{
    while (size > 0) {
        ssize_t got = pread(fd, data, size, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        data += got;
        size -= (size_t)got;
        offset += got;
    }
    return true;
}

// The checksum of size bytes of fd from offset; false when they cannot be read.
bool ChecksumOf(int fd, off_t offset, uint64_t size, uint64_t& sum)
{
    Checksum checksum;
    std::vector<uint8_t> buffer(1 << 20);
    while (size > 0) {
        size_t chunk = (size_t)std::min<uint64_t>(size, buffer.size());
        if (!ReadAt(fd, buffer.data(), chunk, offset))
            return false;
        checksum.Add(buffer.data(), chunk);
        offset += (off_t)chunk;
        size -= chunk;
    }
    sum = checksum.Value();
    return true;
}

// Creates dir and its missing parents, private to the user.
bool MakeCacheDirectory(const std::string& dir, std::string& error)
{
    std::string path;
    size_t at = 0;
    while (at != std::string::npos) {
        at = dir.find('/', at + 1);
        path = dir.substr(0, at);
        if (path.empty() || mkdir(path.c_str(), 0700) == 0 || errno == EEXIST)
            continue;
        error = "cannot create " + path + ": " + strerror(errno);
        return false;
    }
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = dir + " is not a directory";
        return false;
    }
    return true;
}

}  // namespace

// The mixing of one 64-bit word into the checksum (the multiply and
// rotation of a common 64-bit hash; it only needs to notice damage).
void Checksum::Mix(uint64_t word)
{
    state_ ^= word * 0x9E3779B97F4A7C15ull;
    state_ = (state_ << 31) | (state_ >> 33);
    state_ *= 0xC2B2AE3D27D4EB4Full;
}

void Checksum::Add(const uint8_t* data, size_t size)
{
    length_ += size;
    while (size > 0) {
        if (pendingBytes_ == 0 && size >= 8) {
            uint64_t word;
            memcpy(&word, data, 8);
            Mix(word);
            data += 8;
            size -= 8;
            continue;
        }
        pending_ |= (uint64_t)*data++ << (8 * pendingBytes_++);
        --size;
        if (pendingBytes_ == 8) {
            Mix(pending_);
            pending_ = 0;
            pendingBytes_ = 0;
        }
    }
}

uint64_t Checksum::Value() const
{
    Checksum last = *this;
    last.Mix(last.pending_ ^ ((uint64_t)last.pendingBytes_ << 56));
    last.Mix(length_);
    return last.state_ ^ (last.state_ >> 29);
}

uint64_t HashText(const std::string& text)
{
    Checksum hash;
    hash.Add((const uint8_t*)text.data(), text.size());
    return hash.Value();
}

bool UserSearchCache(SearchCache& cache, std::string& error)
{
    const char* xdg = getenv("XDG_CACHE_HOME");
    const char* home = getenv("HOME");
    if (xdg && xdg[0] == '/')
        cache.directory = std::string(xdg) + "/velkory";
    else if (home && home[0] == '/')
        cache.directory = std::string(home) + "/.cache/velkory";
    else {
        error = "neither XDG_CACHE_HOME nor HOME names a directory for the search indexes";
        return false;
    }
    // One slash between the parts, whatever the variables end with.
    std::string tidy;
    for (char c : cache.directory)
        if (c != '/' || tidy.empty() || tidy.back() != '/')
            tidy += c;
    cache.directory = tidy;
    if (const char* limit = getenv("VELKORY_SEARCH_CACHE_MB"); limit && limit[0]) {
        char* end = nullptr;
        errno = 0;
        unsigned long long megabytes = strtoull(limit, &end, 10);
        if (*end != '\0' || errno != 0 || limit[0] == '-' || megabytes > (1ull << 40)) {
            error =
                std::string("VELKORY_SEARCH_CACHE_MB=") + limit + " is not a number of megabytes";
            return false;
        }
        cache.limit = megabytes << 20;
    }
    return true;
}

bool FindCacheEntry(const SearchCache& cache, const std::string& helpFile, CacheEntry& entry,
                    std::string& error)
{
    struct stat st;
    char real[PATH_MAX];
    if (stat(helpFile.c_str(), &st) != 0 || !realpath(helpFile.c_str(), real)) {
        error = helpFile + ": " + strerror(errno);
        return false;
    }
    std::string path = real;
    std::string dir = path.substr(0, path.rfind('/'));
    char identity[256];
    snprintf(identity, sizeof identity, "velkory search index %d\n%llu %llu %lld %lld.%09ld %s",
             IndexFormat, (unsigned long long)st.st_dev, (unsigned long long)st.st_ino,
             (long long)st.st_size, (long long)st.st_mtim.tv_sec, (long)st.st_mtim.tv_nsec,
             Hex64(HashText(dir)).c_str());
    entry.identity = identity;
    entry.pathKey = Hex64(HashText(path));
    entry.base = cache.directory + "/" + entry.pathKey + "-" + Hex64(HashText(entry.identity));
    return MakeCacheDirectory(cache.directory, error);
}

CacheLock::~CacheLock()
{
    Release();
}

void CacheLock::Release()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

bool CacheLock::Take(const std::string& path, bool wait, std::string& error)
{
    Release();
    // The lock file may be removed (by clean --cache) between its opening
    // and its locking: then the lock is on a file nobody else will find,
    // and it is taken again on the file now at the path.
    for (;;) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            error = "cannot open " + path + ": " + strerror(errno);
            return false;
        }
        int result;
        do
            result = flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB);
        while (result != 0 && errno == EINTR);
        if (result != 0) {
            int why = errno;
            close(fd);
            if (why != EWOULDBLOCK)
                error = "cannot lock " + path + ": " + strerror(why);
            return false;
        }
        struct stat held, now;
        if (fstat(fd, &held) == 0 && stat(path.c_str(), &now) == 0 && held.st_ino == now.st_ino &&
            held.st_dev == now.st_dev) {
            fd_ = fd;
            return true;
        }
        close(fd);
    }
}

int OpenCheckedIndex(const std::string& path, uint64_t identityHash)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return -1;
    struct stat st;
    uint8_t header[IndexHeaderSize];
    uint64_t sum = 0;
    bool whole = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        (uint64_t)st.st_size > IndexHeaderSize && ReadAt(fd, header, sizeof header, 0) &&
        memcmp(header, Magic, sizeof Magic) == 0 && GetLE64(header + IdentityAt) == identityHash &&
        GetLE64(header + SizeAt) == (uint64_t)st.st_size - IndexHeaderSize &&
        ChecksumOf(fd, IndexHeaderSize, GetLE64(header + SizeAt), sum) &&
        sum == GetLE64(header + ChecksumAt) && lseek(fd, IndexHeaderSize, SEEK_SET) >= 0;
    if (!whole) {
        close(fd);
        return -1;
    }
    MarkUsed(fd);
    return fd;
}

int CreateIndexFile(const std::string& path, std::string& error)
{
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    uint8_t header[IndexHeaderSize] = {};
    if (fd < 0 || pwrite(fd, header, sizeof header, 0) != (ssize_t)sizeof header ||
        lseek(fd, IndexHeaderSize, SEEK_SET) < 0) {
        error = "cannot write " + path + ": " + strerror(errno);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

bool SealIndexFile(const std::string& temporary, const std::string& target, uint64_t identityHash,
                   std::string& error)
{
    int fd = open(temporary.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    struct stat st;
    uint64_t sum = 0;
    bool ok = fd >= 0 && fstat(fd, &st) == 0 && (uint64_t)st.st_size > IndexHeaderSize;
    uint64_t size = ok ? (uint64_t)st.st_size - IndexHeaderSize : 0;
    ok = ok && ChecksumOf(fd, IndexHeaderSize, size, sum);
    if (ok) {
        uint8_t header[IndexHeaderSize] = {};
        memcpy(header, Magic, sizeof Magic);
        PutLE64(header + IdentityAt, identityHash);
        PutLE64(header + SizeAt, size);
        PutLE64(header + ChecksumAt, sum);
        ok = pwrite(fd, header, sizeof header, 0) == (ssize_t)sizeof header && fsync(fd) == 0;
        MarkUsed(fd);
    }
    int why = errno;
    if (fd >= 0 && close(fd) != 0 && ok) {
        ok = false;
        why = errno;
    }
    if (ok && rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        why = errno;
    }
    if (!ok) {
        error = "cannot write " + temporary + ": " + strerror(why);
        unlink(temporary.c_str());
        return false;
    }
    // The rename itself lasts once the directory is on disk.
    std::string dir = target.substr(0, target.rfind('/'));
    int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

void ClearEntry(const std::string& base, bool withLock)
{
    for (const char* suffix : {".idx", ".tmp", ".build"})
        RemovePath(base + suffix);
    if (withLock)
        unlink((base + ".lock").c_str());
}

void TidySearchCache(const SearchCache& cache, const CacheEntry& kept)
{
    struct Finished {
        std::string base;
        uint64_t size;
        struct timespec used;
    };
    std::vector<Finished> finished;
    std::error_code ec;
    for (fs::directory_iterator it(cache.directory, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string(), base;
        if (!IsEntryName(name, base) || name.size() != 37 || name.compare(33, 4, ".idx") != 0)
            continue;
        std::string full = cache.directory + "/" + base;
        if (full == kept.base)
            continue;
        struct stat st;
        if (lstat(it->path().c_str(), &st) != 0)
            continue;
        // Another version of the same help file: the file changed since.
        if (name.compare(0, 16, kept.pathKey) == 0) {
            CacheLock lock;
            std::string ignored;
            if (lock.Take(full + ".lock", false, ignored))
                ClearEntry(full, true);
            continue;
        }
        finished.push_back({full, (uint64_t)st.st_blocks * 512, st.st_mtim});
    }
    struct stat own;
    uint64_t total =
        stat((kept.base + ".idx").c_str(), &own) == 0 ? (uint64_t)own.st_blocks * 512 : 0;
    for (const Finished& entry : finished)
        total += entry.size;
    // The entries used longest ago go first.
    std::sort(finished.begin(), finished.end(), [](const Finished& a, const Finished& b) {
        return a.used.tv_sec != b.used.tv_sec ? a.used.tv_sec < b.used.tv_sec
                                              : a.used.tv_nsec < b.used.tv_nsec;
    });
    for (const Finished& entry : finished) {
        if (total <= cache.limit)
            break;
        CacheLock lock;
        std::string ignored;
        if (!lock.Take(entry.base + ".lock", false, ignored))
            continue;
        ClearEntry(entry.base, true);
        total -= std::min(total, entry.size);
    }
}

CacheCleaning EmptySearchCache(const SearchCache& cache)
{
    CacheCleaning cleaning;
    std::vector<std::string> bases;
    std::error_code ec;
    fs::directory_iterator it(cache.directory, ec);
    if (ec) {
        if (ec != std::errc::no_such_file_or_directory)
            cleaning.failures.push_back(cache.directory + ": " + ec.message());
        return cleaning;
    }
    for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::string base;
        if (IsEntryName(it->path().filename().string(), base) &&
            std::find(bases.begin(), bases.end(), base) == bases.end())
            bases.push_back(base);
    }
    std::sort(bases.begin(), bases.end());
    for (const std::string& name : bases) {
        std::string base = cache.directory + "/" + name;
        CacheLock lock;
        std::string error;
        if (!lock.Take(base + ".lock", false, error)) {
            if (error.empty())
                ++cleaning.busy;
            else
                cleaning.failures.push_back(error);
            continue;
        }
        bool hadIndex = PathIsThere(base + ".idx");
        for (const char* suffix : {".idx", ".tmp", ".build", ".lock"}) {
            std::error_code removeError;
            fs::remove_all(base + suffix, removeError);
            if (removeError)
                cleaning.failures.push_back(base + suffix + ": " + removeError.message());
        }
        if (hadIndex)
            ++cleaning.removed;
    }
    return cleaning;
}

// Used now: the bound on the cache removes the entries used longest ago.
// The time is taken to the nanosecond (the file system's own clock for a
// touch advances only a few times a second).
void MarkUsed(int fd)
{
    struct timespec now[2];
    clock_gettime(CLOCK_REALTIME, &now[0]);
    now[1] = now[0];
    futimens(fd, now);
}

void RemovePath(const std::string& path)
{
    std::error_code ec;
    fs::remove_all(path, ec);
}

bool PathIsThere(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}
