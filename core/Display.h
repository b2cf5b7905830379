// DisplaySettings: colours, line width, visibility, observer, user texts and the scale
// choices of each diagram family. One process-wide instance.
#pragma once

#include <array>
#include <cstdint>

namespace core {

// Colour value as stored in files: 0x00BBGGRR.
constexpr std::uint32_t rgb(int r, int g, int b)
{
    return static_cast<std::uint32_t>(r) | (static_cast<std::uint32_t>(g) << 8) |
           (static_cast<std::uint32_t>(b) << 16);
}
constexpr int colorRed(std::uint32_t c) { return static_cast<int>(c & 0xFF); }
constexpr int colorGreen(std::uint32_t c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int colorBlue(std::uint32_t c) { return static_cast<int>((c >> 16) & 0xFF); }

enum ColorIndex {
    textColor = 0,
    backgroundColor = 1,
    plotAreaColor = 2,
    markerColor = 3,
    timeSignalColor = 4,
    stepResponseColor = 5,
    amplitudeColor0 = 6,   // 6..10: amplitudeColor[0..4]
    phaseColor0 = 11,      // 11..15: phaseColor[0..4]
    impedanceColor = 16,
    impedancePhaseColor = 17,
    levelCurrentColor = 18,
    levelMeanColor = 19,
    csdLineColor = 20,
    csdFaceColor = 21,
    kColorCount = 22,
};

// The scale choices of one diagram family: a name and three references into the scale
// table (indices; -1 would mean none, never produced by the program).
struct AxisSet {
    std::array<char, 32> name{};
    int x = 0;
    int y = 0;
    int z = 0;
};

// Families: 0 time signal/step response, 1 amplitude, 2 amplitude/impedance,
// 3 impedance, 4 impedance phase, 5 level, 6 waterfall.
inline constexpr int kAxisSetCount = 7;

struct DisplaySettings {
    std::array<std::uint32_t, kColorCount> colors{};
    int lineWidth = 20;                 // 1 narrow, 20 medium, 40 wide
    int showAmplitude = 1;
    int showPhase = 1;
    int showImpedance = 1;
    int showImpedancePhase = 1;
    int showTimeSignal = 1;
    int showStepResponse = 0;
    int levelDisplayMode = 3;           // 1 current, 2 mean/peak, 3 both
    std::array<int, 3> observer{15000, 60000, 45000};
    int projectionPlaneZ = 20000;
    std::array<std::array<char, 100>, 8> userText{}; // Windows-1252, NUL-terminated
    std::array<AxisSet, kAxisSetCount> axisSets{};
    // What the distortion view draws. Kept in memory only: the configuration file has no
    // field for them, and its layout stays as it is.
    bool showHigherHarmonics = false; // H4 and H5 besides H2 and H3
    bool showThdInsteadOfHarmonics = false;

    DisplaySettings(); // fills colours and axis sets with their defaults
};

DisplaySettings& displaySettings();
void resetDisplaySettings();

// The name and default scale indices of each family.
const char* axisSetName(int family);
AxisSet defaultAxisSet(int family);

// Scale references as the configuration file stores them.
inline constexpr std::uint32_t kScaleRefBase = 4481136u;
inline constexpr std::uint32_t kScaleRefStep = 308u;
std::uint32_t encodeScaleRef(int index);
int decodeScaleRef(std::uint32_t value); // may give any int for foreign files: check the range

} // namespace core
