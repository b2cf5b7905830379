// The distortion curves in the measurement file: a block appended after the fixed 331448-byte
// image, present only when the store holds curves. The fixed image stays as it always was, so
// a file without curves is the old file byte for byte, and the exact length still tells the
// old layout apart; a file with curves is the image plus exactly one block.
//
// Layout, little-endian, offsets within the block:
//   0   8 bytes  tag "ORVOKLRF" (ASCII)
//   8   uint32   version, 1
//   12  uint32   size of the whole block in bytes, tag to checksum
//   16  float64  sweep start [Hz]
//   24  float64  sweep end [Hz]
//   32  float64  sweep length [s]
//   40  float64  sweep amplitude (peak, 1 = full scale)
//   48  int32    sweep sample rate [Hz]
//   52  uint32   flags: bit 0 = the noise floor covers the band; the other bits are 0
//   56  eleven curves, each a uint32 count and that many float32 values, in this order:
//       frequency [Hz], fundamental [dB], THD [%], H2..H5 [dB re fundamental],
//       noise of H2..H5 [dB re fundamental]
//   size - 4  uint32  CRC-32 (the polynomial of zlib and PNG) of every byte before it
// The sweep's values are float64 because they describe the excitation exactly as it was
// planned; the curves are float32, as every curve of the file.
#pragma once

#include "core/Store.h"
#include "files/ByteImage.h"

#include <cstddef>
#include <cstdint>

namespace files
{

namespace distortion_block
{
inline constexpr char kTag[8] = {'O', 'R', 'V', 'O', 'K', 'L', 'R', 'F'};
inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::size_t kHeaderBytes = 56;
inline constexpr int kCurveCount = 3 + 2 * core::kDistortionHarmonics;
inline constexpr std::size_t kMinBytes = kHeaderBytes + 4 * kCurveCount + 4;
inline constexpr std::size_t kMaxBytes =
    kMinBytes + static_cast<std::size_t>(4) * kCurveCount * core::kDistortionMaxPoints;
inline constexpr std::uint32_t kFlagNoiseCoversBand = 1;
} // namespace distortion_block

// CRC-32 as zlib computes it (reflected, polynomial 0xEDB88320, initial and final XOR all ones).
std::uint32_t crc32(const unsigned char* data, std::size_t size);

// The block's size for a record; 0 for an empty record, which has no block.
std::size_t distortionBlockSize(const core::DistortionRecord& r);

// Appends the block of a non-empty record to `b`; an empty record appends nothing.
void appendDistortionBlock(Bytes& b, const core::DistortionRecord& r);

// Reads exactly `size` bytes as one block into `out`. False, with `out` untouched, when the
// tag, version, size or checksum is wrong, when the counts do not add up to the size, or when
// the record is not plausible (core::isPlausibleDistortionRecord). Reads no byte outside
// data[0..size).
bool parseDistortionBlock(const unsigned char* data, std::size_t size, core::DistortionRecord& out);

} // namespace files
