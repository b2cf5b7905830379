// Fast harness: the microphone file (.mic), read into the configuration, saved, loaded and saved again.
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::loadAndResave(fuzz::Reader::Microphone, data, size);
    return 0;
}
