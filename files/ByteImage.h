// Little-endian field access on file images. Every file of the program is a fixed-size
// byte image; fields are written and read one by one at their offsets, never by copying
// whole structs, so the layout does not depend on the compiler's padding or byte order.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace files {

using Bytes = std::vector<unsigned char>;

// On a little-endian machine the file's byte order is the machine's, and a field is one
// copy; loading and saving a measurement file is some hundred thousand fields.
constexpr bool kNativeLittleEndian = std::endian::native == std::endian::little;

inline void putU32(Bytes& b, std::size_t offset, std::uint32_t v)
{
    if constexpr (kNativeLittleEndian) {
        std::memcpy(b.data() + offset, &v, sizeof v);
    } else {
        b[offset] = static_cast<unsigned char>(v & 0xFF);
        b[offset + 1] = static_cast<unsigned char>((v >> 8) & 0xFF);
        b[offset + 2] = static_cast<unsigned char>((v >> 16) & 0xFF);
        b[offset + 3] = static_cast<unsigned char>((v >> 24) & 0xFF);
    }
}

inline std::uint32_t getU32(const unsigned char* b, std::size_t offset)
{
    if constexpr (kNativeLittleEndian) {
        std::uint32_t v = 0;
        std::memcpy(&v, b + offset, sizeof v);
        return v;
    } else {
        return static_cast<std::uint32_t>(b[offset]) |
               (static_cast<std::uint32_t>(b[offset + 1]) << 8) |
               (static_cast<std::uint32_t>(b[offset + 2]) << 16) |
               (static_cast<std::uint32_t>(b[offset + 3]) << 24);
    }
}

inline void putI32(Bytes& b, std::size_t offset, int v) { putU32(b, offset, static_cast<std::uint32_t>(v)); }
inline int getI32(const unsigned char* b, std::size_t offset)
{
    return static_cast<int>(getU32(b, offset));
}

inline void putF32(Bytes& b, std::size_t offset, float v)
{
    std::uint32_t u = 0;
    static_assert(sizeof u == sizeof v);
    std::memcpy(&u, &v, sizeof u);
    putU32(b, offset, u);
}

inline float getF32(const unsigned char* b, std::size_t offset)
{
    const std::uint32_t u = getU32(b, offset);
    float v = 0.0f;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

// Arrays of floats or ints, count elements from `offset` on; in the file's byte order a
// whole array is one copy.
namespace detail {
template <typename T, typename PutOne>
inline void putArray(Bytes& b, std::size_t offset, const T* v, std::size_t count, PutOne putOne)
{
    static_assert(sizeof(T) == 4);
    if constexpr (kNativeLittleEndian) {
        if (count > 0)
            std::memcpy(b.data() + offset, v, 4 * count);
    } else {
        for (std::size_t i = 0; i < count; ++i)
            putOne(b, offset + 4 * i, v[i]);
    }
}
template <typename T, typename GetOne>
inline void getArray(const unsigned char* b, std::size_t offset, T* v, std::size_t count,
                     GetOne getOne)
{
    static_assert(sizeof(T) == 4);
    if constexpr (kNativeLittleEndian) {
        if (count > 0)
            std::memcpy(v, b + offset, 4 * count);
    } else {
        for (std::size_t i = 0; i < count; ++i)
            v[i] = getOne(b, offset + 4 * i);
    }
}
} // namespace detail

inline void putF32s(Bytes& b, std::size_t offset, const float* v, std::size_t count)
{
    detail::putArray(b, offset, v, count, putF32);
}
inline void getF32s(const unsigned char* b, std::size_t offset, float* v, std::size_t count)
{
    detail::getArray(b, offset, v, count, getF32);
}
inline void putI32s(Bytes& b, std::size_t offset, const int* v, std::size_t count)
{
    detail::putArray(b, offset, v, count, putI32);
}
inline void getI32s(const unsigned char* b, std::size_t offset, int* v, std::size_t count)
{
    detail::getArray(b, offset, v, count, getI32);
}

// Raw bytes (texts in Windows-1252, unused stretches).
inline void putRaw(Bytes& b, std::size_t offset, const void* src, std::size_t count)
{
    std::memcpy(b.data() + offset, src, count);
}
inline void getRaw(const unsigned char* b, std::size_t offset, void* dst, std::size_t count)
{
    std::memcpy(dst, b + offset, count);
}

} // namespace files
