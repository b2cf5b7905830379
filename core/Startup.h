// The start-up steps that touch only the records (no window, no box): shared by the
// application's start-up and by orvo-tool's "new".
#pragma once

namespace core {

// The time scale of the time family and the frequency scale of the amplitude and
// amplitude/impedance families for a rate code (unknown codes: as 6.4 kHz).
void chooseInitialXScales(int rateCode);

// Initial x scales, snapshot, slots cleared, overlay axis index and its reserved words -1,
// trailers of the impedance curves and all slots stamped, `method` 1 (MLS).
void prepareRecordsForStart();

} // namespace core
