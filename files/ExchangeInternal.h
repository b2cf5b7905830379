// What the parts of the FRD/ZMA/CSV exchange share among themselves: the tokenizer the
// parser reads rows with, the phase wrapping of parser and grid, and the bin grid of a
// stored curve that the FRD/ZMA and CSV writers walk. Not for use outside files/Exchange*.
#pragma once

#include "files/Exchange.h"

#include <cmath>
#include <cstddef>
#include <string_view>
#include <vector>

namespace files::detail
{

// ---------------------------------------------------------------- tokenizer (ExchangeTokens)

enum class Separator { Blank, Semicolon, Comma };

bool isBlank(char c);
std::string_view trim(std::string_view s);

// The line that starts at `pos`, without its end; `pos` moves past the end. Lines end in
// LF, CR LF or a lone CR.
std::string_view nextLine(std::string_view bytes, std::size_t& pos);

// "20", "-5", "+.5", ",5" start a number; "Freq", "-----" and "\"Hz\"" do not.
bool startsLikeNumber(std::string_view s);

// The column separator, decided once from the first numeric row: a semicolon wins; a comma
// is the separator when the row has no blank-separated columns or a blank-separated field
// begins or ends with it ("20.0, 85.1"); otherwise a comma is a decimal comma.
Separator detectSeparator(std::string_view row);

// The trimmed fields of a row; a separator at the end of the row adds no column.
std::vector<std::string_view> splitRow(std::string_view row, Separator sep);

enum class NumberStatus { Ok, NotANumber, NotFinite };

// One field in the "C" conventions whatever the desktop's locale; `decimalComma` lets a comma
// stand for the point.
NumberStatus parseNumber(std::string_view field, bool decimalComma, double& value);

// What the header says the third column holds. Files of design tools name their columns in
// a text or comment line before the numbers ("Freq(Hz) SPL(dB) Phase(deg)"); some write a
// group delay there instead of a phase ("Data: db(Response), Group Delay (sec)"), which
// read as degrees would give a flat phase of a few thousandths of a degree. Of the two
// names, the one the header gives first is taken to be the third column.
enum class ThirdColumn { Unnamed, Phase, GroupDelay };
ThirdColumn thirdColumnNamedIn(std::string_view line);

// ---------------------------------------------------------------- phases

// Into -180..180 degrees, as the program stores phases.
inline double wrapDegrees(double p)
{
    double w = std::fmod(p + 180.0, 360.0);
    if (w < 0.0)
        w += 360.0;
    return w - 180.0;
}

// ---------------------------------------------------------------- grid (ExchangeGrid)

// What of the table's range the resampled curves hold, on the grid of N and the rate code.
GridCut cutOf(const FrequencyTable& table, const GridCurves& curves, int n, int rateCode);

// ---------------------------------------------------------------- stored curves (ExchangeWrite)

bool hasValue(float v);

// The bin grid a stored curve's trailer names.
struct CurveGrid {
    bool ok = false;
    int n = 0;
    int rate = 1;
    double df = 0.0;
    int bins = 0; // bins 0 .. bins-1 carry values (N/2, at most the stored 2048)
};
CurveGrid gridOf(const core::CurveBuffer& c);

} // namespace files::detail
