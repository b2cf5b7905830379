#include "plot/Scales.h"

#include "core/Settings.h"
#include "core/Store.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace plot {

namespace {

enum class Base { value = 1000, time = 1500, cube = 0 };

// A linear scale: grid line i stands for min + i * step (or for values[i] where the table
// names the values), positioned by the rounding rule.
struct LinearDef {
    int index;
    const char* option;
    float min, max;
    const char* unit;
    Base base;
    int count;
    double step;
    const char* labels;         // '|'-separated, "-" for no label
    std::vector<double> values; // empty: min + i * step
};

// A logarithmic scale: positions as the table gives them.
struct LogDef {
    int index;
    const char* option;
    float min, max;
    const char* unit;
    std::vector<int> positions;
    const char* labels;
};

const std::vector<LinearDef>& linearDefs()
{
    static const std::vector<LinearDef> defs = {
        // Time axes.
        {0, "Min:0ms  Max:640ms", 0, 640, "[ms]", Base::time, 8, 100, "0|100|200|300|400|500|600|640",
         {0, 100, 200, 300, 400, 500, 600, 640}},
        {1, "Min:0ms  Max:320ms", 0, 320, "[ms]", Base::time, 9, 40, "0|40|80|120|160|200|240|280|320", {}},
        {2, "Min:0msec  Max:160msec", 0, 160, "[ms]", Base::time, 9, 20, "0|20|40|60|80|100|120|140|160", {}},
        {3, "Min:0msec  Max:80msec", 0, 80, "[ms]", Base::time, 9, 10, "0|10|20|30|40|50|60|70|80", {}},
        {20, "Min:0ms  Max:20ms", 0, 20, "[ms]", Base::time, 5, 5, "0|5|10|15|20", {}},
        {21, "Min:0ms  Max:10ms", 0, 10, "[ms]", Base::time, 6, 2, "0|2|4|6|8|10", {}},
        {61, "Min:0msec  Max:40msec", 0, 40, "[ms]", Base::time, 9, 5, "0|5|10|15|20|25|30|35|40", {}},
        {76, "Min:0ms  Max:1280ms", 0, 1280, "[ms]", Base::time, 9, 160, "0|160|320|480|640|800|960|1120|1280", {}},
        // Time-signal value axes.
        {4, "Min:-1,5V   Max:+1,5V", -1.5f, 1.5f, "[Volt]", Base::value, 7, 0.5, "-1,5|-1,0|-0,5|0|+0,5|+1,0|Volt", {}},
        {5, "Min:-0,5V   Max:+0,5V", -0.5f, 0.5f, "[Volt]", Base::value, 5, 0.25, "-0,5|-0,25|0|+0,25|Volt", {}},
        {6, "Min:-0,15   Max:+0,15", -0.15f, 0.15f, "[Volt]", Base::value, 7, 0.05, "-0,15|-0,10|-0,05|0|+0,05|+0,10|Volt", {}},
        {7, "Min:-0,05V   Max:+0,05V", -0.05f, 0.05f, "[Volt]", Base::value, 5, 0.025, "-0,05|-0,025|0|+0,025|Volt", {}},
        {57, "Min:-0,01V   Max:+0,01V", -0.01f, 0.01f, "[Volt]", Base::value, 5, 0.005, "-0,01|-0,005|0|+0,005|Volt", {}},
        {58, "Min:-0,005V   Max:+0,005V", -0.005f, 0.005f, "[Volt]", Base::value, 11, 0.001,
         "-0,005|-0,004|-0,003|-0,002|-0,001|0|+0,001|+0,002|+0,003|+0,004|Volt", {}},
        {59, "Min:-0,002V   Max:+0,002V", -0.002f, 0.002f, "[Volt]", Base::value, 5, 0.001, "-0,002|-0,001|0|+0,001|Volt", {}},
        {60, "Min:-0,001V   Max:+0,001V", -0.001f, 0.001f, "[Volt]", Base::value, 5, 0.0005, "-0,001|-0,0005|0|0,0005|Volt", {}},
        {63, "Min:-0,0005V   Max:+0,0005V", -0.0005f, 0.0005f, "[Volt]", Base::value, 11, 0.0001,
         "-0,0005|-0,0004|-0,0003|-0,0002|-0,0001|0|0,0001|0,0002|0,0003|0,0004|Volt", {}},
        // Amplitude and level axes.
        {12, "Min:-100dB   Max:+40dB", -100, 40, "[dB]", Base::value, 8, 20, "-100|-80|-60|-40|-20|0|+20|dB", {}},
        {46, "Min:-70dB   Max:+0dB", -70, 0, "[dB]", Base::value, 8, 10, "-70|-60|-50|-40|-30|-20|-10|dB", {}},
        {15, "Min:-60dB    Max:+10dB  ", -60, 10, "[dB]", Base::value, 8, 10, "-60|-50|-40|-30|-20|-10|0|dB", {}},
        {45, "Min:-50dB   Max:+20dB", -50, 20, "[dB]", Base::value, 8, 10, "-50|-40|-30|-20|-10|0|+10|dB", {}},
        {16, "Min:-30dB    Max:+5dB  ", -30, 5, "[dB]", Base::value, 8, 5, "-30|-25|-20|-15|-10|-5|0|dB", {}},
        {47, "Min:-20dB   Max:+15dB", -20, 15, "[dB]", Base::value, 8, 5, "-20|-15|-10|-5|0|+5|+10|dB", {}},
        {64, "Min:-60dB   Max:-25dB", -60, -25, "[dB]", Base::value, 8, 5, "-60|-55|-50|-45|-40|-35|-30|dB", {}},
        {48, "Min:-50dB   Max:-15dB", -50, -15, "[dB]", Base::value, 8, 5, "-50|-45|-40|-35|-30|-25|-20|dB", {}},
        {65, "Min:-40dB   Max:-5dB", -40, -5, "[dB]", Base::value, 8, 5, "-40|-35|-30|-25|-20|-15|-10|dB", {}},
        {26, "Min:0dBSPL    Max:+140dBSPL", 0, 140, "[dBSPL]", Base::value, 8, 20, "0|+20|+40|+60|+80|+100|+120|dBSPL", {}},
        {71, "Min:+40dBSPL  Max:+180dBSPL", 40, 180, "[dBSPL]", Base::value, 8, 20, "+40|+60|+80|+100|+120|+140|+160|dBSPL", {}},
        {27, "Min:+50dBSPL  Max:+110dBSPL", 50, 110, "[dBSPL]", Base::value, 7, 10, "+50|+60|+70|+80|+90|+100|dBSPL", {}},
        {67, "Min:+55dBSPL  Max:+90dBSPL", 55, 90, "[dBSPL]", Base::value, 8, 5, "+55|+60|+65|+70|+75|+80|85|dBSPL", {}},
        {66, "Min:+60dBSPL  Max:+100dBSPL", 60, 100, "[dBSPL]", Base::value, 9, 5, "+60|+65|+70|+75|+80|+85|90|95|dBSPL", {}},
        {49, "Min:+70dBSPL  Max:+130dBSPL", 70, 130, "[dBSPL]", Base::value, 7, 10, "+70|+80|+90|+100|+110|+120|dBSPL", {}},
        {51, "Min:+75dBSPL  Max:+110dBSPL", 75, 110, "[dBSPL]", Base::value, 8, 5, "+75|+80|+85|+90|+95|+100|105|dBSPL", {}},
        {50, "Min:+80dBSPL  Max:+120dBSPL", 80, 120, "[dBSPL]", Base::value, 9, 5, "+80|+85|+90|+95|+100|+105|110|115|dBSPL", {}},
        {68, "Min:+90dBSPL  Max:+150dBSPL", 90, 150, "[dBSPL]", Base::value, 7, 10, "+90|+100|+110|+120|+130|+140|dBSPL", {}},
        {70, "Min:+110dBSPL  Max:+150dBSPL", 110, 150, "[dBSPL]", Base::value, 9, 5, "+110|+115|+120|+125|+130|+135|+140|+145|dBSPL", {}},
        {69, "Min:+120dBSPL Max:+170dBSPL", 120, 170, "[dBSPL]", Base::value, 11, 5,
         "+120|+125|+130|+135|+140|+145|+150|+155|+160|+165|dBSPL", {}},
        // Phase axis.
        {19, "Min:-180 Grad   Max:+180 Grad", -180, 180, "[Deg]", Base::value, 9, 45, "-180|-135|-90|-45|0|45|90|135|Deg", {}},
        // Impedance axes.
        {73, "Min:0 Ohm     Max:400 Ohm", 0, 400, "[Ohm]", Base::value, 9, 50, "0|50|100|150|200|250|300|350|Ohm", {}},
        {13, "Min:0 Ohm     Max:200 Ohm", 0, 200, "[Ohm]", Base::value, 11, 20, "0|20|40|60|80|100|120|140|160|180|Ohm", {}},
        {17, "Min:0 Ohm     Max:100 Ohm", 0, 100, "[Ohm]", Base::value, 11, 10, "0|10|20|30|40|50|60|70|80|90|Ohm", {}},
        {18, "Min:0 Ohm       Max:50 Ohm", 0, 50, "[Ohm]", Base::value, 11, 5, "0|5|10|15|20|25|30|35|40|45|Ohm", {}},
        {74, "Min:0 Ohm       Max:20 Ohm", 0, 20, "[Ohm]", Base::value, 9, 2.5, "0|2,5|5|7,5|10|12,5|15|17,5|Ohm", {}},
        // Waterfall level axes.
        {38, "Min:-100 dB  Max:+40 dB", -100, 40, "[dB]", Base::cube, 15, 10, "-100|-|-80|-|-60|-|-40|-|-20|-|0|-|+20|-|dB", {}},
        {39, "Min:-50 dB  Max:+20 dB", -50, 20, "[dB]", Base::cube, 8, 10, "-50|-40|-30|-20|-10|0|+10|dB", {}},
        {40, "Min:-60 dB  Max:+10 dB", -60, 10, "[dB]", Base::cube, 8, 10, "-60|-50|-40|-30|-20|-10|0|dB", {}},
        {41, "Min:-70 dB  Max:+0 dB", -70, 0, "[dB]", Base::cube, 8, 10, "-70|-60|-50|-40|-30|-20|-10|dB", {}},
        {42, "Min:-20 dB  Max:+15 dB", -20, 15, "[dB]", Base::cube, 8, 5, "-20|-15|-10|-5|0|+5|+10|dB", {}},
        {43, "Min:-30 dB  Max:+5 dB", -30, 5, "[dB]", Base::cube, 8, 5, "-30|-25|-20|-15|-10|-5|0|dB", {}},
        {44, "Min:-50 dB  Max:-15 dB", -50, -15, "[dB]", Base::cube, 8, 5, "-50|-45|-40|-35|-30|-25|-20|dB", {}},
        {34, "Min:0 dBSPL  Max:+140dBSPL", 0, 140, "[dBSPL]", Base::cube, 15, 10, "0|-|20|-|40|-|60|-|80|-|100|-|120|-|dBSPL", {}},
        {35, "Min:+70dBSPL  Max:+140dBSPL", 70, 140, "[dBSPL]", Base::cube, 8, 10, "70|80|90|100|110|120|130|dBSPL", {}},
        {32, "Min:+50dBSPL  Max:+110dBSPL", 50, 110, "[dBSPL]", Base::cube, 7, 10, "+50|+60|+70|+80|+90|+100|dBSPL", {}},
        {72, "Min:+55dBSPL  Max:+90dBSPL", 55, 90, "[dBSPL]", Base::cube, 8, 5, "+55|+60|+65|+70|+75|+80|+85|dBSPL", {}},
        {36, "Min:+80dBSPL  Max:+120dBSPL", 80, 120, "[dBSPL]", Base::cube, 9, 5, "80|-|90|-|100|-|110|-|dBSPL", {}},
        {37, "Min:+70dBSPL  Max:+110dBSPL", 70, 110, "[dBSPL]", Base::cube, 9, 5, "70|-|80|-|90|-|100|-|dBSPL", {}},
        {56, "Min:-30 dB  Max:+5 dB (relativ)", -30, 5, "[dB(rel)]", Base::cube, 8, 5, "-30|-25|-20|-15|-10|-5|0|dB(rel.)", {}},
        {75, "Min:-60 dB  Max:+10 dB (relativ)", -60, 10, "[dB(rel)]", Base::cube, 8, 10, "-60|-50|-40|-30|-20|-10|0|dB(rel.)", {}},
        // Waterfall time axes, in seconds.
        {52, "Min:0 msec    Max:2 msec", 0, 0.002f, "[msec]", Base::cube, 9, 0.00025, "0|-|0,5|-|1|-|1,5|-|msec", {}},
        {33, "Min:0 msec    Max:4 msec", 0, 0.004f, "[msec]", Base::cube, 9, 0.0005, "0|-|1|-|2|-|3|-|msec", {}},
        {53, "Min:0 msec    Max:8 msec", 0, 0.008f, "[msec]", Base::cube, 9, 0.001, "0|-|2|-|4|-|6|-|msec", {}},
    };
    return defs;
}

const std::vector<LogDef>& logDefs()
{
    static const std::vector<LogDef> defs = {
        {8, "Min:20Hz  Max:20kHz  (log.)", 20, 20000, "[Hz]",
         {1500, 2087, 2503, 2826, 3090, 3314, 3507, 3677, 3830, 4833, 5420, 5837, 6160, 6424,
          6647, 6840, 7011, 7163, 8167, 8754, 9170, 9493, 9757, 9980, 10174, 10344, 10497, 11500},
         "20|30|-|-|-|-|-|-|100|200|300|-|-|-|-|-|-|1k|2k|3k|-|-|-|-|-|-|10k|20k"},
        {9, "Min:80Hz  Max:20kHz  (log.)", 80, 20000, "[Hz]",
         {1500, 1713, 1904, 3159, 3894, 4415, 4819, 5149, 5428, 5670, 5884, 6074, 7330, 8064,
          8585, 8989, 9319, 9599, 9840, 10054, 10245, 11500},
         "-|-|100|200|300|-|-|-|-|-|-|1k|2k|3k|-|-|-|-|-|-|10k|20k"},
        {10, "Min:20Hz  Max:2,5kHz  (log.)", 20, 2500, "[Hz]",
         {1500, 2340, 2936, 3398, 3775, 4095, 4371, 4615, 4833, 6269, 7109, 7704, 8167, 8544,
          8863, 9140, 9384, 9602, 11038, 11500},
         "20|30|-|-|-|-|-|-|100|200|300|-|-|-|-|-|-|1k|2k|-"},
        {11, "Min:10Hz  Max:2,5kHz  (log.)", 10, 2500, "[Hz]",
         {1500, 2755, 3490, 4011, 4415, 4745, 5024, 5266, 5479, 5670, 6926, 7660, 8181, 8585,
          8915, 9194, 9436, 9650, 9840, 11096, 11500},
         "10|20|30|-|-|-|-|-|-|100|200|300|-|-|-|-|-|-|1k|2k|-"},
        {77, "Min:10Hz  Max:1,25kHz  (log.)", 10, 1250, "[Hz]",
         {1500, 2936, 3775, 4371, 4833, 5211, 5530, 5807, 6051, 6269, 7704, 8544, 9140, 9602,
          9980, 10299, 10576, 10820, 11038, 11500},
         "10|20|30|-|-|-|-|-|-|100|200|300|-|-|-|-|-|-|1k|-"},
        {78, "Min:5Hz  Max:1,25kHz  (log.)", 5, 1250, "[Hz]",
         {1500, 1830, 2109, 2351, 2564, 2755, 4010, 4745, 5266, 5670, 6000, 6279, 6521, 6735,
          6926, 8181, 8915, 9436, 9840, 10171, 10450, 10692, 10905, 11096, 11500},
         "5|-|-|-|-|10|20|30|-|-|-|-|-|-|100|200|300|-|-|-|-|-|-|1k|-"},
        {29, "Min:25Hz  Max:20kHz  (log.)", 25, 20000, "[Hz]",
         {1500, 1852, 2885, 3918, 4952, 5985, 7018, 8052, 9085, 10119, 11152, 11500},
         "-|31,5|63|125|250|500|1k|2k|4k|8k|16k|-"},
        {62, "Min:3Hz  Max:2,5kHz  (log.)", 3, 2500, "[Hz]",
         {1500, 1927, 2958, 3989, 4996, 6027, 7046, 8076, 9107, 10138, 11168, 11500},
         "-|4|8|16|31,5|63|125|250|500|1k|2k|-"},
        {31, "Min:300Hz  Max:20kHz  (log)", 300, 20000, "[Hz]",
         {0, 685, 1216, 1650, 2017, 2335, 2616, 2867, 4517, 5483, 6168, 6699, 7133, 7500, 7818,
          8098, 8349, 10000},
         "300|400|-|-|-|-|-|1k|2k|3k|4k|-|-|-|-|-|10k|Hz"},
        {54, "Min:600Hz  Max:20kHz  (log)", 600, 20000, "[Hz]",
         {0, 440, 820, 1156, 1457, 3433, 4589, 5410, 6047, 6533, 7006, 7387, 7723, 8023, 10000},
         "600|-|-|-|1k|2k|3k|-|-|-|-|-|-|10k|Hz"},
        {55, "Min:1,5kHz  Max:20kHz  (log)", 1500, 20000, "[Hz]",
         {0, 1111, 2676, 3787, 4648, 5352, 5947, 6463}, "1,5k|2k|3k|-|-|-|-|-"},
    };
    return defs;
}

void setLabels(ScaleRecord& r, const char* labels)
{
    int i = 0;
    std::string cur;
    for (const char* p = labels;; ++p) {
        if (*p == '|' || *p == '\0') {
            if (i < kMaxGridLines)
                r.tickLabel[static_cast<std::size_t>(i)] = (cur == "-") ? std::string() : cur;
            ++i;
            cur.clear();
            if (*p == '\0')
                break;
        } else {
            cur += *p;
        }
    }
}

// The eight-line waterfall level axes put their second line one unit lower than the
// rounding rule would; the program has always drawn them that way.
bool hasSecondLineException(int index)
{
    switch (index) {
    case 39: case 40: case 41: case 42: case 43: case 44: case 35: case 72: case 56: case 75:
        return true;
    default:
        return false;
    }
}

std::array<ScaleRecord, kScaleCount> buildTable()
{
    std::array<ScaleRecord, kScaleCount> t{};
    for (int i = 0; i < kScaleCount; ++i)
        t[static_cast<std::size_t>(i)].index = i;
    for (const LinearDef& d : linearDefs()) {
        ScaleRecord& r = t[static_cast<std::size_t>(d.index)];
        r.optionText = d.option;
        r.min = d.min;
        r.max = d.max;
        r.unitText = d.unit;
        r.exists = true;
        r.gridCount = d.count;
        for (int i = 0; i < d.count && i < kMaxGridLines; ++i) {
            const double v = d.values.empty() ? d.min + i * d.step : d.values[static_cast<std::size_t>(i)];
            r.gridPos[static_cast<std::size_t>(i)] = roundedGridPos(v, d.min, d.max, static_cast<int>(d.base));
        }
        if (hasSecondLineException(d.index))
            r.gridPos[1] = 1428;
        setLabels(r, d.labels);
    }
    for (const LogDef& d : logDefs()) {
        ScaleRecord& r = t[static_cast<std::size_t>(d.index)];
        r.optionText = d.option;
        r.min = d.min;
        r.max = d.max;
        r.unitText = d.unit;
        r.exists = true;
        r.logarithmic = true;
        r.gridCount = static_cast<int>(d.positions.size());
        for (std::size_t i = 0; i < d.positions.size() && i < kMaxGridLines; ++i)
            r.gridPos[i] = d.positions[i];
        setLabels(r, d.labels);
    }
    return t;
}

const std::array<ScaleRecord, kScaleCount>& table()
{
    static const std::array<ScaleRecord, kScaleCount> t = buildTable();
    return t;
}

// Converts a double to int by truncation toward zero, bounded so that absurd values from
// foreign files cannot overflow.
int truncBounded(double v)
{
    if (std::isnan(v))
        return 0;
    if (v > 1e9)
        return 1000000000;
    if (v < -1e9)
        return -1000000000;
    return static_cast<int>(v);
}

} // namespace

