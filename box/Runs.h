// Measurement runs: the averaged acquisition and the reference, amplitude/phase and impedance
// runs the main window starts. All run synchronously on the calling thread.
#pragma once

#include "box/Acquisition.h"
#include "core/Renderer.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "dsp/Response.h"

#include <array>
#include <string>

namespace box
{

// Averaged acquisition into timeRecord: `averages` captures as `request` asks, 100 ms apart, as
// a running pairwise mean; the time view is redrawn after each.
// A failed capture ends it at once (its one message has been shown): the remaining averages
// are not tried, timeRecord holds what it held before, and false is returned. The runs then
// store nothing of the measurement. With a sweep, `distortion` receives the harmonic
// distortion of the last capture (averaging the response leaves the distortion of one sweep).
bool measureAveraged(const AcquisitionRequest& request, int averages, core::Renderer& views,
                     core::DistortionRecord* distortion = nullptr);

// The runs read the settings when they start and never change them; what they measure goes
// into the store, and the pictures of the views it changes are recorded by `views`.
void runReferenceMeasurement(core::Renderer& views);
void runAmplitudePhaseMeasurement(core::Renderer& views);
void runImpedanceMeasurement(core::Renderer& views);

// The markers of a run that takes the whole record: the reference, impedance and T/S runs.
inline constexpr std::array<int, 2> kWholeRecord{0, 10000};

// The conditions of an impedance run, whatever the settings say about the measurement: the
// record on Line1 with `fftLength` points, its response in real phase, unwrapped, with no time
// window and `smoothing` (1/12 octave for the view, none for the analysis).
// With a sweep, it starts at kImpedanceSweepMaxStartHz at the latest.
inline constexpr double kImpedanceSweepMaxStartHz = 10.0;
AcquisitionRequest impedanceAcquisition(const core::MeasurementSettings& s, int fftLength);
dsp::ResponseRequest impedanceResponse(const core::MeasurementSettings& s, int fftLength,
                                       core::Smoothing smoothing);

// Whether the amplifier output is measured anew before an impedance or T/S run. "Neue
// Referenzmessung?" is asked only when the stored run could be reused; a stored run of another
// length or rate is explained and measured anew, and with none stored nothing is asked.
bool newAmplifierRunWanted(bool storedRunFits, const core::CurveBuffer& storedRun);

// Moves the occupied overlay slots one place on (slot 4 is dropped), with their colours and
// names; slot 0 gets a colour that none of the remaining curves has and no name.
void rotateOverlaySlots();
// Identity of the amplitude view's frequency-axis scale, compared with overlayAxisIndex.
int amplitudeAxisIndex();
// The last steps of a reference or amplitude/phase run once slot 0 holds the new curve: mark
// it occupied, drop the overlays when the frequency axis has changed since they were drawn,
// redraw the overlay and sum views and repaint.
void finishResponseRun(core::Renderer& views);

// A frequency response from outside (an FRD file, already on the grid of the current rate and
// N) taken in as a measurement's curve would be: the overlay slots rotate, the curve becomes
// slot 0, and the views that show it are redrawn. The snapshot stays: it describes how the
// program measured, which the file does not tell.
// `name` is what the overlay's legend calls the curve (the file's name).
void takeResponseCurve(const core::CurveBuffer& amplitude, const core::CurveBuffer& phase,
                       core::Renderer& views, const std::string& name = {});

} // namespace box
