#include "core/Settings.h"

#include "core/SettingsStore.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace core {

namespace {
MeasurementSettings g_settings;
AcquisitionSnapshot g_snapshot;
} // namespace

int threeKilohertzAllowed = 0;
std::string installFolder;

MeasurementSettings& settings() { return g_settings; }
AcquisitionSnapshot& snapshot() { return g_snapshot; }

void resetSettings()
{
    g_settings = MeasurementSettings{};
    g_snapshot = AcquisitionSnapshot{};
    threeKilohertzAllowed = 0;
    installFolder.clear();
}

void takeSnapshot() { takeSnapshot(g_settings.markerPos); }

void takeSnapshot(const std::array<int, 2>& markers)
{
    g_snapshot.markerPos = markers;
    g_snapshot.averages = g_settings.averages;
    g_snapshot.smoothing = g_settings.smoothing;
    g_snapshot.distanceMm = g_settings.distanceMm;
    g_snapshot.window = g_settings.window;
    g_snapshot.referenceResistorOhm = g_settings.referenceResistorOhm;
}

std::vector<SnapshotField> implausibleSnapshotFields(const AcquisitionSnapshot& sn)
{
    std::vector<SnapshotField> bad;
    auto within = [](int v, int lo, int hi) { return v >= lo && v <= hi; };
    // Equal markers are possible (the frequency views then say so); crossed ones are not.
    if (!within(sn.markerPos[0], 0, 10000) || !within(sn.markerPos[1], 0, 10000) ||
        sn.markerPos[0] > sn.markerPos[1])
        bad.push_back(SnapshotField::Markers);
    if (!within(sn.averages, 1, 30))
        bad.push_back(SnapshotField::Averages);
    if (!within(sn.smoothing, 1, 4))
        bad.push_back(SnapshotField::Smoothing);
    if (!within(sn.distanceMm, 1, 5000))
        bad.push_back(SnapshotField::Distance);
    if (!within(sn.window, 1, 4))
        bad.push_back(SnapshotField::Window);
    if (!std::isfinite(sn.referenceResistorOhm) || sn.referenceResistorOhm < 1.0f ||
        sn.referenceResistorOhm > 10000.0001f)
        bad.push_back(SnapshotField::ReferenceResistor);
    return bad;
}

void restoreSnapshot()
{
    // The snapshot itself keeps what the file held (it is saved back unchanged); the
    // settings get a default for what can't be right.
    AcquisitionSnapshot sn = g_snapshot;
    const AcquisitionSnapshot defaults;
    for (SnapshotField f : implausibleSnapshotFields(sn)) {
        switch (f) {
        case SnapshotField::Markers:
            sn.markerPos = defaults.markerPos;
            break;
        case SnapshotField::Averages:
            sn.averages = defaults.averages;
            break;
        case SnapshotField::Smoothing:
            sn.smoothing = defaults.smoothing;
            break;
        case SnapshotField::Distance:
            sn.distanceMm = defaults.distanceMm;
            break;
        case SnapshotField::Window:
            sn.window = defaults.window;
            break;
        case SnapshotField::ReferenceResistor:
            sn.referenceResistorOhm = defaults.referenceResistorOhm;
            break;
        }
    }
    g_settings.markerPos = sn.markerPos;
    g_settings.averages = sn.averages;
    g_settings.smoothing = sn.smoothing;
    g_settings.distanceMm = sn.distanceMm;
    g_settings.window = sn.window;
    g_settings.referenceResistorOhm = sn.referenceResistorOhm;
}

int sampleRateHz(int rateCode)
{
    switch (rateCode) {
    case 2:
        return 51200;
    case 3:
        return 3200;
    default:
        return 6400;
    }
}

int recordSpanMs(int rateCode, int fftLength)
{
    int base; // span of a 512-point record
    switch (rateCode) {
    case 1:
        base = 80;
        break;
    case 2:
        base = 10;
        break;
    case 3:
        base = 160;
        break;
    default:
        return 0;
    }
    switch (fftLength) {
    case 512:
        return base;
    case 1024:
        return base * 2;
    case 2048:
        return base * 4;
    case 4096:
        return base * 8;
    default:
        return 0;
    }
}