int roundedGridPos(double v, double min, double max, int base)
{
    // Exact decimal arithmetic in millionths, so that halves are recognised as halves.
    const long long num = std::llround((v - min) * 1e6) * 10000LL;
    const long long den = std::llround((max - min) * 1e6);
    if (den <= 0)
        return base;
    long long q = num / den;
    long long r = num % den;
    if (r < 0) {
        r += den;
        --q;
    }
    if (2 * r > den)
        ++q;
    return base + static_cast<int>(q);
}

const ScaleRecord& scaleRecord(int index)
{
    static const ScaleRecord empty{};
    if (index < 0 || index >= kScaleCount)
        return empty;
    return table()[static_cast<std::size_t>(index)];
}

const std::vector<int>& scaleList(ScaleList list)
{
    static const std::vector<int> time = {4, 5, 6, 7, 57, 58, 59, 60, 63};
    static const std::vector<int> amplitude = {12, 46, 15, 45, 16, 47, 64, 48, 65, 26,
                                               71, 27, 67, 66, 49, 51, 50, 68, 70, 69};
    static const std::vector<int> impedance = {73, 13, 17, 18, 74};
    static const std::vector<int> wx = {31, 54, 55};
    static const std::vector<int> wy = {38, 39, 40, 41, 42, 43, 44, 34, 35, 32, 72, 36, 37, 56, 75};
    static const std::vector<int> wz = {52, 33, 53};
    switch (list) {
    case ScaleList::timeSignal: return time;
    case ScaleList::amplitude: return amplitude;
    case ScaleList::impedance: return impedance;
    case ScaleList::waterfallX: return wx;
    case ScaleList::waterfallY: return wy;
    case ScaleList::waterfallZ: return wz;
    }
    return time;
}

