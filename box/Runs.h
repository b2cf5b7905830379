// Measurement runs: the averaged acquisition and the reference, amplitude/phase and impedance
// runs the main window starts. All run synchronously on the calling thread.
#pragma once

#include "core/Store.h"

namespace box {

// Averaged acquisition into timeRecord with the current measuring settings: `averages`
// captures, 100 ms apart, as a running pairwise mean; the time view is redrawn after each.
void measureAveraged();

void runReferenceMeasurement();
void runAmplitudePhaseMeasurement();
void runImpedanceMeasurement();

// Moves the occupied overlay slots one place on (slot 4 is dropped).
void rotateOverlaySlots();
// Identity of the amplitude view's frequency-axis scale, compared with overlayAxisIndex.
int amplitudeAxisIndex();
// The last steps of a reference or amplitude/phase run once slot 0 holds the new curve: mark
// it occupied, drop the overlays when the frequency axis has changed since they were drawn,
// redraw the overlay and sum views and repaint.
void finishResponseRun();

// A frequency response from outside (an FRD file, already on the grid of the current rate and
// N) taken in as a measurement's curve would be: the overlay slots rotate, the curve becomes
// slot 0, and the views that show it are redrawn. The snapshot stays: it describes how the
// program measured, which the file does not tell.
void takeResponseCurve(const core::CurveBuffer& amplitude, const core::CurveBuffer& phase);

} // namespace box
