// The start-up steps that touch only the records (no window, no box): shared by the
// application's start-up and by orvo-tool's "new".
#pragma once

namespace core
{

// The time scale of the time family and the frequency scale of the amplitude and
// amplitude/impedance families for a rate code (unknown codes: as 6.4 kHz).
void chooseInitialXScales(int rateCode);

// Initial x scales, snapshot, slots cleared, overlay axis index and its reserved words -1,
// trailers of the impedance curves and all slots stamped, `method` 1 (MLS).
void prepareRecordsForStart();

// The box variant that can sample at 3.2 kHz (rate code 3) reports hardware number 9; no
// other box has that rate.
inline constexpr int kThreeKilohertzHardwareNumber = 9;

// The rate code to go on with: 3 becomes 2 (51.2 kHz) on a box without 3.2 kHz, every
// other code stays.
int rateCodeForBox(int rateCode, bool boxHasThreeKilohertz);

// The rule for a box that has just been read: whether it allows 3.2 kHz, and the rate code
// the settings then keep. The callers say when message 120 is due: the start shows it for
// every box without 3.2 kHz, choosing another box only when the rate has to change.
struct BoxRate {
    bool threeKilohertzAllowed = false;
    int rateCode = 1;
    bool rateChanged = false; // rateCode differs from the one asked about
};
BoxRate rateForBox(int hardwareNumber, int rateCode);

} // namespace core