int axisFamily(int family)
{
    if (family == 20 || family == 40)
        return 1;
    if (family < 0 || family >= core::kAxisSetCount)
        return 1;
    return family;
}

const core::AxisSet& axisSet(int family)
{
    return core::displaySettings().axisSets[static_cast<std::size_t>(axisFamily(family))];
}

int axisScaleIndex(int family, char axis)
{
    const core::AxisSet& a = axisSet(family);
    return axis == 'x' ? a.x : axis == 'y' ? a.y : a.z;
}

const ScaleRecord& axisScale(int family, char axis) { return scaleRecord(axisScaleIndex(family, axis)); }

int timeAxisFor(int n, int rateCode)
{
    int col = -1;
    switch (n) {
    case 512: col = 0; break;
    case 1024: col = 1; break;
    case 2048: col = 2; break;
    case 4096: col = 3; break;
    default: return -1;
    }
    static constexpr int kTable[3][4] = {{3, 2, 1, 0}, {21, 20, 61, 3}, {2, 1, 0, 76}};
    if (rateCode < 1 || rateCode > 3)
        return -1;
    return kTable[rateCode - 1][col];
}

int frequencyAxisFor(int n, int rateCode)
{
    int col = -1;
    if (n == 512 || n == 1024)
        col = 0;
    else if (n == 2048 || n == 4096)
        col = 1;
    else
        return -1;
    static constexpr int kTable[3][2] = {{10, 11}, {9, 8}, {77, 78}};
    if (rateCode < 1 || rateCode > 3)
        return -1;
    return kTable[rateCode - 1][col];
}

