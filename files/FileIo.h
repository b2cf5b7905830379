// Whole-file reading and replacing writes shared by every file operation.
#pragma once

#include "files/ByteImage.h"

#include <string>

namespace files {

enum class ReadStatus { Ok, CannotOpen, ReadError };

// Opens `path` for reading and reports its length; a missing file, a directory or anything
// that is not a regular file counts as "cannot open".
bool fileLength(const std::string& path, long long& length);
// Reads at most `maxBytes` bytes from the start of the file into `out`.
ReadStatus readFileStart(const std::string& path, std::size_t maxBytes, Bytes& out);

// Whether a file of that name exists (the overwrite question is asked then).
bool fileExists(const std::string& path);

enum class WriteStatus { Written, CannotCreate, WriteFailed };

// Writes `data` in one write to a temporary file beside `path` and renames it over `path`.
// A failed or short write, or a failed rename, removes the temporary file and leaves an
// existing file untouched; CannotCreate means the temporary file could not be made or the
// existing file may not be written. A symbolic link is kept and the file it names replaced;
// the replaced file keeps its permissions.
WriteStatus writeFileReplacing(const std::string& path, const unsigned char* data, std::size_t size);
inline WriteStatus writeFileReplacing(const std::string& path, const Bytes& data)
{
    return writeFileReplacing(path, data.data(), data.size());
}

// For tests: the next writes deliver at most `maxBytes` bytes (a full disk, a broken
// network share); a negative value ends the simulation.
void simulateShortWrite(long long maxBytes);

} // namespace files