void remapMarkers(int oldRate, int oldLength, int newRate, int newLength)
{
    // Times are held as 32-bit floats, as the dialog always did; an OK that changes nothing
    // can therefore move a marker down by one unit.
    const float spanOld = static_cast<float>(recordSpanMs(oldRate, oldLength));
    const float t1 = static_cast<float>(g_settings.markerPos[0] * static_cast<double>(spanOld) / 10000.0);
    const float t2 = static_cast<float>(g_settings.markerPos[1] * static_cast<double>(spanOld) / 10000.0);

    g_settings.sampleRate = newRate;
    g_settings.fftLength = newLength;
    const double spanNew = recordSpanMs(newRate, newLength);

    const float times[2] = {t1, t2};
    for (int m = 0; m < 2; ++m) {
        int& p = g_settings.markerPos[m];
        if (p > 0 && p < 10000 && spanNew > 0.0) {
            const double q = std::trunc(times[m] * 10000.0 / spanNew);
            p = q > 1e9 ? 1000000000 : static_cast<int>(q);
        }
        if (p > 9999)
            p = 10000;
        if (p < 0)
            p = 0;
    }
    if (g_settings.markerPos[1] == 0)
        g_settings.markerPos[1] = 10000;
    if (g_settings.markerPos[0] == 10000)
        g_settings.markerPos[0] = 0;
}

void resetMarkersIfCrossed()
{
    if (g_settings.markerPos[0] >= g_settings.markerPos[1]) {
        g_settings.markerPos[0] = 0;
        g_settings.markerPos[1] = 10000;
    }
}

float signedSpinValue(int position)
{
    position &= 0xFFFF;
    if (position > 32768)
        position -= 65536;
    return static_cast<float>(position);
}

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool isDigit(char c) { return c >= '0' && c <= '9'; }

struct NumberScan {
    bool found = false;       // at least one digit
    double value = 0.0;
    const char* end = nullptr; // first character after the number
};

// Sign, digits with at most one decimal separator, optional exponent, from `p` up to `limit`.
// strtod follows the process locale; reading by hand keeps a German desktop locale from
// turning "," into a decimal point or "." into garbage where the caller doesn't want that.
NumberScan scanNumber(const char* p, const char* limit, bool commaIsDecimal)
{
    NumberScan r;
    r.end = p;
    bool negative = false;
    if (p < limit && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    double mantissa = 0.0;
    int digits = 0;
    int exponent = 0;
    while (p < limit && isDigit(*p)) {
        mantissa = mantissa * 10.0 + (*p - '0');
        ++digits;
        ++p;
    }
    if (p < limit && (*p == '.' || (commaIsDecimal && *p == ','))) {
        ++p;
        while (p < limit && isDigit(*p)) {
            mantissa = mantissa * 10.0 + (*p - '0');
            --exponent;
            ++digits;
            ++p;
        }
    }
    if (digits == 0)
        return r;
    if (p < limit && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool expNegative = false;
        if (q < limit && (*q == '+' || *q == '-')) {
            expNegative = *q == '-';
            ++q;
        }
        if (q < limit && isDigit(*q)) {
            int e = 0;
            while (q < limit && isDigit(*q)) {
                if (e < 10000)
                    e = e * 10 + (*q - '0');
                ++q;
            }
            exponent += expNegative ? -e : e;
            p = q;
        }
    }
    double value = mantissa * std::pow(10.0, exponent);
    if (!std::isfinite(value))
        value = HUGE_VAL;
    r.found = true;
    r.value = negative ? -value : value;
    r.end = p;
    return r;
}

} // namespace

double parseLeadingNumber(const char* text)
{
    if (text == nullptr)
        return 0.0;
    const char* p = text;
    while (isSpace(*p))
        ++p;
    return scanNumber(p, p + std::strlen(p), false).value;
}

std::optional<double> parseTypedNumber(std::string_view text)
{
    const char* p = text.data();
    const char* limit = p + text.size();
    while (p < limit && isSpace(*p))
        ++p;
    const NumberScan n = scanNumber(p, limit, true);
    if (!n.found || !std::isfinite(n.value))
        return std::nullopt;
    p = n.end;
    if (p == limit)
        return n.value;
    // After the number only blanks, or blanks and a unit word.
    if (!isSpace(*p))
        return std::nullopt;
    while (p < limit && isSpace(*p))
        ++p;
    if (p < limit && (isDigit(*p) || *p == '+' || *p == '-' || *p == '.' || *p == ','))
        return std::nullopt;
    return n.value;
}

