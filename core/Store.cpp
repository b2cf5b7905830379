#include "core/Store.h"

#include <cmath>
#include <cstring>
#include <memory>

namespace core {

namespace {
// Heap-held so that the ~1 MB record never sits on a thread stack or in a test fixture copy.
std::unique_ptr<MeasurementStore> g_store = std::make_unique<MeasurementStore>();
} // namespace

MeasurementStore& store() { return *g_store; }

void resetStore() { *g_store = MeasurementStore{}; }

int overlayColorSlot(int slot)
{
    if (slot < 0 || slot > 4)
        return 0;
    const int c = g_store->overlayTags[static_cast<std::size_t>(slot)].colorSlot;
    return c >= 0 && c <= 4 ? c : slot;
}

void nameOverlayCurves(const std::string& name)
{
    for (int k = 0; k < 5; ++k) {
        OverlayCurveTag& t = g_store->overlayTags[static_cast<std::size_t>(k)];
        t.colorSlot = k;
        t.name = k == 0 || name.empty() ? name : name + " (" + std::to_string(k + 1) + ")";
    }
}

namespace
{
// FNV-1a over the bytes of both impedance curves, trailers included.
unsigned long long impedanceFingerprint()
{
    unsigned long long h = 14695981039346656037ull;
    for (const CurveBuffer* c : {&g_store->impedanceMagnitude, &g_store->impedancePhase}) {
        const auto* b = reinterpret_cast<const unsigned char*>(c->data());
        for (std::size_t i = 0; i < sizeof c->v; ++i) {
            h ^= b[i];
            h *= 1099511628211ull;
        }
    }
    return h;
}
} // namespace

void labelImpedanceCurve(ImpedanceCurveKind kind, double peakHz)
{
    g_store->impedanceLabel = {kind, impedanceFingerprint(),
                               kind == ImpedanceCurveKind::FreeAir ? peakHz : 0.0};
}

ImpedanceCurveKind impedanceCurveKind()
{
    const ImpedanceCurveLabel& l = g_store->impedanceLabel;
    if (l.kind == ImpedanceCurveKind::Unlabelled || l.fingerprint != impedanceFingerprint())
        return ImpedanceCurveKind::Unlabelled;
    return l.kind;
}

const char* impedanceCurveText(ImpedanceCurveKind kind)
{
    switch (kind) {
    case ImpedanceCurveKind::FreeAir:
        return "in freier Luft";
    case ImpedanceCurveKind::AddedMass:
        return "mit Zusatzmasse";
    case ImpedanceCurveKind::ClosedBox:
        return "im Gehäuse";
    case ImpedanceCurveKind::SecondRun:
        return "mit Zusatzmasse oder im Gehäuse";
    case ImpedanceCurveKind::Unlabelled:
        break;
    }
    return "";
}

int safeTrailerN(float n)
{
    if (n == 1024.0f || n == 2048.0f || n == 4096.0f)
        return static_cast<int>(n);
    return 512;
}

int safeTrailerRate(float rate)
{
    if (rate == 2.0f || rate == 3.0f)
        return static_cast<int>(rate);
    return 1;
}

bool isValidTrailer(float n, float rate)
{
    const bool nOk = n == 512.0f || n == 1024.0f || n == 2048.0f || n == 4096.0f;
    const bool rOk = rate == 1.0f || rate == 2.0f || rate == 3.0f;
    return nOk && rOk;
}

int rateTableIndex(int rateCode)
{
    if (rateCode == 2)
        return 1;
    if (rateCode == 3)
        return 2;
    return 0;
}

namespace {
bool allWithin(const std::vector<float>& v, float lo, float hi)
{
    for (float x : v)
        if (!(x >= lo && x <= hi)) // NaN fails both
            return false;
    return true;
}
} // namespace

bool isPlausibleDistortionRecord(const DistortionRecord& r)
{
    const std::size_t n = r.hz.size();
    if (n == 0) {
        DistortionRecord emptyRecord;
        return r == emptyRecord;
    }
    if (n > static_cast<std::size_t>(kDistortionMaxPoints))
        return false;
    if (!(r.sweepRateHz >= kDistortionMinRateHz && r.sweepRateHz <= kDistortionMaxRateHz))
        return false;
    const double nyquist = 0.5 * r.sweepRateHz;
    if (!(r.sweepStartHz > 0.0 && r.sweepStartHz < r.sweepEndHz && r.sweepEndHz <= nyquist))
        return false;
    if (!(r.sweepSeconds > 0.0 && r.sweepSeconds <= kDistortionMaxSweepSeconds))
        return false;
    if (!(r.sweepAmplitude >= 0.0 && r.sweepAmplitude <= 1.0))
        return false;
    float previous = 0.0f;
    for (float f : r.hz) {
        if (!(f > previous) || !std::isfinite(f))
            return false;
        previous = f;
    }
    if (r.fundamentalDb.size() != n || r.thdPercent.size() != n)
        return false;
    if (!allWithin(r.fundamentalDb, -kDistortionDbLimit, kDistortionDbLimit) ||
        !allWithin(r.thdPercent, 0.0f, kDistortionThdLimitPercent))
        return false;
    for (int k = 0; k < kDistortionHarmonics; ++k) {
        const std::vector<float>& h = r.harmonicDb[static_cast<std::size_t>(k)];
        const std::vector<float>& noise = r.noiseDb[static_cast<std::size_t>(k)];
        if (h.size() > n || (!noise.empty() && noise.size() != h.size()))
            return false;
        if (!allWithin(h, -kDistortionDbLimit, kDistortionDbLimit) ||
            !allWithin(noise, -kDistortionDbLimit, kDistortionDbLimit))
            return false;
    }
    return true;
}

void setTsResultText(const char* text)
{
    auto& t = g_store->tsResultText;
    t.fill(0);
    if (text != nullptr)
        std::strncpy(t.data(), text, t.size() - 1);
}

} // namespace core
