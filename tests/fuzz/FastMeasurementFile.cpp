// Fast harness: the measurement file (.mes), saved, loaded and saved again; inputs longer than
// the fixed block reach the parser of the distortion block after it.
#include "tests/fuzz/FuzzSupport.h"

#include "files/ByteImage.h"
#include "files/DistortionBlock.h"
#include "files/MeasurementFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::loadAndResave(fuzz::Reader::Measurement, data, size);
    // The block's size field and checksum turn away nearly every mutation before its fields
    // are read. The same input once more with both made right reaches the checks of the
    // counts and values.
    constexpr std::size_t fixed = files::kMeasurementFileSize;
    if (size >= fixed + files::distortion_block::kMinBytes &&
        size <= fixed + files::distortion_block::kMaxBytes) {
        static files::Bytes copy;
        copy.assign(data, data + size);
        const std::size_t blockSize = size - fixed;
        files::putU32(copy, fixed + 12, static_cast<std::uint32_t>(blockSize));
        files::putU32(copy, size - 4, files::crc32(copy.data() + fixed, blockSize - 4));
        fuzz::loadAndResave(fuzz::Reader::Measurement, copy.data(), copy.size());
    }
    return 0;
}