bool rangeAccepts(RangeField field, double d)
{
    const double v = static_cast<double>(static_cast<float>(d));
    // Bounds as the dialog compares them: most against the double, added mass and box volume
    // against the value already converted to a 32-bit float.
    switch (field) {
    case RangeField::MicSensitivity:
        return d > 0.0 && d < 100.0001;
    case RangeField::DiaphragmDiameter:
        return d >= 1.0 && d < 1000.0001;
    case RangeField::AddedMass:
        // float(0.1) is a little above the double 0.1, so an entered 0.1 passes.
        return v > 0.1 && v < 100.0001;
    case RangeField::BoxVolume:
        return v > 0.1 && v < 200.0001;
    case RangeField::ReferenceResistor:
    case RangeField::DbsplSpeakerImpedance:
        break;
    }
    const double hi = field == RangeField::ReferenceResistor ? 10000.0001 : 1000.0001;
    return d >= 1.0 && d < hi;
}

RangeCheckResult checkSettingRange(RangeField field, const char* text)
{
    RangeCheckResult r;
    const double d = parseTypedNumber(text == nullptr ? std::string_view() : std::string_view(text))
                         .value_or(0.0);
    r.value = static_cast<float>(d);
    r.ok = rangeAccepts(field, d);
    if (r.ok)
        return r;
    switch (field) {
    case RangeField::MicSensitivity:
        r.messageId = 51;
        r.captionId = 52;
        break;
    case RangeField::DiaphragmDiameter:
        r.messageId = 53;
        r.captionId = 54;
        break;
    case RangeField::AddedMass:
        r.messageId = 51;
        r.captionId = 55;
        break;
    case RangeField::BoxVolume:
        r.messageId = 73;
        r.captionId = 74;
        break;
    case RangeField::ReferenceResistor:
        r.messageId = 104;
        r.captionId = 105;
        break;
    case RangeField::DbsplSpeakerImpedance:
        r.messageId = 53;
        r.captionId = 100;
        break;
    }
    return r;
}

std::string sweepSettingsProblem(double startHz, double endHz, double seconds)
{
    if (!(startHz >= 10.0 && startHz <= 10000.0))
        return "Sweep von: bitte eine Frequenz von 10 bis 10000 Hz eingeben.";
    if (!(endHz >= 20.0 && endHz <= 384000.0))
        return "Sweep bis: bitte eine Frequenz von 20 bis 384000 Hz eingeben.";
    if (!(endHz >= 2.0 * startHz))
        return "Der Sweep muss mindestens eine Oktave überstreichen: \"bis\" ist wenigstens "
               "doppelt so hoch wie \"Sweep von\".";
    if (!(seconds >= 0.5 && seconds <= 10.0))
        return "Sweep-Dauer: bitte eine Dauer von 0,5 bis 10 s eingeben.";
    return {};
}

namespace {

constexpr const char* kSweepStartKey = "Sweep/Von";
constexpr const char* kSweepEndKey = "Sweep/Bis";
constexpr const char* kSweepSecondsKey = "Sweep/Dauer";

// The store holds numbers in the "C" form it was given them in.
bool storedNumber(SettingsStore& store, const char* key, double& out)
{
    const std::optional<std::string> text = store.value(key);
    if (!text || text->empty())
        return false;
    char* end = nullptr;
    const double v = std::strtod(text->c_str(), &end);
    if (end != text->c_str() + text->size() || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

std::string storeText(double v)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.9g", v);
    return buffer;
}

} // namespace

void readSweepSettings(SettingsStore& store, MeasurementSettings& s)
{
    double start = s.sweepStartHz;
    double end = s.sweepEndHz;
    double seconds = s.sweepSeconds;
    // Each key on its own: one missing key keeps its setting, the others are still read.
    const bool haveStart = storedNumber(store, kSweepStartKey, start);
    const bool haveEnd = storedNumber(store, kSweepEndKey, end);
    const bool haveSeconds = storedNumber(store, kSweepSecondsKey, seconds);
    const bool any = haveStart || haveEnd || haveSeconds;
    // A damaged or hand-edited store keeps what the settings hold.
    if (!any || !sweepSettingsProblem(start, end, seconds).empty())
        return;
    s.sweepStartHz = static_cast<float>(start);
    s.sweepEndHz = static_cast<float>(end);
    s.sweepSeconds = static_cast<float>(seconds);
}

void writeSweepSettings(SettingsStore& store, const MeasurementSettings& s)
{
    store.setValue(kSweepStartKey, storeText(s.sweepStartHz));
    store.setValue(kSweepEndKey, storeText(s.sweepEndHz));
    store.setValue(kSweepSecondsKey, storeText(s.sweepSeconds));
}

} // namespace core