int levelAxisFor(int rateCode) { return rateCode == 1 ? 62 : 29; }

namespace {
bool holds(const ScaleRecord& s, double peak) { return s.min <= -peak && s.max >= peak; }
} // namespace

int timeValueAxisFor(double peak)
{
    if (!(peak > 0.0))
        return -1;
    int best = -1;
    int largest = -1;
    for (const int idx : scaleList(ScaleList::timeSignal)) {
        const ScaleRecord& s = scaleRecord(idx);
        if (largest < 0 || s.max > scaleRecord(largest).max)
            largest = idx;
        if (holds(s, peak) && (best < 0 || s.max < scaleRecord(best).max))
            best = idx;
    }
    return best >= 0 ? best : largest;
}

namespace {

// Trailer floats from files may be anything; only exact listed values count.
int trailerInt(float v)
{
    if (!std::isfinite(v) || v < -1e6f || v > 1e6f || v != std::floor(v))
        return -1;
    return static_cast<int>(v);
}

void chooseFrequencyAxis(int family, const core::CurveBuffer& curve)
{
    const int idx = frequencyAxisFor(trailerInt(curve.trailerN()), trailerInt(curve.trailerRate()));
    if (idx >= 0)
        core::displaySettings().axisSets[static_cast<std::size_t>(family)].x = idx;
}

// The largest magnitude the time view draws: the samples 1 .. N - 1 of the shown curves, where
// the time record has a value.
double shownTimePeak()
{
    const core::DisplaySettings& d = core::displaySettings();
    const core::MeasurementStore& st = core::store();
    const int n = std::clamp(trailerInt(st.timeRecord.trailerN()), 0, core::kRecordSamples);
    double peak = 0.0;
    auto take = [&peak](float v) {
        if (v != core::NO_VALUE && std::isfinite(v))
            peak = std::max(peak, std::fabs(static_cast<double>(v)));
    };
    for (int i = 1; i < n; ++i) {
        const float t = st.timeRecord[static_cast<std::size_t>(i)];
        if (t == core::NO_VALUE || !std::isfinite(t))
            continue;
        if (d.showTimeSignal)
            take(t);
        if (d.showStepResponse)
            take(st.stepResponseCurve[static_cast<std::size_t>(i)]);
    }
    return peak;
}

} // namespace

