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
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <io.h>
#endif

namespace files
{

namespace fs = std::filesystem;

namespace
{
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
    return r ^ static_cast<std::uint32_t>(ticks ^ (ticks >> 32)) ^ (g_tempCounter++ * 2654435761u);
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

// The in-place write takes the file for itself; the program's own loads wait for it, so a
// load never sees a file half old and half new. Advisory only: other programs that don't
// ask for the lock may still see the moment in between.
void lockFile(std::FILE* f, bool exclusive)
{
#ifndef _WIN32
    while (::flock(::fileno(f), exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
    }
#else
    (void)f;
    (void)exclusive;
#endif
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

SaveResult failure(WriteStatus status, int error)
{
    SaveResult r;
    r.status = status;
    r.systemError = error;
    return r;
}

// errno after a write that came short; a simulated short write stands for a full disk.
int writeError(std::size_t written, std::size_t wanted)
{
    if (written == wanted && errno == 0)
        return EIO;
    return errno != 0 ? errno : ENOSPC;
}

// For a folder that takes no new file (no write permission for the user, a single file
// mounted into a container) while the file itself may be written: the data goes over the
// file itself. The old content is kept in memory and written back when the write fails.
SaveResult writeInPlace(const fs::path& target, const unsigned char* data, std::size_t size,
                        int folderError)
{
    Bytes old;
    long long oldLength = 0;
    if (!fileLength(target.string(), oldLength) ||
        readFileStart(target.string(), static_cast<std::size_t>(oldLength), old) !=
            ReadStatus::Ok ||
        static_cast<long long>(old.size()) != oldLength)
        return failure(WriteStatus::CannotCreate, folderError);
    errno = 0;
    std::FILE* f = std::fopen(target.string().c_str(), "r+b");
    if (f == nullptr)
        return failure(WriteStatus::CannotCreate, errno != 0 ? errno : folderError);
    // The new image is complete in memory (`data`); it goes over the file in one write while
    // the file is locked. Writing over the old bytes first and cutting the rest off after
    // keeps the old blocks until the new ones are written, so a full disk cannot strike a
    // file that was already emptied.
    lockFile(f, true);
    const std::size_t toWrite = limitedSize(size);
    errno = 0;
    const std::size_t written = toWrite ? std::fwrite(data, 1, toWrite, f) : 0;
    bool ok = written == size && std::fflush(f) == 0 && truncateFile(f, size) && syncFile(f);
    const int error = ok ? 0 : writeError(written, size);
    if (!ok) {
        std::clearerr(f);
        std::rewind(f);
        const std::size_t back = old.empty() ? 0 : std::fwrite(old.data(), 1, old.size(), f);
        if (back == old.size() && std::fflush(f) == 0)
            truncateFile(f, old.size());
        syncFile(f);
    }
    const bool closed = std::fclose(f) == 0;
    if (ok && !closed)
        return failure(WriteStatus::WriteFailed, errno != 0 ? errno : EIO);
    return ok ? SaveResult{WriteStatus::Written, 0, TargetKind::None}
              : failure(WriteStatus::WriteFailed, error);
}

TargetKind kindOf(const fs::file_status& st)
{
    switch (st.type()) {
    case fs::file_type::not_found:
    case fs::file_type::none:
        return TargetKind::None;
    case fs::file_type::regular:
        return TargetKind::RegularFile;
    case fs::file_type::directory:
        return TargetKind::Folder;
    case fs::file_type::block:
    case fs::file_type::character:
        return TargetKind::Device;
    case fs::file_type::fifo:
        return TargetKind::Fifo;
    case fs::file_type::socket:
        return TargetKind::Socket;
    default:
        return TargetKind::Other;
    }
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
    // Waits for an in-place save of the program to this file to finish; the length is taken
    // again then, as that save may have changed it.
    lockFile(f, false);
#ifndef _WIN32
    struct stat st {
    };
    if (::fstat(::fileno(f), &st) == 0)
        length = static_cast<long long>(st.st_size);
#endif
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

SaveResult saveReplacing(const std::string& path, const unsigned char* data, std::size_t size)
{
    const fs::path target = replacedFile(path);
    if (target.empty())
        return failure(WriteStatus::CannotCreate, ELOOP);
    std::error_code ec;
    const fs::file_status existing = fs::status(target, ec);
    TargetKind kind = kindOf(existing);
    // A link the chain above can't follow by its text still leads somewhere for the kernel:
    // /dev/stdout on a pipe ends in "pipe:[…]", which names no file, but is the pipe.
    if (kind == TargetKind::None) {
        const TargetKind direct = kindOf(fs::status(path, ec));
        if (direct != TargetKind::RegularFile)
            kind = direct;
    }
    // A device, a pipe, a socket or a folder is never replaced by a file: renaming over
    // /dev/null, say, would take the device away from every other program.
    if (kind != TargetKind::None && kind != TargetKind::RegularFile) {
        SaveResult r = failure(WriteStatus::CannotCreate, 0);
        r.refusedTarget = kind;
        return r;
    }
    const bool replacing = kind == TargetKind::RegularFile;
#ifndef _WIN32
    // A file the user may not write is not replaced behind his back: opening it for writing
    // would fail, so it counts as a file that cannot be created.
    if (replacing && ::access(target.c_str(), W_OK) != 0)
        return failure(WriteStatus::CannotCreate, errno);
#endif
    removeStaleTemporaries(target);
    std::string temp;
    int createError = 0;
    std::FILE* f = createTemporary(target, temp, createError);
    if (f == nullptr) {
        // Every name taken is not a folder that refuses new files.
        if (replacing && createError != EEXIST)
            return writeInPlace(target, data, size, createError);
        return failure(WriteStatus::CannotCreate, createError);
    }
    const std::size_t toWrite = limitedSize(size);
    errno = 0;
    const std::size_t written = toWrite ? std::fwrite(data, 1, toWrite, f) : 0;
    bool ok = written == size && std::fflush(f) == 0 && syncFile(f);
    int error = ok ? 0 : writeError(written, size);
    errno = 0;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = errno != 0 ? errno : EIO;
    }
    // The replaced file keeps its permissions.
    if (ok && replacing)
        fs::permissions(temp, existing.permissions(), ec);
    if (!ok) {
        fs::remove(temp, ec);
        return failure(WriteStatus::WriteFailed, error);
    }
    fs::rename(temp, target, ec);
    if (ec) {
        const int renameError = ec.value();
        fs::remove(temp, ec);
        // A file that cannot be renamed over (a single file mounted into a container, a
        // folder with the sticky bit) can still be written where it is.
        return replacing ? writeInPlace(target, data, size, renameError)
                         : failure(WriteStatus::WriteFailed, renameError);
    }
    if (!syncFolder(target))
        return failure(WriteStatus::WriteFailed, errno != 0 ? errno : EIO);
    return SaveResult{WriteStatus::Written, 0, TargetKind::None};
}

WriteStatus writeFileReplacing(const std::string& path, const unsigned char* data, std::size_t size)
{
    return saveReplacing(path, data, size).status;
}

std::string systemReasonText(int error)
{
    switch (error) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return "der Datenträger ist voll";
    case EFBIG:
        return "die Datei wird zu groß für den Datenträger";
    case EACCES:
    case EPERM:
        return "keine Berechtigung";
    case EROFS:
        return "der Datenträger ist schreibgeschützt";
    case ENAMETOOLONG:
        return "der Name ist zu lang";
    case ENOENT:
        return "die Datei oder der Ordner existiert nicht";
    case ENOTDIR:
        return "ein Teil des Pfades ist kein Ordner";
    case EISDIR:
        return "das ist ein Ordner";
    case ELOOP:
        return "die Verknüpfungen bilden eine Schleife";
    case EIO:
        return "Ein-/Ausgabefehler des Datenträgers";
    case EMFILE:
    case ENFILE:
        return "zu viele offene Dateien";
    case EBUSY:
    case ETXTBSY:
        return "die Datei ist in Benutzung";
    default:
        return "Systemfehler Nr. " + std::to_string(error);
    }
}

std::string targetKindText(TargetKind kind)
{
    switch (kind) {
    case TargetKind::Folder:
        return "das ist ein Ordner";
    case TargetKind::Device:
        return "das ist ein Gerät, keine gewöhnliche Datei";
    case TargetKind::Fifo:
        return "das ist eine benannte Pipe (FIFO), keine gewöhnliche Datei";
    case TargetKind::Socket:
        return "das ist ein Socket, keine gewöhnliche Datei";
    case TargetKind::Other:
        return "das ist keine gewöhnliche Datei";
    case TargetKind::None:
    case TargetKind::RegularFile:
        break;
    }
    return {};
}

std::string saveFailureText(const std::string& path, const SaveResult& result)
{
    std::string why;
    if (result.refusedTarget != TargetKind::None)
        why = targetKindText(result.refusedTarget) + "; sie wird nicht überschrieben";
    else if (result.systemError != 0)
        why = systemReasonText(result.systemError);
    else
        why = "die Datei wurde nicht vollständig geschrieben";
    return "„" + path + "“ (" + why + ")";
}

std::string openFailureText(const std::string& path)
{
    return "„" + path + "“ (" + openFailureReason(path) + ")";
}

std::string openFailureReason(const std::string& path)
{
    std::string why;
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    const TargetKind kind = kindOf(st);
    if (path.empty()) {
        why = "kein Dateiname angegeben";
    } else if (kind == TargetKind::None) {
        // The reason the system gives for a missing file, a name that is too long, a loop.
        const int error = ec ? ec.value() : ENOENT;
        why = error == ENOENT ? std::string("die Datei existiert nicht") : systemReasonText(error);
    } else if (kind != TargetKind::RegularFile) {
        why = targetKindText(kind);
    } else {
        errno = 0;
        std::FILE* f = std::fopen(path.c_str(), "rb");
        const int error = errno;
        if (f != nullptr) {
            std::fclose(f);
            why = "die Datei kann nicht gelesen werden";
        } else {
            why = systemReasonText(error != 0 ? error : EIO);
        }
    }
    return why;
}

void simulateShortWrite(long long maxBytes)
{
    g_writeLimit = maxBytes;
}

} // namespace files
