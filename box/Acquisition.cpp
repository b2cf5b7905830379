#include "box/Acquisition.h"

#include "box/Mls.h"
#include "box/PortAccess.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Ui.h"
#include "dsp/Fft.h"

#include <array>
#include <cstdint>

namespace box
{

namespace
{

// Status nibble: lines 7..4 with line 7 inverted by the port hardware.
inline int nibble(std::uint8_t status)
{
    return ((status & 0xF0) ^ 0x80) >> 4;
}
inline bool handshake(std::uint8_t status)
{
    return (status & 0x08) != 0;
}

// Hardware messages carry the caption " ". A device that knows what went wrong says so in
// the same message.
void hardwareMessage(int textId, const std::string& detail = {})
{
    const std::string text =
        detail.empty() ? core::str(textId) : core::str(textId) + (":\n" + detail);
    core::messageText(text, " ", core::Icon::Information);
}

} // namespace

CaptureOutcome PortAccess::captureSweep(const CaptureRequest& request, RawCapture& out)
{
    (void)request;
    (void)out;
    return CaptureOutcome::Refused;
}

std::string sweepRefusedText()
{
    return "Die Messbox am Parallelport spielt nur ihre MLS: mit ihr ist keine Sweep-Messung "
           "möglich.\nBitte als Meßverfahren MLS wählen, oder mit einer Soundkarte messen.";
}

AcquireSettings acquireSettings(const core::MeasurementSettings& s)
{
    return {s.parallelPort, s.method,       s.fftLength,  s.micPhase0Deg,
            s.sweepStartHz, s.sweepEndHz,   s.sweepSeconds};
}

AcquisitionRequest acquisitionRequest(const core::MeasurementSettings& s)
{
    AcquisitionRequest r;
    r.sampleCount = s.fftLength;
    r.input = core::inputFromCode(s.measuringInput);
    r.rateCode = s.sampleRate;
    r.window = core::windowFromCode(s.window);
    r.device = acquireSettings(s);
    return r;
}

bool acquireRecord(const AcquisitionRequest& request, core::TimeRecord& record,
                   core::DistortionRecord* distortion)
{
    return acquireRecord(request, record.data(), distortion);
}

namespace
{
ParallelPortBox g_parallelPortBox;
AcquisitionDevice* g_device = &g_parallelPortBox;
} // namespace

AcquisitionDevice& acquisitionDevice()
{
    return *g_device;
}
void setAcquisitionDevice(AcquisitionDevice* device)
{
    g_device = device ? device : &g_parallelPortBox;
}

void ParallelPortBox::pauseMs(int ms)
{
    portAccess().sleepMs(ms);
}
void ParallelPortBox::wiringConfirmed(int stringId)
{
    portAccess().wiringConfirmed(stringId);
}
void ParallelPortBox::procedureEnded()
{
    portAccess().procedureEnded();
}

CaptureOutcome ParallelPortBox::capture(const CaptureRequest& request, RawCapture& out)
{
    // The box plays nothing but its MLS, and a generator at its input cannot be synchronised
    // with a sweep's deconvolution.
    PortAccess& port = portAccess();
    if (request.excitation == Excitation::Sweep)
        return port.captureSweep(request, out);
    const std::uint16_t p = portBase(request.parallelPort);
    port.generatorPlays(request.excitation == Excitation::PeriodicNoise, request.noisePeriod);
    const int input = request.input;
    const int rateCode = request.rateCode;
    const bool line1 = input == 1;
    const bool mic = input == 2;
    const bool refInt = input == 4;
    std::uint8_t control = 0;
    if (line1 || mic)
        control |= 0x01;
    if (request.mls())
        control |= 0x02;
    if (rateCode == 1 || rateCode == 2)
        control |= 0x04;
    std::uint8_t sel = 0;
    if (rateCode == 2)
        sel |= 0x80;
    if (line1 || refInt)
        sel |= 0x40;
    auto write = [&](std::uint8_t x) { port.out(p, static_cast<std::uint8_t>(x | sel)); };
    auto status = [&]() { return port.in(static_cast<std::uint16_t>(p + 1)); };

    port.out(static_cast<std::uint16_t>(p + 2), control);
    port.sleepMs(10);

    // Start: the box answers by pulling the handshake line low while it records. Up to 42
    // attempts are made, but only an answer within the first 40 counts.
    bool started = false;
    for (int attempt = 1; attempt <= 42; ++attempt) {
        write(0x3F);
        port.sleepMs(1);
        write(0x37);
        port.sleepMs(1);
        write(0x33);
        port.sleepMs(1);
        write(0x13);
        port.sleepMs(60);
        if (!handshake(status())) {
            started = attempt <= 40;
            break;
        }
    }
    if (!started)
        return CaptureOutcome::NotPresent;

    // End of the capture: the handshake line goes high again. Up to 125 polls, of which only
    // the first 123 count.
    bool finished = false;
    for (int poll = 1; poll <= 125; ++poll) {
        port.sleepMs(40);
        if (handshake(status())) {
            finished = poll <= 123;
            break;
        }
    }
    if (!finished)
        return CaptureOutcome::Failed;

    write(0x37);
    port.sleepMs(1);
    write(0x33);
    port.sleepMs(1);

    // Read-out. The repeated status reads are the settling time the box needs between a
    // data-register write and a valid nibble: they must stay real reads.
    static thread_local std::array<std::uint8_t, 4096> hi, lo0, lo1;
    for (int i = 0; i < 4096; ++i) {
        std::uint8_t st = 0;
        write(0x32);
        for (int r = 0; r < 5; ++r)
            st = status();
        hi[i] = static_cast<std::uint8_t>(nibble(st));
        write(0x30);
        for (int r = 0; r < 5; ++r)
            status();
        write(0x22);
        for (int r = 0; r < 5; ++r)
            status();
        write(0x32);
        for (int r = 0; r < 6; ++r)
            st = status();
        lo0[i] = static_cast<std::uint8_t>(nibble(st));
        write(0x30);
        for (int r = 0; r < 5; ++r)
            st = status();
        lo1[i] = static_cast<std::uint8_t>(nibble(st));
        write(0x22);
        for (int r = 0; r < 5; ++r)
            status();
    }
    write(0x3F);
    port.sleepMs(40);

    // The high nibble of a sample arrives with the next iteration.
    out.clipped = false;
    for (int k = 0; k < 4095; ++k) {
        const int code = hi[k + 1] * 256 + lo1[k] * 16 + lo0[k];
        if (code < 3 || code > 4092)
            out.clipped = true;
        out.v[k] = code - 2047;
    }
    out.v[4095] = out.v[4094];
    return CaptureOutcome::Delivered;
}

Excitation excitationForMethod(int method)
{
    switch (method) {
    case 0:
        return Excitation::Pulse;
    case 2:
        return Excitation::PeriodicNoise;
    case 3:
        return Excitation::Sweep;
    default:
        return Excitation::Mls;
    }
}

int noisePeriodFor(int fftLength)
{
    int period = 512;
    while (period < 4096 && period < fftLength)
        period *= 2;
    return period;
}

bool acquireRecord(const AcquisitionRequest& request, float* record,
                   core::DistortionRecord* distortion)
{
    const AcquireSettings& s = request.device;
    const int input = core::inputCode(request.input);
    const int rateCode = request.rateCode;
    const bool rawCapture = request.raw;
    const Excitation excitation = excitationForMethod(s.method);
    // A sweep's record is an impulse response like the MLS's, and as long.
    const bool impulseResponse = excitation == Excitation::Mls || excitation == Excitation::Sweep;
    int n = request.sampleCount;
    if (impulseResponse)
        n = 4096;
    // Only the four lengths reach the box's memory size; anything else would overrun it.
    if (n != 512 && n != 1024 && n != 2048)
        n = 4096;

    static thread_local RawCapture raw;
    raw.distortion = {};
    const CaptureRequest capture{s.parallelPort,   input,           rateCode,
                                 excitation,       noisePeriodFor(s.fftLength),
                                 s.sweepStartHz,   s.sweepEndHz,    s.sweepSeconds};
    switch (acquisitionDevice().capture(capture, raw)) {
    case CaptureOutcome::Delivered:
        break;
    case CaptureOutcome::Refused:
        core::messageText(sweepRefusedText(), " ", core::Icon::Information);
        return false;
    case CaptureOutcome::NotPresent:
        hardwareMessage(15, acquisitionDevice().failureText());
        return false;
    case CaptureOutcome::Failed:
        hardwareMessage(16, acquisitionDevice().failureText());
        return false;
    }
    std::array<double, 4096>& v = raw.v;
    if (raw.clipped && !rawCapture)
        hardwareMessage(18);

    if (excitation == Excitation::Mls && !rawCapture) {
        static thread_local std::array<float, 4096> f;
        for (int k = 0; k < 4096; ++k)
            f[k] = static_cast<float>(v[k]);
        deconvolveMls(f.data(), 3300.0f);
        for (int k = 0; k < 4096; ++k)
            v[k] = f[k];
    }
    v[0] = v[1] = v[4095] = 0.0;

    if (excitation == Excitation::Pulse) {
        double mean = 0.0;
        for (int k = 0; k < n; ++k)
            mean += v[k];
        mean /= n;
        for (int k = 0; k < n; ++k)
            v[k] -= mean;
        v[0] = v[1] = v[4094] = v[4095] = 0.0;
    }

    if (request.window != core::Window::Rectangle)
        for (int k = 0; k < n; ++k)
            v[k] *= dsp::windowValue(core::windowCode(request.window), k, n);

    record[4096] = static_cast<float>(s.fftLength);
    record[4097] = static_cast<float>(rateCode);
    const bool mic = input == 2;
    const double scale = mic ? 12800.0 : 1280.0;
    const bool negate = mic && s.micPhase0Deg == 0;
    for (int k = 0; k < n; ++k) {
        const float x = static_cast<float>(v[k] / scale);
        record[k] = negate ? -x : x;
    }
    if (distortion)
        *distortion = excitation == Excitation::Sweep ? std::move(raw.distortion)
                                                      : core::DistortionRecord{};
    return true;
}

int readHardwareNumber()
{
    return readHardwareNumber(core::settings().parallelPort);
}

int readHardwareNumber(int parallelPort)
{
    return acquisitionDevice().hardwareNumber(parallelPort);
}

int ParallelPortBox::hardwareNumber(int parallelPort)
{
    PortAccess& port = portAccess();
    const std::uint16_t p = portBase(parallelPort);
    int number = 0;
    for (int attempt = 0; attempt < 10; ++attempt) {
        port.sleepMs(20);
        port.out(p, 0x04);
        port.sleepMs(10);
        const int low = nibble(port.in(static_cast<std::uint16_t>(p + 1)));
        port.sleepMs(10);
        port.out(p, 0x06);
        port.sleepMs(10);
        const int high = nibble(port.in(static_cast<std::uint16_t>(p + 1)));
        port.out(p, 0xFF);
        number = high * 16 + low;
        if (number >= 33 && number <= 99)
            break;
    }
    return number;
}

} // namespace box
