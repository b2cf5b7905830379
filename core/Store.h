// MeasurementStore: every measured and derived buffer, one process-wide instance. The buffers
// have fixed sizes (the store is the file image), but for the distortion curves of a sweep.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace core
{

// A bin or point without value; every consumer skips it and toDbspl passes it through.
inline constexpr float NO_VALUE = 100000.0f;

inline constexpr int kCurveBins = 2048;
inline constexpr int kRecordSamples = 4096;
inline constexpr int kLevelBands = 28;
inline constexpr int kCsdPoints = 16384;
inline constexpr int kTsTextSize = 2024;
inline constexpr int kMicTableSize = 2049;

// 2048 bin values, then N and the rate code stored as floats.
struct CurveBuffer {
    std::array<float, kCurveBins + 2> v{};

    float& operator[](std::size_t i) { return v[i]; }
    const float& operator[](std::size_t i) const { return v[i]; }
    float* data() { return v.data(); }
    const float* data() const { return v.data(); }
    float& trailerN() { return v[kCurveBins]; }
    float& trailerRate() { return v[kCurveBins + 1]; }
    float trailerN() const { return v[kCurveBins]; }
    float trailerRate() const { return v[kCurveBins + 1]; }
    void stamp(int n, int rate)
    {
        v[kCurveBins] = static_cast<float>(n);
        v[kCurveBins + 1] = static_cast<float>(rate);
    }
};

// 4096 samples in volts, then N and the rate code stored as floats.
struct TimeRecord {
    std::array<float, kRecordSamples + 2> v{};

    float& operator[](std::size_t i) { return v[i]; }
    const float& operator[](std::size_t i) const { return v[i]; }
    float* data() { return v.data(); }
    const float* data() const { return v.data(); }
    float& trailerN() { return v[kRecordSamples]; }
    float& trailerRate() { return v[kRecordSamples + 1]; }
    float trailerN() const { return v[kRecordSamples]; }
    float trailerRate() const { return v[kRecordSamples + 1]; }
    void stamp(int n, int rate)
    {
        v[kRecordSamples] = static_cast<float>(n);
        v[kRecordSamples + 1] = static_cast<float>(rate);
    }
};

// A trailer read from a file may hold anything. These give a usable N (one of the four
// lengths; 512 for anything else) and rate code (1..3; 1 for anything else), so that no
// consumer divides by zero or indexes past a buffer.
int safeTrailerN(float n);
int safeTrailerRate(float rate);
bool isValidTrailer(float n, float rate);

// Per-rate tables are indexed by rateTableIndex(code): 0 = 6.4 kHz, 1 = 51.2 kHz, 2 = 3.2 kHz.
int rateTableIndex(int rateCode);

// Which run of the T/S procedure the impedance curve is. The measurement file has no field
// for it (its unused stretches hold whatever older versions left there), so the label is
// kept in memory only, together with a fingerprint of the curve it was given to: any other
// curve in the store (a new measurement, a load, an import) has no label.
enum class ImpedanceCurveKind { Unlabelled, FreeAir, AddedMass, ClosedBox, SecondRun };

struct ImpedanceCurveLabel {
    ImpedanceCurveKind kind = ImpedanceCurveKind::Unlabelled;
    unsigned long long fingerprint = 0;
    double freeAirPeakHz = 0.0; // where the free-air curve peaked, for the second run's kind
};

// The harmonic distortion of a sweep measurement against the excitation frequency, as it is
// kept with the measurement. Unlike the rest of the store it has no fixed size: it lives
// outside the fixed file block (appended to the file only when it is not empty), and its
// length is that of the sweep's band. Values are floats, as every curve of the store.
inline constexpr int kDistortionHarmonics = 4; // H2..H5

struct DistortionRecord {
    std::vector<float> hz;            // ascending, one point per step of the grid
    std::vector<float> fundamentalDb; // like hz
    // H2..H5 in dB re the fundamental; each holds the first points of hz, as long as the
    // harmonic stays within the sweep's band, so the higher harmonics' curves end earlier.
    std::array<std::vector<float>, kDistortionHarmonics> harmonicDb;
    std::vector<float> thdPercent; // like hz
    // The capture's noise in each harmonic's reading, dB re the fundamental; like harmonicDb,
    // or empty when the capture had no stretch of noise to read.
    std::array<std::vector<float>, kDistortionHarmonics> noiseDb;
    bool noiseCoversBand = false;
    // The sweep as it was played.
    double sweepStartHz = 0.0;
    double sweepEndHz = 0.0;
    double sweepSeconds = 0.0;
    double sweepAmplitude = 0.0; // peak, 1.0 = digital full scale
    int sweepRateHz = 0;

    bool empty() const { return hz.empty(); }
    bool operator==(const DistortionRecord&) const = default;
};

// Bounds of a record that can be right. A file may hold anything, so the reader refuses a
// record outside them; the conversion from the analysis keeps within them.
inline constexpr int kDistortionMaxPoints = 4096; // 96 points per octave over 10 Hz..384 kHz
inline constexpr float kDistortionDbLimit = 1000.0f;
inline constexpr float kDistortionThdLimitPercent = 1.0e9f;
inline constexpr double kDistortionMaxSweepSeconds = 3600.0;
inline constexpr int kDistortionMinRateHz = 1000;
inline constexpr int kDistortionMaxRateHz = 10000000;

// True for an empty record, and for one whose values are all finite and within the bounds:
// 1..kDistortionMaxPoints points of positive, strictly ascending frequency; fundamental and
// THD one value per point; each harmonic at most one per point and its noise as many or none;
// a sweep with 0 < start < end <= rate / 2, a positive length and an amplitude within 0..1.
bool isPlausibleDistortionRecord(const DistortionRecord& r);

// How the overlay view tells its curves apart: the colour a curve keeps while it stays in the
// overlay and the name its legend gives it (a file name or the time it was measured). Kept in
// memory only, like the impedance label: the measurement file has no field for either.
struct OverlayCurveTag {
    int colorSlot = 0; // which of the five overlay colours (0..4)
    std::string name;  // UTF-8; empty: the legend numbers the curve
};

struct MeasurementStore {
    TimeRecord timeRecord;
    TimeRecord stepResponseCurve; // 4096 floats + N + rate code
    std::array<CurveBuffer, 5> phaseSlots;
    std::array<CurveBuffer, 5> amplitudeSlots;
    std::array<int, 5> slotOccupied{};
    int overlayAxisIndex = 0;
    std::array<int, 2> overlayReserved{}; // written as -1 after start-up or import
    std::array<CurveBuffer, 2> impedanceRunAmplitude;
    std::array<CurveBuffer, 2> impedanceRunPhase;
    // The amplifier-output run [0] once more, unsmoothed. The T/S analysis fits the unsmoothed
    // impedance, and the smoothing bends the run's delay phase (some 1.5 degrees at 60 Hz at
    // 6.4 kHz), which a reused amplifier run would carry into the ratio. Filled wherever
    // run [0] is; no file holds the runs.
    CurveBuffer amplifierRunRawAmplitude;
    CurveBuffer amplifierRunRawPhase;
    CurveBuffer impedanceMagnitude;
    CurveBuffer impedancePhase;

    std::array<std::array<float, kCurveBins>, 3> referenceAmplitude{};
    std::array<std::array<float, kCurveBins>, 3> referencePhase{};
    std::array<std::array<float, kMicTableSize>, 3> micCorrectionAmplitude{};
    std::array<std::array<float, kMicTableSize>, 3> micCorrectionPhase{};

    // Third-octave level tables. The band frequencies are held twice with identical
    // contents: one copy belongs to the stored data, the other is read by the dialog and view.
    std::array<float, kLevelBands> levelBandFrequency{};
    std::array<float, kLevelBands> levelMeanPeak{};
    std::array<float, kLevelBands> levelBandFrequencyView{};
    std::array<float, kLevelBands> levelCurrent{};

    // Waterfall point lists; element 16384 is the trailer (NO_VALUE, maximum level, NO_VALUE).
    std::array<float, kCsdPoints + 1> csdFrequency{};
    std::array<float, kCsdPoints + 1> csdLevel{};
    std::array<float, kCsdPoints + 1> csdTime{};

    // Bytes of the measurement file that only the importers of older files fill.
    std::array<int, 4> importReserved{};
    unsigned char importReservedByte = 0;

    std::array<char, kTsTextSize> tsResultText{};
    ImpedanceCurveLabel impedanceLabel;
    // Moved with the curves of the overlay slots; slot k starts in colour k.
    std::array<OverlayCurveTag, 5> overlayTags{
        {{0, {}}, {1, {}}, {2, {}}, {3, {}}, {4, {}}}};

    // Empty unless the measurement was a sweep; see DistortionRecord.
    DistortionRecord distortion;

    // The shared FFT work arrays (the level worker has its own pair).
    std::array<float, kRecordSamples> fftRe{};
    std::array<float, kRecordSamples> fftIm{};
};

MeasurementStore& store();
void resetStore(); // every buffer zero, slots unoccupied (tests)

// The overlay colour (0..4) slot `slot` is drawn in; any damaged value counts as the slot's own.
int overlayColorSlot(int slot);
// Gives every slot its own colour again and `name` (with the curve's number from the second
// slot on) as its legend name: after a file replaced all five curves.
void nameOverlayCurves(const std::string& name);

// The label for the impedance curves as they are now in the store; `peakHz` is kept for a
// free-air curve.
void labelImpedanceCurve(ImpedanceCurveKind kind, double peakHz = 0.0);
// The label of the impedance curves in the store; Unlabelled once they have changed.
ImpedanceCurveKind impedanceCurveKind();
// German words for the view and the ZMA header: "in freier Luft", "mit Zusatzmasse",
// "im Gehäuse", "mit Zusatzmasse oder im Gehäuse"; "" for Unlabelled.
const char* impedanceCurveText(ImpedanceCurveKind kind);

// Copies a text into tsResultText, NUL-terminated and cut to fit.
void setTsResultText(const char* text);

} // namespace core
