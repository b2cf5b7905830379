#include "app/dialogs/ScaleChoices.h"

#include <array>

namespace app::dialogs {

namespace {

constexpr std::array<int, 9> kTimeSignal{4, 5, 6, 7, 57, 58, 59, 60, 63};
constexpr std::array<int, 20> kAmplitude{12, 46, 15, 45, 16, 47, 64, 48, 65, 26,
                                         71, 27, 67, 66, 49, 51, 50, 68, 70, 69};
constexpr std::array<int, 5> kImpedance{73, 13, 17, 18, 74};
constexpr std::array<int, 3> kCsdX{31, 54, 55};
constexpr std::array<int, 15> kCsdY{38, 39, 40, 41, 42, 43, 44, 34, 35, 32, 72, 36, 37, 56, 75};
constexpr std::array<int, 3> kCsdZ{52, 33, 53};

// Option texts are shown exactly as the system has them, odd blanks included.
constexpr ScaleChoice kChoices[] = {
    {4, "Min:-1,5V   Max:+1,5V", -1.5f, 1.5f, "[Volt]"},
    {5, "Min:-0,5V   Max:+0,5V", -0.5f, 0.5f, "[Volt]"},
    {6, "Min:-0,15   Max:+0,15", -0.15f, 0.15f, "[Volt]"},
    {7, "Min:-0,05V   Max:+0,05V", -0.05f, 0.05f, "[Volt]"},
    {57, "Min:-0,01V   Max:+0,01V", -0.01f, 0.01f, "[Volt]"},
    {58, "Min:-0,005V   Max:+0,005V", -0.005f, 0.005f, "[Volt]"},
    {59, "Min:-0,002V   Max:+0,002V", -0.002f, 0.002f, "[Volt]"},
    {60, "Min:-0,001V   Max:+0,001V", -0.001f, 0.001f, "[Volt]"},
    {63, "Min:-0,0005V   Max:+0,0005V", -0.0005f, 0.0005f, "[Volt]"},

    {12, "Min:-100dB   Max:+40dB", -100.0f, 40.0f, "[dB]"},
    {46, "Min:-70dB   Max:+0dB", -70.0f, 0.0f, "[dB]"},
    {15, "Min:-60dB    Max:+10dB  ", -60.0f, 10.0f, "[dB]"},
    {45, "Min:-50dB   Max:+20dB", -50.0f, 20.0f, "[dB]"},
    {16, "Min:-30dB    Max:+5dB  ", -30.0f, 5.0f, "[dB]"},
    {47, "Min:-20dB   Max:+15dB", -20.0f, 15.0f, "[dB]"},
    {64, "Min:-60dB   Max:-25dB", -60.0f, -25.0f, "[dB]"},
    {48, "Min:-50dB   Max:-15dB", -50.0f, -15.0f, "[dB]"},
    {65, "Min:-40dB   Max:-5dB", -40.0f, -5.0f, "[dB]"},
    {26, "Min:0dBSPL    Max:+140dBSPL", 0.0f, 140.0f, "[dBSPL]"},
    {71, "Min:+40dBSPL  Max:+180dBSPL", 40.0f, 180.0f, "[dBSPL]"},
    {27, "Min:+50dBSPL  Max:+110dBSPL", 50.0f, 110.0f, "[dBSPL]"},
    {67, "Min:+55dBSPL  Max:+90dBSPL", 55.0f, 90.0f, "[dBSPL]"},
    {66, "Min:+60dBSPL  Max:+100dBSPL", 60.0f, 100.0f, "[dBSPL]"},
    {49, "Min:+70dBSPL  Max:+130dBSPL", 70.0f, 130.0f, "[dBSPL]"},
    {51, "Min:+75dBSPL  Max:+110dBSPL", 75.0f, 110.0f, "[dBSPL]"},
    {50, "Min:+80dBSPL  Max:+120dBSPL", 80.0f, 120.0f, "[dBSPL]"},
    {68, "Min:+90dBSPL  Max:+150dBSPL", 90.0f, 150.0f, "[dBSPL]"},
    {70, "Min:+110dBSPL  Max:+150dBSPL", 110.0f, 150.0f, "[dBSPL]"},
    {69, "Min:+120dBSPL Max:+170dBSPL", 120.0f, 170.0f, "[dBSPL]"},

    {73, "Min:0 Ohm     Max:400 Ohm", 0.0f, 400.0f, "[Ohm]"},
    {13, "Min:0 Ohm     Max:200 Ohm", 0.0f, 200.0f, "[Ohm]"},
    {17, "Min:0 Ohm     Max:100 Ohm", 0.0f, 100.0f, "[Ohm]"},
    {18, "Min:0 Ohm       Max:50 Ohm", 0.0f, 50.0f, "[Ohm]"},
    {74, "Min:0 Ohm       Max:20 Ohm", 0.0f, 20.0f, "[Ohm]"},

    {31, "Min:300Hz  Max:20kHz  (log)", 300.0f, 20000.0f, "[Hz]"},
    {54, "Min:600Hz  Max:20kHz  (log)", 600.0f, 20000.0f, "[Hz]"},
    {55, "Min:1,5kHz  Max:20kHz  (log)", 1500.0f, 20000.0f, "[Hz]"},

    {38, "Min:-100 dB  Max:+40 dB", -100.0f, 40.0f, "[dB]"},
    {39, "Min:-50 dB  Max:+20 dB", -50.0f, 20.0f, "[dB]"},
    {40, "Min:-60 dB  Max:+10 dB", -60.0f, 10.0f, "[dB]"},
    {41, "Min:-70 dB  Max:+0 dB", -70.0f, 0.0f, "[dB]"},
    {42, "Min:-20 dB  Max:+15 dB", -20.0f, 15.0f, "[dB]"},
    {43, "Min:-30 dB  Max:+5 dB", -30.0f, 5.0f, "[dB]"},
    {44, "Min:-50 dB  Max:-15 dB", -50.0f, -15.0f, "[dB]"},
    {34, "Min:0 dBSPL  Max:+140dBSPL", 0.0f, 140.0f, "[dBSPL]"},
    {35, "Min:+70dBSPL  Max:+140dBSPL", 70.0f, 140.0f, "[dBSPL]"},
    {32, "Min:+50dBSPL  Max:+110dBSPL", 50.0f, 110.0f, "[dBSPL]"},
    {72, "Min:+55dBSPL  Max:+90dBSPL", 55.0f, 90.0f, "[dBSPL]"},
    {36, "Min:+80dBSPL  Max:+120dBSPL", 80.0f, 120.0f, "[dBSPL]"},
    {37, "Min:+70dBSPL  Max:+110dBSPL", 70.0f, 110.0f, "[dBSPL]"},
    {56, "Min:-30 dB  Max:+5 dB (relativ)", -30.0f, 5.0f, "[dB(rel)]"},
    {75, "Min:-60 dB  Max:+10 dB (relativ)", -60.0f, 10.0f, "[dB(rel)]"},

    {52, "Min:0 msec    Max:2 msec", 0.0f, 0.002f, "[msec]"},
    {33, "Min:0 msec    Max:4 msec", 0.0f, 0.004f, "[msec]"},
    {53, "Min:0 msec    Max:8 msec", 0.0f, 0.008f, "[msec]"},

    {29, "Min:25Hz  Max:20kHz  (log.)", 25.0f, 20000.0f, "[Hz]"},
    {62, "Min:3Hz  Max:2,5kHz  (log.)", 3.0f, 2500.0f, "[Hz]"},
};

} // namespace

std::span<const int> scaleList(ScaleList list)
{
    switch (list) {
    case ScaleList::TimeSignal:
        return kTimeSignal;
    case ScaleList::Amplitude:
        return kAmplitude;
    case ScaleList::Impedance:
        return kImpedance;
    case ScaleList::CsdX:
        return kCsdX;
    case ScaleList::CsdY:
        return kCsdY;
    case ScaleList::CsdZ:
        return kCsdZ;
    }
    return {};
}

const ScaleChoice* scaleChoice(int index)
{
    for (const ScaleChoice& c : kChoices) {
        if (c.index == index)
            return &c;
    }
    return nullptr;
}

int levelFrequencyScale(int rateCode) { return rateCode == 1 ? 62 : 29; }

} // namespace app::dialogs
