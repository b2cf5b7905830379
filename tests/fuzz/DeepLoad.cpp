// Deep harness: a file loaded with the reader ORVO_FUZZ_READER names, then used as a user
// does: every view rendered and drawn, every text export built.
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::freshRecords();
    fuzz::loadWith(fuzz::Reader::ORVO_FUZZ_READER, data, size);
    fuzz::useLikeAUser();
    return 0;
}
