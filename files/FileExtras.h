// Internal: the bytes of the file blocks that no record holds (see resetFileExtras).
#pragma once

#include <array>
#include <cstdint>

namespace files::detail {

struct FileExtras {
    std::array<unsigned char, 100> mesUnused1{};
    std::array<unsigned char, 195> mesUnused2{};
    // The last byte of each text as the file had it; the records get a NUL there instead,
    // so no reader of the texts runs past their end.
    std::array<unsigned char, 8> userTextLastByte{};
    unsigned char tsTextLastByte = 0;

    std::array<std::array<unsigned char, 16384>, 3> cfgReferenceUnused{};
    // Scale references as stored; written back while the decoded index is unchanged.
    std::array<std::array<std::uint32_t, 3>, 7> cfgScaleRefs{};
    bool cfgScaleRefsLoaded = false;
};

FileExtras& extras();

} // namespace files::detail
