// The measurement file (.mes): a byte image of the store's file block, 331448 bytes,
// recognised by its exact length only.
#pragma once

#include "files/ByteImage.h"
#include "files/FileIo.h"
#include "files/LoadOutcome.h"

#include "core/Settings.h"

#include <cstddef>
#include <string>
#include <vector>

namespace files
{

inline constexpr std::size_t kMeasurementFileSize = 331448;

// Offsets of the blocks in the measurement file.
namespace mes
{
inline constexpr std::size_t kMarker1 = 0;
inline constexpr std::size_t kMarker2 = 4;
inline constexpr std::size_t kAverages = 8;
inline constexpr std::size_t kSmoothing = 12;
inline constexpr std::size_t kDistance = 16;
inline constexpr std::size_t kTimeRecord = 20;
inline constexpr std::size_t kStepResponse = 16412;
inline constexpr std::size_t kPhaseSlots = 32804;
inline constexpr std::size_t kAmplitudeSlots = 73804;
inline constexpr std::size_t kSlotOccupied = 114804;
inline constexpr std::size_t kOverlayAxisIndex = 114824;
inline constexpr std::size_t kOverlayReserved = 114828;
inline constexpr std::size_t kImpedancePhase = 114836;
inline constexpr std::size_t kImpedanceMagnitude = 123036;
inline constexpr std::size_t kLevelBandFrequency = 131236;
inline constexpr std::size_t kLevelMeanPeak = 131348;
inline constexpr std::size_t kLevelBandFrequencyView = 131460;
inline constexpr std::size_t kLevelCurrent = 131572;
inline constexpr std::size_t kCsdFrequency = 131684;
inline constexpr std::size_t kCsdLevel = 197224;
inline constexpr std::size_t kCsdTime = 262764;
inline constexpr std::size_t kWindow = 328304;
inline constexpr std::size_t kReferenceResistor = 328308;
inline constexpr std::size_t kImportReserved = 328312;
inline constexpr std::size_t kImportReservedByte = 328328;
inline constexpr std::size_t kUnused1 = 328329;
inline constexpr std::size_t kUnused1Size = 100;
inline constexpr std::size_t kUserTexts = 328429;
inline constexpr std::size_t kUserTextSize = 100;
inline constexpr std::size_t kUnused2 = 329229;
inline constexpr std::size_t kUnused2Size = 195;
inline constexpr std::size_t kTsResultText = 329424;

inline constexpr std::size_t kCurveBytes = 8200;
inline constexpr std::size_t kRecordBytes = 16392;
inline constexpr std::size_t kLevelBytes = 112;
inline constexpr std::size_t kCsdBytes = 65540;

static_assert(kTimeRecord + kRecordBytes == kStepResponse);
static_assert(kStepResponse + kRecordBytes == kPhaseSlots);
static_assert(kPhaseSlots + 5 * kCurveBytes == kAmplitudeSlots);
static_assert(kAmplitudeSlots + 5 * kCurveBytes == kSlotOccupied);
static_assert(kSlotOccupied + 20 == kOverlayAxisIndex);
static_assert(kOverlayReserved + 8 == kImpedancePhase);
static_assert(kImpedancePhase + kCurveBytes == kImpedanceMagnitude);
static_assert(kImpedanceMagnitude + kCurveBytes == kLevelBandFrequency);
static_assert(kLevelCurrent + kLevelBytes == kCsdFrequency);
static_assert(kCsdFrequency + kCsdBytes == kCsdLevel);
static_assert(kCsdLevel + kCsdBytes == kCsdTime);
static_assert(kCsdTime + kCsdBytes == kWindow);
static_assert(kImportReserved + 16 == kImportReservedByte);
static_assert(kUnused1 + kUnused1Size == kUserTexts);
static_assert(kUserTexts + 8 * kUserTextSize == kUnused2);
static_assert(kUnused2 + kUnused2Size == kTsResultText);
static_assert(kTsResultText + 2024 == kMeasurementFileSize);
} // namespace mes

// The file as it is in the records now (store, snapshot, user texts): the fixed block of
// kMeasurementFileSize bytes, followed by the distortion block (files/DistortionBlock.h) when
// the store holds distortion curves.
Bytes measurementImage();
// The same image into `b`, reusing its storage (for callers that make many).
void writeMeasurementImage(Bytes& b);
// Replaces the block's parts of the records by an image of kMeasurementFileSize bytes. Such
// an image has no distortion curves: the store's are cleared.
void applyMeasurementImage(const unsigned char* image);

// Whether a file of `length` bytes can be a measurement file: the fixed block alone, or the
// block and a distortion block of a size the layout allows.
bool isMeasurementFileLength(long long length);
// Applies a whole file: the fixed block alone, or the block and one valid distortion block.
// False, with the records untouched, for anything else (a wrong length, a damaged block).
bool applyMeasurementFile(const unsigned char* data, std::size_t size);

// The German names of the snapshot fields that can't be right (core::implausibleSnapshotFields);
// empty when all are plausible.
std::vector<std::string> implausibleSnapshotNames(const core::AcquisitionSnapshot& snapshot);

enum class FileStatus { Loaded, CannotOpen, WrongLength, ReadError };

// Loads a measurement file without a dialog, with the loader's own messages (caption 29;
// 114/113; caption 28). A file with a distortion block that is not valid gets the message of
// a wrong length (114/113), as it is no file of this version. The fixed block has no
// checksum, so any 331448 bytes load; when the
// snapshot holds values that can't be right, one notice names them (restoreSnapshot puts
// defaults into the settings for them; the block itself keeps the file's bytes). The caller
// does what the shell does: restoreSnapshot() and re-render after Loaded, message 116
// (showReadFailure) otherwise.
FileStatus readMeasurementFile(const std::string& path);
// Writes the block to `path` (replacing it safely); message 27 when nothing or not
// all could be written.
WriteStatus writeMeasurementFile(const std::string& path);

// "Messdatei laden": open dialog, then readMeasurementFile.
LoadOutcome loadMeasurementFile();
// "Messdaten speichern unter..": 0 after a cancel or a failed save (the
// file could not be created or written); 1 after a declined overwrite or a complete write.
int saveMeasurementFile();

// The shell's message after a failed load or import: 116, error icon, no caption.
void showReadFailure();

// Bytes of the file blocks that the records do not hold (unused stretches, the last byte of
// texts that were not NUL-terminated, scale references off the table's grid). Kept so that a
// file is saved back exactly as it was loaded. Cleared for tests.
void resetFileExtras();

} // namespace files
