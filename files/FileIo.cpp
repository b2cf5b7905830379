#include "files/FileIo.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#else
#include <io.h>
#endif

namespace files {

namespace fs = std::filesystem;

namespace {
std::atomic<long long> g_writeLimit{-1};
std::atomic<unsigned> g_tempCounter{0};

// More hops than this and the chain of links is taken for a loop (the kernel's own limit).
constexpr int kMaxLinkHops = 40;
// How often a new temporary name is tried when one is taken already.
constexpr int kTempAttempts = 16;
// A temporary file of ours this old belongs to a save that was killed: a running save
// writes, syncs and renames its file within seconds.
constexpr auto kStaleAge = std::chrono::minutes(10);
constexpr const char* kTempStem = ".~orvo-";
constexpr const char* kTempSuffix = ".tmp";
// The temporary names of the versions before: NAME.~orvoPID-N.
constexpr const char* kOldTempMarker = ".~orvo";

std::string hex8(std::uint32_t v)
{
    static const char digits[] = "0123456789abcdef";
    std::string s(8, '0');
    for (int i = 7; i >= 0; --i, v >>= 4)
        s[static_cast<std::size_t>(i)] = digits[v & 0xF];
    return s;
}

// FNV-1a over the file name: the same target always gives the same prefix.
std::uint32_t nameHash(const std::string& name)
{
    std::uint32_t h = 2166136261u;
    for (const char c : name) {
        h ^= static_cast<unsigned char>(c);
        h *= 16777619u;
    }
    return h;
}

std::uint32_t randomWord()
{
    std::uint32_t r = 0;
    try {
        std::random_device device;
        r = device();
    } catch (...) {
        // No source of randomness: the clock and the counter still make names differ.
    }
    const auto ticks = static_cast<std::uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count());
    return r ^ static_cast<std::uint32_t>(ticks ^ (ticks >> 32)) ^
           (g_tempCounter++ * 2654435761u);
}

bool startsWith(const std::string& s, const std::string& prefix)
{
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool allDigits(const std::string& s, std::size_t from, std::size_t to)
{
    if (from >= to)
        return false;
    for (std::size_t i = from; i < to; ++i)
        if (s[i] < '0' || s[i] > '9')
            return false;
    return true;
}

// NAME.~orvoPID-N, as the versions before named their temporary files.
bool isOldTemporaryOf(const std::string& name, const std::string& targetName)
{
    const std::string prefix = targetName + kOldTempMarker;
    if (!startsWith(name, prefix))
        return false;
    const std::size_t dash = name.find('-', prefix.size());
    return dash != std::string::npos && allDigits(name, prefix.size(), dash) &&
           allDigits(name, dash + 1, name.size());
}

bool isTemporaryOf(const std::string& name, const std::string& targetName)
{
    const std::string prefix = temporaryNamePrefix(targetName);
    const std::size_t suffix = std::char_traits<char>::length(kTempSuffix);
    return name.size() == prefix.size() + 8 + suffix && startsWith(name, prefix) &&
           name.compare(name.size() - suffix, suffix, kTempSuffix) == 0;
}

// Leftovers of killed saves to the same target would pile up beside it; recent ones may
// belong to a save that is still running (another instance of the program) and stay.
void removeStaleTemporaries(const fs::path& target)
{
    const std::string targetName = target.filename().string();
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::error_code ec;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    if (ec)
        return;
    const auto limit = fs::file_time_type::clock::now() - kStaleAge;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            return;
        const std::string name = it->path().filename().string();
        if (!isTemporaryOf(name, targetName) && !isOldTemporaryOf(name, targetName))
            continue;
        std::error_code e2;
        if (!fs::is_regular_file(fs::symlink_status(it->path(), e2)))
            continue;
        const auto written = fs::last_write_time(it->path(), e2);
        if (!e2 && written < limit)
            fs::remove(it->path(), e2);
    }
}

// The file a save really replaces: every link of a chain stays a link, and the file at its
// end gets the new content. A loop of links gives an empty path.
fs::path replacedFile(const std::string& path)
{
    fs::path p(path);
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(p, ec)))
            return p;
        fs::path next = fs::read_symlink(p, ec);
        if (ec)
            return p;
        p = next.is_relative() ? p.parent_path() / next : next;
    }
    return {};
}

std::size_t limitedSize(std::size_t size)
{
    const long long limit = g_writeLimit.load();
    if (limit >= 0 && static_cast<unsigned long long>(limit) < size)
        return static_cast<std::size_t>(limit);
    return size;
}

bool syncFile(std::FILE* f)
{
#ifndef _WIN32
    return ::fsync(::fileno(f)) == 0;
#else
    (void)f;
    return true;
#endif
}

bool truncateFile(std::FILE* f, std::size_t size)
{
#ifndef _WIN32
    return ::ftruncate(::fileno(f), static_cast<off_t>(size)) == 0;
#else
    return ::_chsize_s(::_fileno(f), static_cast<long long>(size)) == 0;
#endif
}

// Makes the rename itself durable: without this a power loss can leave the folder with the
// old name entry although the file's data reached the disk.
bool syncFolder(const fs::path& target)
{
#ifndef _WIN32
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Some file systems cannot sync a folder and say so; they keep the name anyway.
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
#else
    (void)target;
    return true;
#endif
}

