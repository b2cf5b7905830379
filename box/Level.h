// Third-octave level measurement: one pass of the level computation, the worker thread that
// repeats it, the state machine of the level dialog's buttons and the dialog's read-out.
#pragma once

#include "core/Renderer.h"
#include "core/Store.h"

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>

namespace box
{

// One third-octave band: inclusive bin range of the 4096-point spectrum and its corrections
// in dB, each for 6.4 kHz and 51.2 kHz.
struct LevelBand {
    int firstBin, lastBin;
    float k64, k512;                       // rate correction
    float pink64, pink512;                 // stimulus correction of "Rosa Rauschen"
    float a64, a512, b64, b512, c64, c512; // weightings
};
extern const std::array<LevelBand, core::kLevelBands> kLevelBands;

// Centre frequency of band b at a rate code (51.2 kHz for code 2, else 6.4 kHz).
float levelBandCentreHz(int band, int rateCode);
// Whether band b can have a level at a rate code: a third octave narrower than the bin
// spacing of the 4096-point spectrum has none, as its one or two bins measure more than the
// band. The lowest three bands at either rate.
bool levelBandResolved(int band, int rateCode);

// One pass with pass index i: acquisition (MLS on, raw), spectrum on the level measurement's
// own FFT work arrays, bands, corrections, weighting, mean or peak. Writes levelCurrent,
// levelMeanPeak and both copies of levelBandFrequency (under levelResultsMutex()); a band
// that is not resolved gets NO_VALUE in both level lists.
void measureLevels(int passIndex);
// The computation part of a pass, on a record already acquired (8192 floats, the first 4098
// in the timeRecord layout). For tests and for measureLevels.
void computeLevels(int passIndex, float* levelRecord);
// The last steps of a pass: mean or peak over the current band levels, stored with the band
// frequencies.
void applyLevelAverage(int passIndex, const std::array<float, core::kLevelBands>& current);

// Guards the level tables between the worker that writes them and the dialog that reads them.
std::mutex& levelResultsMutex();

// The worker's flags, shared with the dialog.
extern std::atomic<int> levelRunning;
extern std::atomic<int> levelExit;
extern std::atomic<int> levelDialogOpen;

// Level command: at 6.4 or 51.2 kHz starts the worker and returns 1 (the caller then shows
// the level dialog modally); otherwise shows string 115 and returns 0. The worker records the
// level picture with `views` after each pass; it must outlive the worker.
int startLevelMeasurement(core::Renderer& views);
// True while a worker thread exists (started and not yet joined).
bool levelWorkerActive();

// The dialog's buttons.
struct LevelButtons {
    bool startEnabled;
    bool stopEnabled;
};
LevelButtons levelDialogInit();
LevelButtons levelDialogStart();
LevelButtons levelDialogStop();
// "Abbrechen": stops the series, tells the worker to end and waits until its running pass is
// over, so the box is never driven by two threads. `pump` is called while waiting (the GUI
// passes its event processing, because the worker's messages go through the GUI thread).
void levelDialogCancel(const std::function<void()>& pump = {});

// The dialog's read-out: highest current and mean/peak level over the bands that have a value
// and whose centre lies on the level view's frequency axis (limits included).
struct LevelReadout {
    float maxCurrent = -10000.0f;
    float maxMeanPeak = -10000.0f;
    bool currentAboveAxis = false; // drawn in pure red
    bool meanPeakAboveAxis = false;
    std::string line1; // " Aktueller Wert (max) : 71.40[dB]"
    std::string line2;
};
// unitText is the level axis' unit ("[dBSPL]" converts both values to dB SPL first).
LevelReadout levelReadout(double axisMinHz, double axisMaxHz, double levelAxisMax,
                          const std::string& unitText);

} // namespace box
