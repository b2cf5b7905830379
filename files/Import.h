// Imports of the measurement files of versions 1.33 (263012 bytes) and 2.1 (345048 bytes).
#pragma once

#include "files/MeasurementFile.h"

#include <string>

namespace files
{

inline constexpr std::size_t kVersion133FileSize = 263012;
inline constexpr std::size_t kVersion133ReadSize = 262712; // the last 300 bytes are not read
inline constexpr std::size_t kVersion21FileSize = 345048;

// Without a dialog. CannotOpen shows caption 29, a wrong length or short read caption 28
// (reported as ReadError); the store is untouched then, as the file is read into a scratch
// buffer first. The caller does what the shell does: restoreSnapshot() after Loaded,
// message 116 (showReadFailure) otherwise.
FileStatus importVersion133File(const std::string& path);
FileStatus importVersion21File(const std::string& path);

// Copies the blocks of an image of the older layout into the store (image of at least
// kVersion133ReadSize / kVersion21FileSize bytes).
void applyVersion133Image(const unsigned char* image);
void applyVersion21Image(const unsigned char* image);

// The menu commands: open dialog, then the import.
LoadOutcome importVersion133();
LoadOutcome importVersion21();

} // namespace files
