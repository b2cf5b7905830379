// Fast harness: the measurement file (.mes), saved, loaded and saved again.
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::loadAndResave(fuzz::Reader::Measurement, data, size);
    return 0;
}
