// Fast harness: the configuration file (.cfg), saved, loaded and saved again.
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::loadAndResave(fuzz::Reader::Configuration, data, size);
    return 0;
}
