// Fast harness: the importer of version 1.33 measurement files, saved, loaded and saved again.
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::loadAndResave(fuzz::Reader::Version133, data, size);
    return 0;
}
