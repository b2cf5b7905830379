#include "app/UnsavedLoss.h"

#include "files/MeasurementFile.h"

#include <algorithm>
#include <cstring>

namespace app
{

namespace
{
using namespace files::mes;

struct Block {
    std::size_t offset;
    std::size_t size;
};

bool sameBytes(const files::Bytes& a, const files::Bytes& b, Block block)
{
    return std::memcmp(a.data() + block.offset, b.data() + block.offset, block.size) == 0;
}

bool allZero(const files::Bytes& image, Block block)
{
    const auto first = image.begin() + static_cast<std::ptrdiff_t>(block.offset);
    return std::all_of(first, first + static_cast<std::ptrdiff_t>(block.size),
                       [](unsigned char c) { return c == 0; });
}

// A block whose data would go: it holds something, and not what the saved image holds.
bool unsavedBlock(const files::Bytes& saved, const files::Bytes& now, Block block)
{
    return !allZero(now, block) && !sameBytes(saved, now, block);
}

bool occupied(const files::Bytes& image, int slot)
{
    // Only 1 marks a slot, as the views take it.
    const std::size_t at = kSlotOccupied + 4 * static_cast<std::size_t>(slot);
    return image[at] == 1 && image[at + 1] == 0 && image[at + 2] == 0 && image[at + 3] == 0;
}

bool sameCurve(const files::Bytes& a, int slotA, const files::Bytes& b, int slotB)
{
    const std::size_t ampA = kAmplitudeSlots + slotA * kCurveBytes;
    const std::size_t ampB = kAmplitudeSlots + slotB * kCurveBytes;
    const std::size_t phaA = kPhaseSlots + slotA * kCurveBytes;
    const std::size_t phaB = kPhaseSlots + slotB * kCurveBytes;
    return std::memcmp(a.data() + ampA, b.data() + ampB, kCurveBytes) == 0 &&
           std::memcmp(a.data() + phaA, b.data() + phaB, kCurveBytes) == 0;
}

// The curve of slot `slot` of `now` is in some occupied slot of `saved`: overlays move on
// with every measurement, so the slot it was saved in need not be the one it is in now.
bool curveSaved(const files::Bytes& saved, const files::Bytes& now, int slot)
{
    for (int k = 0; k < 5; ++k)
        if (occupied(saved, k) && sameCurve(saved, k, now, slot))
            return true;
    return false;
}

bool losesCurves(const files::Bytes& saved, const files::Bytes& now, bool axisChanged)
{
    for (int k = 0; k < 5; ++k) {
        if (!occupied(now, k) || curveSaved(saved, now, k))
            continue;
        // Slot 4 is overwritten when slot 3 moves on; with a new frequency axis every overlay
        // is dropped and slot 0 moves into an overlay that is dropped too.
        if (axisChanged || (k == 4 && occupied(now, 3)))
            return true;
    }
    return false;
}

constexpr Block kImpedance{kImpedancePhase, 2 * kCurveBytes};
// The band frequencies follow the rate; only the measured values are data.
constexpr Block kLevelMeans{kLevelMeanPeak, kLevelBytes};
constexpr Block kLevelNow{kLevelCurrent, kLevelBytes};
constexpr Block kWaterfall{kCsdFrequency, 3 * kCsdBytes};
constexpr Block kTsText{kTsResultText, files::kMeasurementFileSize - kTsResultText};

} // namespace

bool losesUnsavedData(Replaces what, const files::Bytes& saved, const files::Bytes& now,
                      bool axisChanged)
{
    if (saved.size() != files::kMeasurementFileSize || now.size() != files::kMeasurementFileSize)
        return what != Replaces::Nothing;
    switch (what) {
    case Replaces::Nothing:
        return false;
    case Replaces::ResponseCurve:
        return losesCurves(saved, now, axisChanged);
    case Replaces::Impedance:
        return unsavedBlock(saved, now, kImpedance);
    case Replaces::ImpedanceAndTs:
        return unsavedBlock(saved, now, kImpedance) || unsavedBlock(saved, now, kTsText);
    case Replaces::TsResult:
        return unsavedBlock(saved, now, kTsText);
    case Replaces::Level:
        return unsavedBlock(saved, now, kLevelMeans) || unsavedBlock(saved, now, kLevelNow);
    case Replaces::Waterfall:
        return unsavedBlock(saved, now, kWaterfall);
    case Replaces::Everything:
        return saved != now;
    }
    return true;
}

} // namespace app