void chooseAxes(int family)
{
    core::DisplaySettings& d = core::displaySettings();
    const core::MeasurementStore& st = core::store();
    switch (family) {
    case 0: {
        const int idx = timeAxisFor(trailerInt(st.timeRecord.trailerN()),
                                    trailerInt(st.timeRecord.trailerRate()));
        if (idx >= 0)
            d.axisSets[0].x = idx;
        // A value scale the shown curve runs off is replaced by the smallest one that holds
        // it; a scale that holds the curve is the user's choice and stays.
        const double peak = shownTimePeak();
        if (peak > 0.0 && !holds(axisScale(0, 'y'), peak))
            if (const int y = timeValueAxisFor(peak); y >= 0)
                d.axisSets[0].y = y;
        break;
    }
    case 1: case 2: case 3: case 20: case 40:
        chooseFrequencyAxis(1, st.amplitudeSlots[0]);
        chooseFrequencyAxis(2, st.phaseSlots[0]);
        chooseFrequencyAxis(3, st.impedanceMagnitude);
        chooseFrequencyAxis(4, st.impedancePhase);
        break;
    case 5:
        d.axisSets[5].x = levelAxisFor(core::settings().sampleRate);
        break;
    default:
        break;
    }
}

int mapLinear(double value, const ScaleRecord& s)
{
    const double span = static_cast<double>(s.max) - static_cast<double>(s.min);
    if (!(span != 0.0) || !std::isfinite(value))
        return 0;
    return truncBounded((10000.0 / span) * (value - static_cast<double>(s.min)));
}