// Creates a new temporary file beside `target` that did not exist before. `error` holds
// errno of the last attempt when none could be made.
std::FILE* createTemporary(const fs::path& target, std::string& temp, int& error)
{
    const std::string prefix = temporaryNamePrefix(target.filename().string());
    error = 0;
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        temp = (target.parent_path() / (prefix + hex8(randomWord()) + kTempSuffix)).string();
        errno = 0;
        // "x": never reuse a file that happens to carry the name.
        if (std::FILE* f = std::fopen(temp.c_str(), "wbx"))
            return f;
        error = errno;
        if (error != EEXIST)
            break;
    }
    return nullptr;
}

// For a folder that takes no new file (no write permission for the user, a single file
// mounted into a container) while the file itself may be written: the data goes over the
// file itself. The old content is kept in memory and written back when the write fails.
WriteStatus writeInPlace(const fs::path& target, const unsigned char* data, std::size_t size)
{
    Bytes old;
    long long oldLength = 0;
    if (!fileLength(target.string(), oldLength) ||
        readFileStart(target.string(), static_cast<std::size_t>(oldLength), old) !=
            ReadStatus::Ok ||
        static_cast<long long>(old.size()) != oldLength)
        return WriteStatus::CannotCreate;
    std::FILE* f = std::fopen(target.string().c_str(), "r+b");
    if (f == nullptr)
        return WriteStatus::CannotCreate;
    const std::size_t toWrite = limitedSize(size);
    const std::size_t written = toWrite ? std::fwrite(data, 1, toWrite, f) : 0;
    bool ok = written == size && std::fflush(f) == 0 && truncateFile(f, size) && syncFile(f);
    if (!ok) {
        std::clearerr(f);
        std::rewind(f);
        const std::size_t back = old.empty() ? 0 : std::fwrite(old.data(), 1, old.size(), f);
        if (back == old.size() && std::fflush(f) == 0)
            truncateFile(f, old.size());
        syncFile(f);
    }
    ok = (std::fclose(f) == 0) && ok;
    return ok ? WriteStatus::Written : WriteStatus::WriteFailed;
}
} // namespace

std::string temporaryNamePrefix(const std::string& targetName)
{
    return kTempStem + hex8(nameHash(targetName)) + "-";
}

bool fileLength(const std::string& path, long long& length)
{
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return false;
    const auto size = fs::file_size(path, ec);
    if (ec)
        return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    std::fclose(f);
    length = static_cast<long long>(size);
    return true;
}

ReadStatus readFileStart(const std::string& path, std::size_t maxBytes, Bytes& out)
{
    long long length = 0;
    if (!fileLength(path, length))
        return ReadStatus::CannotOpen;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return ReadStatus::CannotOpen;
    const std::size_t wanted =
        length < static_cast<long long>(maxBytes) ? static_cast<std::size_t>(length) : maxBytes;
    out.assign(wanted, 0);
    const std::size_t got = wanted ? std::fread(out.data(), 1, wanted, f) : 0;
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    out.resize(got);
    return failed ? ReadStatus::ReadError : ReadStatus::Ok;
}

bool fileExists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(path, ec);
}

WriteStatus writeFileReplacing(const std::string& path, const unsigned char* data, std::size_t size)
{
    const fs::path target = replacedFile(path);
    if (target.empty())
        return WriteStatus::CannotCreate;
    std::error_code ec;
    const fs::file_status existing = fs::status(target, ec);
    const bool replacing = fs::is_regular_file(existing);
#ifndef _WIN32
    // A file the user may not write is not replaced behind his back: opening it for writing
    // would fail, so it counts as a file that cannot be created.
    if (replacing && ::access(target.c_str(), W_OK) != 0)
        return WriteStatus::CannotCreate;
#endif
    removeStaleTemporaries(target);
    std::string temp;
    int createError = 0;
    std::FILE* f = createTemporary(target, temp, createError);
    if (f == nullptr) {
        // Every name taken is not a folder that refuses new files.
        if (replacing && createError != EEXIST)
            return writeInPlace(target, data, size);
        return WriteStatus::CannotCreate;
    }
    const std::size_t toWrite = limitedSize(size);
    const std::size_t written = toWrite ? std::fwrite(data, 1, toWrite, f) : 0;
    bool ok = written == size && std::fflush(f) == 0 && syncFile(f);
    ok = (std::fclose(f) == 0) && ok;
    // The replaced file keeps its permissions.
    if (ok && replacing)
        fs::permissions(temp, existing.permissions(), ec);
    if (!ok) {
        fs::remove(temp, ec);
        return WriteStatus::WriteFailed;
    }
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ec);
        // A file that cannot be renamed over (a single file mounted into a container, a
        // folder with the sticky bit) can still be written where it is.
        return replacing ? writeInPlace(target, data, size) : WriteStatus::WriteFailed;
    }
    return syncFolder(target) ? WriteStatus::Written : WriteStatus::WriteFailed;
}

void simulateShortWrite(long long maxBytes) { g_writeLimit = maxBytes; }

} // namespace files
