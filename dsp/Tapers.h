// The two 512-point taper tables of the waterfall computation. Their values are the
// program's own (the time-window fades of the frequency response use values of edgeTaper).
#pragma once

#include <array>

namespace dsp {

namespace detail {

constexpr std::array<double, 512> makeEdgeTaper()
{
    constexpr double rise[8] = {0.0003, 0.0093, 0.0488, 0.1502, 0.3332, 0.5799, 0.8247, 0.979};
    constexpr double fall[9] = {0.979, 0.8247, 0.5799, 0.3332, 0.1502, 0.0488, 0.0093, 0.0003, 0.0};
    std::array<double, 512> t{};
    for (int n = 0; n < 512; ++n)
        t[n] = n < 8 ? rise[n] : n <= 502 ? 1.0 : fall[n - 503];
    return t;
}

// The rising half as (value in hundredths, number of consecutive points); the falling half
// mirrors it.
constexpr std::array<std::array<int, 2>, 71> kSliceTaperRuns{{
    {30, 1}, {31, 2}, {32, 3}, {33, 3}, {34, 2}, {35, 3}, {36, 3},  {37, 2},   {38, 3},
    {39, 2}, {40, 3}, {41, 3}, {42, 2}, {43, 3}, {44, 2}, {45, 3},  {46, 2},   {47, 3},
    {48, 3}, {49, 2}, {50, 3}, {51, 2}, {52, 3}, {53, 2}, {54, 3},  {55, 3},   {56, 2},
    {57, 3}, {58, 2}, {59, 3}, {60, 3}, {61, 2}, {62, 3}, {63, 3},  {64, 2},   {65, 3},
    {66, 3}, {67, 3}, {68, 2}, {69, 3}, {70, 3}, {71, 3}, {72, 3},  {73, 3},   {74, 3},
    {75, 3}, {76, 3}, {77, 3}, {78, 3}, {79, 3}, {80, 4}, {81, 3},  {82, 3},   {83, 4},
    {84, 3}, {85, 4}, {86, 4}, {87, 4}, {88, 4}, {89, 4}, {90, 4},  {91, 5},   {92, 5},
    {93, 5}, {94, 5}, {95, 6}, {96, 7}, {97, 8}, {98, 9}, {99, 14}, {100, 18},
}};

constexpr std::array<double, 512> makeSliceTaper()
{
    std::array<double, 512> t{};
    int n = 0;
    for (const auto& run : kSliceTaperRuns)
        for (int k = 0; k < run[1] && n < 256; ++k, ++n)
            t[n] = run[0] / 100.0;
    for (int m = 256; m < 512; ++m)
        t[m] = t[511 - m];
    return t;
}

} // namespace detail

// Rises over points 0..7, 1.0 from 8 to 502, falls over 503..511 to 0.
inline constexpr std::array<double, 512> edgeTaper = detail::makeEdgeTaper();
// Symmetric, 0.3 at both ends, 1.0 over points 238..273.
inline constexpr std::array<double, 512> sliceTaper = detail::makeSliceTaper();

} // namespace dsp
