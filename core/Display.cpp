#include "core/Display.h"

#include <cstring>
#include <memory>

namespace core {

namespace {

struct AxisDefault {
    const char* name;
    int x, y, z;
};

constexpr AxisDefault kAxisDefaults[kAxisSetCount] = {
    {"Zeitsignal; Sprungantwort", 0, 57, 0},
    {"Amplitudenfrequenzgang", 10, 27, 0},
    {"Amplituden/Impedanzfre.", 10, 19, 0},
    {"Impedanzfrequenzgang", 10, 17, 0},
    {"Impedanzphasenfrequenzgang", 10, 19, 0},
    {"Pegelmessung", 29, 27, 0},
    {"Waserfall (CSD)", 31, 56, 33},
};

std::unique_ptr<DisplaySettings> g_display = std::make_unique<DisplaySettings>();

} // namespace

DisplaySettings::DisplaySettings()
{
    colors = {
        rgb(0, 0, 0),       rgb(192, 192, 192), rgb(255, 255, 255), rgb(255, 0, 0),
        rgb(128, 0, 255),   rgb(50, 128, 20),
        // The overlay curves 1..5, amplitude then phase. The first of each is the system's;
        // the others are hues of their own, each at least 3:1 against the white plot (the
        // system's pale lavender and mint nearly vanished on white, and its blues and greens
        // could not be told apart).
        rgb(0, 0, 128),     rgb(192, 0, 0),     rgb(0, 128, 128),   rgb(176, 96, 0),
        rgb(128, 0, 192),   rgb(0, 128, 0),     rgb(224, 64, 64),   rgb(0, 160, 200),
        rgb(208, 128, 0),   rgb(192, 64, 255),
        rgb(200, 50, 200),  rgb(0, 255, 0),     rgb(50, 255, 50),   rgb(50, 150, 50),
        rgb(0, 100, 150),   rgb(200, 100, 200),
    };
    for (int f = 0; f < kAxisSetCount; ++f)
        axisSets[f] = defaultAxisSet(f);
}

DisplaySettings& displaySettings() { return *g_display; }

void resetDisplaySettings() { *g_display = DisplaySettings{}; }

const char* axisSetName(int family)
{
    if (family < 0 || family >= kAxisSetCount)
        return "";
    return kAxisDefaults[family].name;
}

AxisSet defaultAxisSet(int family)
{
    AxisSet a;
    if (family < 0 || family >= kAxisSetCount)
        return a;
    const AxisDefault& d = kAxisDefaults[family];
    std::strncpy(a.name.data(), d.name, a.name.size() - 1);
    a.x = d.x;
    a.y = d.y;
    a.z = d.z;
    return a;
}

std::uint32_t encodeScaleRef(int index)
{
    return kScaleRefBase + kScaleRefStep * static_cast<std::uint32_t>(index);
}

int decodeScaleRef(std::uint32_t value)
{
    // Unsigned arithmetic first, then a signed quotient, so foreign values never overflow.
    const long long diff = static_cast<long long>(value) - static_cast<long long>(kScaleRefBase);
    return static_cast<int>(diff / static_cast<long long>(kScaleRefStep));
}

} // namespace core
