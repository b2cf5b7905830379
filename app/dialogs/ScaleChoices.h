// The scale entries the scales dialog offers and the level read-out needs: the six lists in
// their fixed order, and for each entry its option text, range and unit text.
#pragma once

#include <span>

namespace app::dialogs {

struct ScaleChoice {
    int index;
    const char* optionText;
    float min;
    float max;
    const char* unitText;
};

enum class ScaleList { TimeSignal, Amplitude, Impedance, CsdX, CsdY, CsdZ };

std::span<const int> scaleList(ScaleList list);
// The entry of a scale index, or nullptr for an index no list or axis uses.
const ScaleChoice* scaleChoice(int index);

// The level view's frequency axis follows the live rate: 3 Hz .. 2.5 kHz at 6.4 kHz,
// otherwise 25 Hz .. 20 kHz.
int levelFrequencyScale(int rateCode);

} // namespace app::dialogs
