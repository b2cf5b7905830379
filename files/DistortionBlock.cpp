#include "files/DistortionBlock.h"

#include <array>
#include <cstring>
#include <utility>
#include <vector>

namespace files
{

using namespace distortion_block;

namespace
{

constexpr std::array<std::uint32_t, 256> makeCrcTable()
{
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = makeCrcTable();

// The record's curves in the order of the layout.
template <typename Record, typename F> void forEachCurve(Record& r, F f)
{
    f(r.hz);
    f(r.fundamentalDb);
    f(r.thdPercent);
    for (auto& h : r.harmonicDb)
        f(h);
    for (auto& n : r.noiseDb)
        f(n);
}

void putF64(Bytes& b, std::size_t offset, double v)
{
    std::uint64_t u = 0;
    static_assert(sizeof u == sizeof v);
    std::memcpy(&u, &v, sizeof u);
    putU32(b, offset, static_cast<std::uint32_t>(u & 0xFFFFFFFFu));
    putU32(b, offset + 4, static_cast<std::uint32_t>(u >> 32));
}

// Reads forward through the block and refuses to step past its end.
class Cursor
{
public:
    Cursor(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    bool u32(std::uint32_t& v)
    {
        if (size_ - pos_ < 4)
            return false;
        v = getU32(data_, pos_);
        pos_ += 4;
        return true;
    }
    bool f64(double& v)
    {
        std::uint32_t lo = 0;
        std::uint32_t hi = 0;
        if (!u32(lo) || !u32(hi))
            return false;
        const std::uint64_t u = (static_cast<std::uint64_t>(hi) << 32) | lo;
        std::memcpy(&v, &u, sizeof v);
        return true;
    }
    bool curve(std::vector<float>& v)
    {
        std::uint32_t count = 0;
        if (!u32(count) || count > static_cast<std::uint32_t>(core::kDistortionMaxPoints) ||
            (size_ - pos_) / 4 < count)
            return false;
        v.resize(count);
        getF32s(data_, pos_, v.data(), count);
        pos_ += 4 * static_cast<std::size_t>(count);
        return true;
    }
    std::size_t position() const { return pos_; }

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

} // namespace

std::uint32_t crc32(const unsigned char* data, std::size_t size)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i)
        c = kCrcTable[(c ^ data[i]) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::size_t distortionBlockSize(const core::DistortionRecord& r)
{
    if (r.empty())
        return 0;
    std::size_t values = 0;
    forEachCurve(r, [&](const std::vector<float>& v) { values += v.size(); });
    return kMinBytes + 4 * values;
}

void appendDistortionBlock(Bytes& b, const core::DistortionRecord& r)
{
    const std::size_t size = distortionBlockSize(r);
    if (size == 0)
        return;
    const std::size_t start = b.size();
    b.resize(start + size, 0);
    putRaw(b, start, kTag, sizeof kTag);
    putU32(b, start + 8, kVersion);
    putU32(b, start + 12, static_cast<std::uint32_t>(size));
    putF64(b, start + 16, r.sweepStartHz);
    putF64(b, start + 24, r.sweepEndHz);
    putF64(b, start + 32, r.sweepSeconds);
    putF64(b, start + 40, r.sweepAmplitude);
    putI32(b, start + 48, r.sweepRateHz);
    putU32(b, start + 52, r.noiseCoversBand ? kFlagNoiseCoversBand : 0u);
    std::size_t at = start + kHeaderBytes;
    forEachCurve(r, [&](const std::vector<float>& v) {
        putU32(b, at, static_cast<std::uint32_t>(v.size()));
        putF32s(b, at + 4, v.data(), v.size());
        at += 4 + 4 * v.size();
    });
    putU32(b, at, crc32(b.data() + start, size - 4));
}

bool parseDistortionBlock(const unsigned char* data, std::size_t size, core::DistortionRecord& out)
{
    if (size < kMinBytes || size > kMaxBytes)
        return false;
    if (std::memcmp(data, kTag, sizeof kTag) != 0 || getU32(data, 8) != kVersion ||
        getU32(data, 12) != size)
        return false;
    if (getU32(data, size - 4) != crc32(data, size - 4))
        return false;
    // The curves end where the checksum begins.
    Cursor c(data + 16, size - 16 - 4);
    core::DistortionRecord r;
    std::uint32_t rate = 0;
    std::uint32_t flags = 0;
    if (!c.f64(r.sweepStartHz) || !c.f64(r.sweepEndHz) || !c.f64(r.sweepSeconds) ||
        !c.f64(r.sweepAmplitude) || !c.u32(rate) || !c.u32(flags))
        return false;
    // Bits the writer never sets would not survive a resave.
    if ((flags & ~kFlagNoiseCoversBand) != 0)
        return false;
    r.sweepRateHz = static_cast<int>(rate);
    r.noiseCoversBand = (flags & kFlagNoiseCoversBand) != 0;
    bool ok = true;
    forEachCurve(r, [&](std::vector<float>& v) { ok = ok && c.curve(v); });
    if (!ok || c.position() != size - 16 - 4)
        return false;
    // An empty record has no block; a block that holds one is not what the writer makes.
    if (r.empty() || !core::isPlausibleDistortionRecord(r))
        return false;
    out = std::move(r);
    return true;
}

} // namespace files
