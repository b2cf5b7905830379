#include "core/Settings.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

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

void takeSnapshot()
{
    g_snapshot.markerPos = g_settings.markerPos;
    g_snapshot.averages = g_settings.averages;
    g_snapshot.smoothing = g_settings.smoothing;
    g_snapshot.distanceMm = g_settings.distanceMm;
    g_snapshot.window = g_settings.window;
    g_snapshot.referenceResistorOhm = g_settings.referenceResistorOhm;
}

void restoreSnapshot()
{
    g_settings.markerPos = g_snapshot.markerPos;
    g_settings.averages = g_snapshot.averages;
    g_settings.smoothing = g_snapshot.smoothing;
    g_settings.distanceMm = g_snapshot.distanceMm;
    g_settings.window = g_snapshot.window;
    g_settings.referenceResistorOhm = g_snapshot.referenceResistorOhm;
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

double parseLeadingNumber(const char* text)
{
    if (text == nullptr)
        return 0.0;
    // strtod follows the process locale; parse by hand so that a German desktop locale
    // cannot turn "," into a decimal point or "." into garbage.
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    double mantissa = 0.0;
    int digits = 0;
    int exponent = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
        mantissa = mantissa * 10.0 + (*p - '0');
        ++digits;
        ++p;
    }
    if (*p == '.') {
        ++p;
        while (std::isdigit(static_cast<unsigned char>(*p))) {
            mantissa = mantissa * 10.0 + (*p - '0');
            --exponent;
            ++digits;
            ++p;
        }
    }
    if (digits == 0)
        return 0.0;
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        bool expNegative = false;
        if (*q == '+' || *q == '-') {
            expNegative = *q == '-';
            ++q;
        }
        if (std::isdigit(static_cast<unsigned char>(*q))) {
            int e = 0;
            while (std::isdigit(static_cast<unsigned char>(*q))) {
                if (e < 10000)
                    e = e * 10 + (*q - '0');
                ++q;
            }
            exponent += expNegative ? -e : e;
        }
    }
    double value = mantissa * std::pow(10.0, exponent);
    if (!std::isfinite(value))
        value = HUGE_VAL;
    return negative ? -value : value;
}

RangeCheckResult checkSettingRange(RangeField field, const char* text)
{
    RangeCheckResult r;
    const double d = parseLeadingNumber(text);
    r.value = static_cast<float>(d);
    const float v = r.value;
    // Bounds as the dialog compares them: most against the double, added mass and box volume
    // against the value already converted to a 32-bit float.
    switch (field) {
    case RangeField::MicSensitivity:
        r.ok = d > 0.0 && d < 100.0001;
        r.messageId = 51;
        r.captionId = 52;
        break;
    case RangeField::DiaphragmDiameter:
        r.ok = d >= 1.0 && d < 1000.0001;
        r.messageId = 53;
        r.captionId = 54;
        break;
    case RangeField::AddedMass:
        // float(0.1) is a little above the double 0.1, so an entered 0.1 passes.
        r.ok = static_cast<double>(v) > 0.1 && static_cast<double>(v) < 100.0001;
        r.messageId = 51;
        r.captionId = 55;
        break;
    case RangeField::BoxVolume:
        r.ok = static_cast<double>(v) > 0.1 && static_cast<double>(v) < 200.0001;
        r.messageId = 73;
        r.captionId = 74;
        break;
    case RangeField::ReferenceResistor:
        r.ok = d >= 1.0 && d < 10000.0001;
        r.messageId = 104;
        r.captionId = 105;
        break;
    case RangeField::DbsplSpeakerImpedance:
        r.ok = d >= 1.0 && d < 1000.0001;
        r.messageId = 53;
        r.captionId = 100;
        break;
    }
    if (r.ok) {
        r.messageId = 0;
        r.captionId = 0;
    }
    return r;
}

} // namespace core
