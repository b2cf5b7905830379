// The configuration file (.cfg): settings, display settings, reference and microphone
// tables as one byte image of 148068 bytes, recognised by its exact length only.
#pragma once

#include "files/ByteImage.h"
#include "files/FileIo.h"
#include "files/MeasurementFile.h"

#include <cstddef>
#include <string>

namespace files {

inline constexpr std::size_t kConfigurationFileSize = 148068;

namespace cfg {
inline constexpr std::size_t kParallelPort = 0;
inline constexpr std::size_t kWindow = 4;
inline constexpr std::size_t kSmoothing = 8;
inline constexpr std::size_t kAverages = 12;
inline constexpr std::size_t kMarkerPos = 16;
inline constexpr std::size_t kMarkerDragging = 24;
inline constexpr std::size_t kSampleRate = 32;
inline constexpr std::size_t kDbsplSpeakerImpedance = 36;
inline constexpr std::size_t kFftLength = 40;
inline constexpr std::size_t kMeasuringInput = 44;
inline constexpr std::size_t kReferenceInput = 48;
inline constexpr std::size_t kDistance = 52;
inline constexpr std::size_t kDbsplRealDistance = 56;
inline constexpr std::size_t kPhaseMode = 60;
inline constexpr std::size_t kReferenceResistor = 64;
inline constexpr std::size_t kPreampGain = 68;
inline constexpr std::size_t kReferenceComputation = 72;
inline constexpr std::size_t kPhaseOffset = 76;
inline constexpr std::size_t kAxisSets = 80;
inline constexpr std::size_t kAxisSetBytes = 44;
inline constexpr std::size_t kAxisSetNameBytes = 32;
inline constexpr std::size_t kShowPhase = 388;
inline constexpr std::size_t kShowAmplitude = 392;
inline constexpr std::size_t kShowImpedancePhase = 396;
inline constexpr std::size_t kShowImpedance = 400;
inline constexpr std::size_t kShowStepResponse = 404;
inline constexpr std::size_t kShowTimeSignal = 408;
inline constexpr std::size_t kStepResponse = 412;
inline constexpr std::size_t kMicCorrection = 416;
inline constexpr std::size_t kMicPhase0 = 420;
inline constexpr std::size_t kMethod = 424;
inline constexpr std::size_t kAddedMass = 428;
inline constexpr std::size_t kDiaphragmDiameter = 432;
inline constexpr std::size_t kMicSensitivity = 436;
inline constexpr std::size_t kBoxVolume = 440;
inline constexpr std::size_t kLevelCount = 444;
inline constexpr std::size_t kLevelCalculation = 448;
inline constexpr std::size_t kLevelWindow = 452;
inline constexpr std::size_t kLevelWeighting = 456;
inline constexpr std::size_t kLevelMethod = 460;
inline constexpr std::size_t kObserver = 464;
inline constexpr std::size_t kProjectionPlaneZ = 476;
inline constexpr std::size_t kColors = 480;
inline constexpr std::size_t kLineWidth = 568;
inline constexpr std::size_t kLevelCountLimited = 572;
inline constexpr std::size_t kSumMode = 576;
inline constexpr std::size_t kLevelAveraging = 580;
inline constexpr std::size_t kLevelDisplayMode = 584;
// Reference groups in the order 3.2, 6.4, 51.2 kHz: phase, amplitude, unused bytes.
inline constexpr std::size_t kReferenceGroups = 588;
inline constexpr std::size_t kReferenceGroupBytes = 32768;
inline constexpr std::size_t kReferenceUnusedBytes = 16384;
// Microphone tables in the order 3.2, 6.4, 51.2 kHz: amplitude, phase.
inline constexpr std::size_t kMicTables = 98892;
inline constexpr std::size_t kMicTableBytes = 8196;

static_assert(kAxisSets + 7 * kAxisSetBytes == kShowPhase);
static_assert(kColors + 22 * 4 == kLineWidth);
static_assert(kReferenceGroups + 3 * kReferenceGroupBytes == kMicTables);
static_assert(2 * 2048 * 4 + kReferenceUnusedBytes == kReferenceGroupBytes);
static_assert(kMicTables + 6 * kMicTableBytes == kConfigurationFileSize);
} // namespace cfg

// The block as it is in the records now (settings, display settings, tables).
Bytes configurationImage();
// The same image into `b`, reusing its storage (for callers that make many).
void writeConfigurationImage(Bytes& b);
void applyConfigurationImage(const unsigned char* image);

// Loads a configuration without a dialog. Messages: 107/106 for a wrong length, 116 for a
// read error; none when the file cannot be opened (the caller shows 116 for every failure,
// as the shell does). On success the port goes to the registry.
FileStatus readConfigurationFile(const std::string& path);
// Writes the block (replacing safely); message 117 when nothing or not all
// could be written.
WriteStatus writeConfigurationFile(const std::string& path);

// "Konfigurationsdatei laden": 1 after a complete read or a cancel, 0 on failure.
int loadConfigurationFile();
// "Konfigurationsdatei speichern": 0 after a cancel or failed write, else 1.
int saveConfigurationFile();

} // namespace files
