#include "files/FileIo.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace files {

namespace {
std::atomic<long long> g_writeLimit{-1};
std::atomic<unsigned> g_tempCounter{0};

std::string tempNameFor(const std::string& path)
{
#ifndef _WIN32
    const long pid = static_cast<long>(::getpid());
#else
    const long pid = 0;
#endif
    return path + ".~orvo" + std::to_string(pid) + "-" + std::to_string(g_tempCounter++);
}
} // namespace

bool fileLength(const std::string& path, long long& length)
{
    namespace fs = std::filesystem;
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
    return std::filesystem::exists(path, ec);
}

namespace {
// The file a save really replaces: a symbolic link stays a link, and the file it points at
// gets the new content.
std::string replacedFile(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_symlink(path, ec))
        return path;
    fs::path target = fs::read_symlink(path, ec);
    if (ec)
        return path;
    if (target.is_relative())
        target = fs::path(path).parent_path() / target;
    return target.string();
}
} // namespace

WriteStatus writeFileReplacing(const std::string& path, const unsigned char* data, std::size_t size)
{
    namespace fs = std::filesystem;
    const std::string target = replacedFile(path);
    std::error_code ec;
    const fs::file_status existing = fs::status(target, ec);
    const bool replacing = fs::is_regular_file(existing);
#ifndef _WIN32
    // A file the user may not write is not replaced behind his back: opening it for writing
    // would fail, so it counts as a file that cannot be created.
    if (replacing && ::access(target.c_str(), W_OK) != 0)
        return WriteStatus::CannotCreate;
#endif
    const std::string temp = tempNameFor(target);
    // "x": never reuse a file that happens to carry the temporary name.
    std::FILE* f = std::fopen(temp.c_str(), "wbx");
    if (f == nullptr)
        return WriteStatus::CannotCreate;
    std::size_t toWrite = size;
    const long long limit = g_writeLimit.load();
    if (limit >= 0 && static_cast<unsigned long long>(limit) < size)
        toWrite = static_cast<std::size_t>(limit);
    const std::size_t written = toWrite ? std::fwrite(data, 1, toWrite, f) : 0;
    bool ok = written == size && std::fflush(f) == 0;
#ifndef _WIN32
    if (ok)
        ok = ::fsync(::fileno(f)) == 0;
#endif
    ok = (std::fclose(f) == 0) && ok;
    // The replaced file keeps its permissions.
    if (ok && replacing)
        fs::permissions(temp, existing.permissions(), ec);
    if (ok) {
        fs::rename(temp, target, ec);
        ok = !ec;
    }
    if (!ok) {
        fs::remove(temp, ec);
        return WriteStatus::WriteFailed;
    }
    return WriteStatus::Written;
}

void simulateShortWrite(long long maxBytes) { g_writeLimit = maxBytes; }

} // namespace files
