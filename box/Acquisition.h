// The one acquisition operation every measurement uses, the box's hardware number, and the
// small interface behind them: the box on the parallel port, or a sound card.
#pragma once

#include "core/Store.h"

#include <array>

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

// What one capture asks of the measurement box.
struct CaptureRequest {
    int parallelPort = 1;
    int input = 1;      // 1 Line1, 2 Mic., 3 Line2, 4 Ref_Int
    int rateCode = 1;   // 1 6.4 kHz, 2 51.2 kHz, 3 3.2 kHz
    bool mls = true;    // the box plays its MLS while it records
};

// One capture as the converter delivered it, before any processing: 4096 sample values in
// converter counts (code − 2047, so −2047..+2048 is the input's range; 1280 counts per volt
// on the line inputs, 12800 on Mic.), and whether a sample reached the limit of the range.
struct RawCapture {
    std::array<double, 4096> v{};
    bool clipped = false;
};

enum class CaptureOutcome {
    Delivered,
    NotPresent,   // "Hardware nicht vorhanden": the box never answered, or no such device
    Failed,       // "Hardware Fehler": the capture started but never finished
};

// A measurement box: the parallel-port box (ppdev, simulated, unconnected) or a sound card.
// Used by one thread at a time (the runs on the user-interface thread, or the level worker
// while its modal dialog holds the window).
class AcquisitionDevice {
public:
    virtual ~AcquisitionDevice() = default;
    virtual CaptureOutcome capture(const CaptureRequest& request, RawCapture& out) = 0;
    virtual int hardwareNumber(int parallelPort) = 0;
    // The pause between two averaged acquisitions.
    virtual void pauseMs(int ms) = 0;
    // Called after the user has confirmed a wiring prompt (string number). Real hardware
    // ignores it; the simulated bench rewires itself accordingly.
    virtual void wiringConfirmed(int stringId) { (void)stringId; }
    // Called when a guided procedure that had the user change the bench (added mass, box)
    // ends, however it ends.
    virtual void procedureEnded() {}
};

// The box's byte protocol on whatever portAccess() is at the time of the call.
class ParallelPortBox : public AcquisitionDevice {
public:
    CaptureOutcome capture(const CaptureRequest& request, RawCapture& out) override;
    int hardwareNumber(int parallelPort) override;
    void pauseMs(int ms) override;
    void wiringConfirmed(int stringId) override;
    void procedureEnded() override;
};

// The box the program measures with. Until one is installed, the parallel-port box on
// portAccess() answers.
AcquisitionDevice& acquisitionDevice();
void setAcquisitionDevice(AcquisitionDevice* device); // nullptr restores the parallel port

// Captures one record from the box: sampleCount N (512..4096; 4096 with MLS), input 1..4,
// rateCode 1..3, window code 1..4, rawCapture 1 for the level measurement (no clip warning,
// no deconvolution). `record` holds at least 4098 floats in the timeRecord layout. Failures
// are told to the user (strings 15, 16, 18) and leave the record as it was. Returns 1 when a
// record was delivered, 0 when the box failed (the system's callers ignore it).
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
