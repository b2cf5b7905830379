// Exchange with loudspeaker design tools: FRD (frequency, dB, phase) and ZMA (frequency, ohm,
// phase) text files, written from the store and read back onto the bin grid of a rate and N,
// and CSV tables of a view's curves.
//
// Phase convention of every file written here (and expected of every file read): degrees,
// time function e^(+j 2 pi f t), so a delay gives a phase that falls with frequency and an
// inductive impedance has a positive phase. The program's own curves already follow it.
#pragma once

#include "core/Store.h"
#include "files/FileIo.h"

#include <string>
#include <string_view>
#include <vector>

namespace files
{

enum class ExchangeFormat { Frd, Zma };

// ---------------------------------------------------------------- reading

// The numeric rows of an FRD/ZMA/CSV-like text file, frequencies strictly rising.
struct FrequencyTable {
    std::vector<double> frequencyHz;
    std::vector<double> value;    // dB (FRD) or ohm (ZMA)
    std::vector<double> phaseDeg; // empty for a two-column file
    bool hasPhase() const { return !phaseDeg.empty(); }
};

struct TableReadResult {
    bool ok = false;
    FrequencyTable table;
    int line = 0;       // 1-based line the refusal is about; 0 = the file as a whole
    std::string reason; // German, UTF-8, without the line number
    int mergedRows = 0; // rows that repeated the frequency of the row before them
    // The header named the third column a group delay, and the rows had one: it is not
    // taken as a phase, and the table has none.
    bool groupDelayLeftOut = false;
};

// The one entry point for file contents of any origin: blank-, tab-, comma- or
// semicolon-separated columns; comment lines starting with '*', '#' or ';'; text lines before
// the first numeric row are taken as a header; a decimal comma where the column separator is
// not a comma; two or more columns (the third is the phase, further ones are ignored).
// A header that names the third column a group delay ("Group Delay (sec)", "GD [ms]",
// "Gruppenlaufzeit") before any phase leaves that column out. Consecutive rows of the same
// frequency become one row with the mean of their values.
// Refuses (ok false) a file without numeric rows, a row that is not numbers, a non-finite or
// out-of-range value, a missing phase in a file that has one elsewhere, a negative frequency
// and frequencies that fall.
TableReadResult parseFrequencyTable(std::string_view bytes);

// Curves on the bin grid of N and a rate code, with the trailer stamped. Bins below the
// file's first or above its last frequency, bin 0 and bins from N/2 on hold NO_VALUE; so does
// every phase bin of a two-column file.
struct GridCurves {
    core::CurveBuffer value;
    core::CurveBuffer phase;
    bool hasPhase = false;
    int valuedBins = 0; // bins that received a value
};

// Interpolation over log frequency: linear in dB (FRD) or in dB of the ohm value (ZMA, linear
// in ohm where a neighbour is not positive), and linear in the unwrapped phase, which is then
// wrapped into -180..180 degrees as the program stores phases.
GridCurves resampleToGrid(const FrequencyTable& table, ExchangeFormat format, int n, int rateCode);

// What of a file's frequency range a grid leaves out: rows below its first bin (rate/N) or
// above its last (N/2 - 1 bins up).
struct GridCut {
    int n = 512;
    int rateCode = 1;
    double fileFirstHz = 0.0; // the file's first and last frequency above 0 Hz
    double fileLastHz = 0.0;
    double keptFirstHz = 0.0; // the first and last bin that received a value
    double keptLastHz = 0.0;
    double gridFirstHz = 0.0; // bin 1 and bin N/2 - 1 of the grid
    double gridLastHz = 0.0;
    bool below = false;
    bool above = false;
    bool any() const { return below || above; }
};

struct ExchangeImport {
    bool ok = false;
    GridCurves curves;
    // The file's own rows, for analyses that work on its points rather than on the grid.
    FrequencyTable table;
    std::string message; // German, UTF-8, the whole text of the refusal when !ok
    std::string notice;  // German, UTF-8, what was read differently from the file when ok
    GridCut cut;         // when ok
};

// Reads a file and brings it onto the grid; refuses (with the line where there is one) what
// parseFrequencyTable refuses, a file too large to be a curve, a ZMA with negative ohm
// values, and a file of which no value falls on the grid. Shows nothing. The notice says
// that a group-delay column was left out.
ExchangeImport readExchangeFile(const std::string& path, ExchangeFormat format, int n,
                                int rateCode);

// The same with the refusal shown as an error box (caption "FRD-Import" or "ZMA-Import"), and
// a notice as an information box.
ExchangeImport importExchangeFile(const std::string& path, ExchangeFormat format, int n,
                                  int rateCode);

// The German sentence that names the part of the file the grid leaves out ("" when nothing
// is left out), with decimal commas.
std::string gridCutNote(const GridCut& cut);

// The grid (rate code and N) that holds the cut file best: every row if one can (the lowest
// rate, then the N nearest the current one), otherwise the widest part of it. ok is false when
// no grid holds more of the file than the current one. Rate code 3 (3.2 kHz) only when
// `threeKilohertzAllowed`.
struct GridOffer {
    bool ok = false;
    int rateCode = 1;
    int n = 512;
    bool holdsAll = false;
};
GridOffer gridHoldingFile(const GridCut& cut, bool threeKilohertzAllowed);

// FRD values are taken in the unit the amplitude axis shows, as the FRD export writes them:
// with a dB SPL axis the file holds dB SPL, and the stored curve gets the dB from which the
// diagrams' conversion gives those values back.
void convertFromDbspl(core::CurveBuffer& amplitude);

// ZMA import into the store: the impedance curves are replaced.
void applyImpedanceImport(const GridCurves& curves);

// ---------------------------------------------------------------- writing

struct ExchangeText {
    bool ok = false;
    std::string text;    // the file content when ok
    std::string message; // German, UTF-8, why nothing can be written when !ok
};

// FRD of overlay slot `slot` (0 = the current curve): one row per bin from the first bin with
// a value to N/2 - 1, bins without a value left out. Amplitudes in dB SPL when `dbspl`.
ExchangeText buildFrd(int slot, bool dbspl);
// ZMA of the impedance curves.
ExchangeText buildZma();
// CSV of the curves of a view (DiagramKind 1..8, 11): a header row, then one row per x value,
// one column per curve, comma-separated with a decimal point; an empty cell where a curve has
// no value. View 11 gives the columns of view 3 (its frequency curves).
ExchangeText buildViewCsv(int view, bool dbspl);
// CSV of the distortion curves: a header row, then one row per frequency with frequency [Hz],
// fundamental [dB], H2..H5 [dB re fundamental] and THD [%], comma-separated with a decimal
// point; a harmonic's cell is empty where it has left the sweep's band. Refused (with the
// reason) for a measurement without distortion curves.
ExchangeText buildThdCsv(const core::DistortionRecord& distortion);

// Writes through the replacing write. A text that cannot be built shows its reason (error icon)
// and returns WriteFailed without touching the file; a failed write shows message 27 with the
// file's name and the reason.
WriteStatus writeExchangeText(const ExchangeText& t, const std::string& path, const char* caption);

} // namespace files
