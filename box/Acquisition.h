// The one acquisition operation every measurement uses, and the box's hardware number.
#pragma once

#include "core/Store.h"

namespace box {

// Settings an acquisition reads besides its arguments. `acquireRecord` takes them from the
// live settings; the level worker passes its own so that it never writes `method` while the
// user-interface thread may read it.
struct AcquireSettings {
    int parallelPort = 1;
    int method = 1;          // 0 Impuls, 1 MLS, 2 FFT-Analyzer
    int fftLength = 512;     // the setting, stored in the record's trailer
    int micPhase0Deg = 1;    // 0 = "180 Deg": Mic. records are negated
};
AcquireSettings currentAcquireSettings();

// Captures one record from the box on portAccess(): sampleCount N (512..4096; 4096 with MLS),
// input 1..4, rateCode 1..3, window code 1..4, rawCapture 1 for the level measurement (no
// clip warning, no deconvolution). `record` holds at least 4098 floats in the timeRecord
// layout. Failures are told to the user (strings 15, 16, 18) and leave the record as it was.
// Returns 1 when a record was delivered, 0 when the box failed (the system's callers ignore it).
int acquireRecord(int sampleCount, int input, int rateCode, int window, float* record,
                  int rawCapture);
int acquireRecord(int sampleCount, int input, int rateCode, int window, core::TimeRecord& record,
                  int rawCapture);
int acquireRecordWith(const AcquireSettings& s, int sampleCount, int input, int rateCode,
                      int window, float* record, int rawCapture);

// Reads the box's identification number (0..255); 9 is the box that can sample at 3.2 kHz.
int readHardwareNumber();
int readHardwareNumber(int parallelPort);

} // namespace box
