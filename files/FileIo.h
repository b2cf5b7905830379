// Whole-file reading and replacing writes shared by every file operation.
#pragma once

#include "files/ByteImage.h"

#include <string>

namespace files
{

enum class ReadStatus { Ok, CannotOpen, ReadError };

// Opens `path` for reading and reports its length; a missing file, a directory or anything
// that is not a regular file counts as "cannot open".
bool fileLength(const std::string& path, long long& length);
// Reads at most `maxBytes` bytes from the start of the file into `out`.
ReadStatus readFileStart(const std::string& path, std::size_t maxBytes, Bytes& out);

// Whether a file of that name exists (the overwrite question is asked then).
bool fileExists(const std::string& path);

enum class WriteStatus { Written, CannotCreate, WriteFailed };

// What a save found at its target (after following links).
enum class TargetKind { None, RegularFile, Folder, Device, Fifo, Socket, Other };

struct SaveResult {
    WriteStatus status = WriteStatus::WriteFailed;
    int systemError = 0;                         // errno of the step that failed, 0 if none
    TargetKind refusedTarget = TargetKind::None; // set when the target is not a regular file
};

// Writes `data` in one write to a new temporary file beside `path`, syncs it, renames it
// over `path` and syncs the folder. A failed or short write, or a failed rename, removes the
// temporary file and leaves an existing file untouched. Where the folder takes no new file
// (or the rename is refused) but the existing file may be written, the data goes over the
// file itself, and its old content is written back when that write fails; that write holds
// an exclusive advisory lock (flock) for which readFileStart waits. It is not atomic for
// other programs or a kill in the middle. CannotCreate means
// nothing could be written: no file and no folder to create one in, a file the user may not
// write, or a loop of symbolic links. A chain of symbolic links is kept and the file at its
// end replaced; the replaced file keeps its permissions. Temporary files of killed saves to
// the same target are removed once they are a few minutes old.
// A target that exists and is not a regular file (a device, a FIFO, a socket, a folder) is
// refused: CannotCreate with `refusedTarget` set, and nothing is written or renamed.
SaveResult saveReplacing(const std::string& path, const unsigned char* data, std::size_t size);
inline SaveResult saveReplacing(const std::string& path, const Bytes& data)
{
    return saveReplacing(path, data.data(), data.size());
}
WriteStatus writeFileReplacing(const std::string& path, const unsigned char* data,
                               std::size_t size);
inline WriteStatus writeFileReplacing(const std::string& path, const Bytes& data)
{
    return writeFileReplacing(path, data.data(), data.size());
}

// German texts for messages: "„PATH“ (why)". The reason of a failed save from its result;
// the reason a file cannot be opened for reading found out from the file system.
std::string saveFailureText(const std::string& path, const SaveResult& result);
std::string openFailureText(const std::string& path);
std::string openFailureReason(const std::string& path); // only the why

// The system's reason for an errno value, in German ("der Datenträger ist voll").
std::string systemReasonText(int error);

// The start of the names of the temporary files a save to a file named `targetName` makes
// beside it: short whatever the target's name is, and the same for the same name.
std::string temporaryNamePrefix(const std::string& targetName);

// For tests: the next writes deliver at most `maxBytes` bytes (a full disk, a broken
// network share); a negative value ends the simulation.
void simulateShortWrite(long long maxBytes);

} // namespace files
