// The fixed table of axis scales, the per-family axis choice and the value-to-coordinate
// mappings shared by curves, bars and the waterfall.
#pragma once

#include "core/Display.h"

#include <array>
#include <string>
#include <vector>

namespace plot {

inline constexpr int kScaleCount = 79;
inline constexpr int kMaxGridLines = 34;

struct ScaleRecord {
    int index = -1;
    std::string optionText;
    float min = 0.0f;
    float max = 0.0f;
    std::string unitText;
    int gridCount = 0;
    std::array<int, kMaxGridLines> gridPos{};
    std::array<std::string, kMaxGridLines> tickLabel{}; // UTF-8; empty draws no text
    bool exists = false;        // entries never offered have no content
    bool logarithmic = false;
};

// The record of an index; any index outside the table (a foreign configuration file) gives an
// empty record without grid lines and with a zero range, which every mapping treats as 0.
const ScaleRecord& scaleRecord(int index);
inline const ScaleRecord& scale(int index) { return scaleRecord(index); }

// The lists of the scales dialog, in their order.
enum class ScaleList { timeSignal, amplitude, impedance, waterfallX, waterfallY, waterfallZ };
const std::vector<int>& scaleList(ScaleList list);

// Families of the frames. 20 (overlay) and 40 (sum) use the axes of family 1.
int axisFamily(int family);
const core::AxisSet& axisSet(int family);
// The scale index in force for a family's x, y or z axis (after the last automatic choice).
int axisScaleIndex(int family, char axis);
const ScaleRecord& axisScale(int family, char axis);

// Automatic axis choice, as drawFrame performs it. Unknown N or rate codes leave the axis.
int timeAxisFor(int n, int rateCode);        // -1 when the combination is not listed
int frequencyAxisFor(int n, int rateCode);   // -1 when the combination is not listed
int levelAxisFor(int rateCode);
// The smallest time-signal value scale of the dialog's list that holds -peak..+peak; the
// largest one when none does; -1 when peak is not above 0.
int timeValueAxisFor(double peak);
void chooseAxes(int family);

// Mappings into plot coordinates (0..10000); out-of-range results are not clamped here.
int mapLinear(double value, const ScaleRecord& s);
int mapTimeSample(int i, int n);
int mapLogFrequency(double f, const ScaleRecord& s);
int mapBarFrequency(double f, const ScaleRecord& s);

// Grid position of value v by the table's rounding rule (nearest unit, exact halves down),
// starting at `base` (1000 value axes, 1500 time axes, 0 waterfall axes).
int roundedGridPos(double v, double min, double max, int base);

} // namespace plot