int mapTimeSample(int i, int n)
{
    if (n <= 0)
        return 0;
    return truncBounded(10000.0 / n * i);
}

int mapLogFrequency(double f, const ScaleRecord& s)
{
    const double fmin = s.min;
    const double fmax = s.max;
    if (!(fmin > 0.0) || !(fmax > fmin) || !(f > 0.0) || !std::isfinite(f))
        return 0;
    const double lnMax = std::log(fmax);
    if (lnMax == 0.0)
        return 0;
    double k = 10000.0 / (lnMax - std::log(fmin));
    // The offset is held as a 32-bit float and the factor recomputed from it; the results
    // differ from the plain formula by at most one unit, and that unit is kept.
    const float o = static_cast<float>(k * lnMax - 10000.0);
    k = (static_cast<double>(o) + 10000.0) / lnMax;
    return truncBounded(k * std::log(f)) - truncBounded(static_cast<double>(o));
}

int mapBarFrequency(double f, const ScaleRecord& s)
{
    const double fmin = s.min;
    const double fmax = s.max;
    if (!(fmin > 0.0) || !(fmax > fmin) || !(f > 0.0) || !std::isfinite(f))
        return 0;
    const double k = 10000.0 / (std::log(fmax) - std::log(fmin));
    return truncBounded(k * (std::log(f) - std::log(fmin)));
}

} // namespace plot
