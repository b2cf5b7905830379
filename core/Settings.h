// MeasurementSettings: every choice about how the box is driven and how its data are
// processed. One process-wide instance, read directly by every layer.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

struct MeasurementSettings {
    int parallelPort = 1;               // 1..3 = LPT 1..3
    int window = 1;                     // 1 rectangle, 2 Hamming, 3 Hanning, 4 Blackman
    int smoothing = 1;                  // 1 none, 2 1/3, 3 1/6, 4 1/12 octave
    int averages = 1;                   // 1..30
    std::array<int, 2> markerPos{0, 10000};     // M1, M2 in 1/10000 of the time axis
    std::array<int, 2> markerDragging{0, 0};    // transient mouse-drag flags
    int sampleRate = 1;                 // code: 1 = 6.4 kHz, 2 = 51.2 kHz, 3 = 3.2 kHz
    float dbsplSpeakerImpedanceOhm = 8.0f;
    int fftLength = 512;                // 512, 1024, 2048, 4096
    int measuringInput = 2;             // 1 Line1, 2 Mic., 3 Line2, 4 Ref_Intern
    int referenceInput = 4;             // same codes
    int distanceMm = 1000;              // 1..5000
    int dbsplRealDistance = 1;          // 1 real distance, 0 referred to 1 m
    int phaseMode = 1;                  // 1 real, 2 real with delay compensation, 3 minimum phase
    float referenceResistorOhm = 22.0f;
    float preampGainDb = 0.0f;          // whole dB, -50..+50
    int referenceComputation = 0;       // 0 no, 1 yes
    float phaseOffsetDeg = 0.0f;        // whole degrees, -180..+180
    int stepResponse = 0;               // 0 no, 1 yes
    int micCorrection = 0;              // 0 no, 1 yes
    int micPhase0Deg = 1;               // 1 = 0 deg, 0 = 180 deg
    int method = 0;                     // 0 impulse, 1 MLS, 2 FFT analyser, 3 sweep (start-up sets 1)
    float addedMassG = 50.0f;
    float diaphragmDiameterMm = 170.0f;
    float micSensitivityMvPerPa = 6.0f;
    float boxVolumeL = 10.0f;
    int levelCount = 1;                 // 1..99
    int levelCalculation = 1;           // 0 current only, 1 with mean, 2 with peak
    int levelWindow = 1;                // window codes as `window`
    int levelWeighting = 1;             // 1 none, 2 A, 3 B, 4 C
    int levelMethod = 2;                // 1 pink noise, 2 noise/MLS, 3 FFT third-octave analysis
    int levelCountLimited = 0;          // 0 endless, 1 stop after levelCount
    int sumMode = 0;                    // 0 complex, 1 magnitude
    int levelAveraging = 2;             // 1 fast, 2 medium, 3 slow
    // The sweep of method 3: its band and its length from start to end. The configuration
    // file has no place for them; the settings store keeps them ("Sweep/...").
    float sweepStartHz = 20.0f;
    float sweepEndHz = 20000.0f;
    float sweepSeconds = 2.0f;
};

// The seven settings that describe the conditions under which the store's data were taken.
struct AcquisitionSnapshot {
    std::array<int, 2> markerPos{0, 10000};
    int averages = 1;
    int smoothing = 1;
    int distanceMm = 1000;
    int window = 1;
    float referenceResistorOhm = 22.0f;
};

MeasurementSettings& settings();
AcquisitionSnapshot& snapshot();
void resetSettings(); // defaults, snapshot defaults, run-time values cleared (tests)

// Run-time values that are not part of the persisted record.
extern int threeKilohertzAllowed;   // 1 exactly when the box's hardware number is 9
extern std::string installFolder;   // from the settings-store value `Pfad`

// Snapshot fields whose value no measurement can have: out of the range the dialogs and runs
// produce, or not a finite number. A measurement file has no checksum, so a damaged file or
// any 331448 bytes bring such values in.
enum class SnapshotField { Markers, Averages, Smoothing, Distance, Window, ReferenceResistor };
std::vector<SnapshotField> implausibleSnapshotFields(const AcquisitionSnapshot& snapshot);

// Records how the program measures (the settings the snapshot holds) with the markers the
// measurement was taken with: a run that measures over the whole record says so.
void takeSnapshot();
void takeSnapshot(const std::array<int, 2>& markers);
// Copies the snapshot into the settings; an implausible field gives its default instead.
void restoreSnapshot();

class SettingsStore;

// The sweep's band and length as the user gives them: from 10 to 10000 Hz, to 20 to
// 384000 Hz and at least an octave above the start, 0.5 to 10 s. Empty when they are
// acceptable, else what is wrong (German). A device plays the end only as far as its rate
// allows.
std::string sweepSettingsProblem(double startHz, double endHz, double seconds);
// The sweep settings in the settings store ("Sweep/Von", "Sweep/Bis", "Sweep/Dauer"), since
// the configuration file has no place for them. Reading leaves the settings as they are when
// the store holds nothing acceptable.
void readSweepSettings(SettingsStore& store, MeasurementSettings& s);
void writeSweepSettings(SettingsStore& store, const MeasurementSettings& s);

// Sampling rate in Hz for a rate code; unknown codes give 6400.
int sampleRateHz(int rateCode);
// Length of one record in ms (time axis of the time view); 0 for an unknown rate or length.
int recordSpanMs(int rateCode, int fftLength);

// Keeps the markers at the same absolute times when rate or FFT length change; stores the
// new rate and length in the settings.
void remapMarkers(int oldRate, int oldLength, int newRate, int newLength);

// Marker reset of the signal-processing dialog on OK.
void resetMarkersIfCrossed();

// A 16-bit spin position above 32768 is a negative value in two's complement.
float signedSpinValue(int position);

// Leading-number conversion in the "C" locale whatever the desktop's locale: leading blanks,
// sign, digits, '.', exponent; anything that does not start a number gives 0. "," is not a
// decimal point, so "0,5" reads as 0. For numbers in files; what the user types goes through
// parseTypedNumber.
double parseLeadingNumber(const char* text);

// A number the user typed into a field of the German interface. The decimal separator may be
// a comma ("22,5") or a point ("22.5"); blanks around the number and a unit word after a blank
// ("10 Ohm") are allowed. Anything else is not a number and gives nothing: "abc", "5x",
// "1.000,5" (a second separator), "5 8". Reading only the leading part would turn "5,8" into
// 5 without a word, which is why the whole text must be the number.
std::optional<double> parseTypedNumber(std::string_view text);

// The six range checks of the measurement-system dialog, on the text typed into the field
// (parseTypedNumber; what is not a number counts as 0 and fails every check). The order of
// the enum is the order in which the dialog checks.
enum class RangeField {
    MicSensitivity,
    DiaphragmDiameter,
    AddedMass,
    BoxVolume,
    ReferenceResistor,
    DbsplSpeakerImpedance,
};
struct RangeCheckResult {
    bool ok = true;
    float value = 0.0f;    // the typed number as a 32-bit float (0 when it is not a number)
    int messageId = 0;     // string number of the message text when !ok
    int captionId = 0;     // string number of the caption when !ok
};
RangeCheckResult checkSettingRange(RangeField field, const char* text);
// Whether the check of `field` accepts the number `typed` (before its conversion to float).
bool rangeAccepts(RangeField field, double typed);

} // namespace core
