#include "core/SettingsFields.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>

namespace core
{

namespace
{

#define ORVO_WHOLE(member) [](MeasurementSettings& s) -> int* { return &s.member; }, nullptr
#define ORVO_REAL(member) nullptr, [](MeasurementSettings& s) -> float* { return &s.member; }

SettingsFieldRange whole(const char* name, int lo, int hi, const char* allowed,
                         int* (*field)(MeasurementSettings&), float* (*)(MeasurementSettings&))
{
    return {name, FieldType::Whole, double(lo), double(hi), false,  false, true,
            {},   std::nullopt,     allowed,    field,      nullptr};
}

SettingsFieldRange choice(const char* name, std::vector<int> values, const char* allowed,
                          int* (*field)(MeasurementSettings&), float* (*)(MeasurementSettings&))
{
    return {name,         FieldType::Whole, 0,     0,      false, false, true, std::move(values),
            std::nullopt, allowed,          field, nullptr};
}

SettingsFieldRange checked(const char* name, RangeField check, double lo, double hi, bool loOpen,
                           const char* allowed, int* (*)(MeasurementSettings&),
                           float* (*field)(MeasurementSettings&))
{
    return {name, FieldType::Real, lo, hi, loOpen, true, false, {}, check, allowed, nullptr, field};
}

SettingsFieldRange spin(const char* name, int lo, int hi, const char* allowed,
                        int* (*)(MeasurementSettings&), float* (*field)(MeasurementSettings&))
{
    return {name, FieldType::Real, double(lo), double(hi), false, false, true,
            {},   std::nullopt,    allowed,    nullptr,    field};
}

SettingsFieldRange real(const char* name, double lo, double hi, const char* allowed,
                        int* (*)(MeasurementSettings&), float* (*field)(MeasurementSettings&))
{
    return {name, FieldType::Real, lo, hi, false, false, false, {}, std::nullopt, allowed, nullptr,
            field};
}

std::vector<SettingsFieldRange> makeTable()
{
    // What the dialogs offer: radio buttons give the codes, spin controls whole numbers in
    // their range, the typed fields what the dialog's range check accepts.
    return {
        whole("parallelPort", 1, 3, "1, 2 oder 3 (LPT 1 bis 3)", ORVO_WHOLE(parallelPort)),
        whole("window", 1, 4, "1 (Rechteck), 2 (Hamming), 3 (Hanning) oder 4 (Blackman)",
              ORVO_WHOLE(window)),
        whole("smoothing", 1, 4, "1 (kein), 2 (1/3 Oktave), 3 (1/6 Oktave) oder 4 (1/12 Oktave)",
              ORVO_WHOLE(smoothing)),
        whole("averages", 1, 30, "eine ganze Zahl von 1 bis 30", ORVO_WHOLE(averages)),
        whole("markerPos[0]", 0, 10000, "eine ganze Zahl von 0 bis 10000",
              ORVO_WHOLE(markerPos[0])),
        whole("markerPos[1]", 0, 10000, "eine ganze Zahl von 0 bis 10000",
              ORVO_WHOLE(markerPos[1])),
        whole("markerDragging[0]", 0, 1, "0 oder 1", ORVO_WHOLE(markerDragging[0])),
        whole("markerDragging[1]", 0, 1, "0 oder 1", ORVO_WHOLE(markerDragging[1])),
        whole("sampleRate", 1, 3,
              "der Code 1 (6,4 kHz), 2 (51,2 kHz) oder 3 (3,2 kHz), nicht die Frequenz in Hz",
              ORVO_WHOLE(sampleRate)),
        checked("dbsplSpeakerImpedanceOhm", RangeField::DbsplSpeakerImpedance, 1, 1000.0001, false,
                "ein Wert in Ohm von 1 bis 1000", ORVO_REAL(dbsplSpeakerImpedanceOhm)),
        choice("fftLength", {512, 1024, 2048, 4096}, "512, 1024, 2048 oder 4096",
               ORVO_WHOLE(fftLength)),
        whole("measuringInput", 1, 4, "1 (Line1), 2 (Mic.), 3 (Line2) oder 4 (Ref_Intern)",
              ORVO_WHOLE(measuringInput)),
        whole("referenceInput", 1, 4, "1 (Line1), 2 (Mic.), 3 (Line2) oder 4 (intern)",
              ORVO_WHOLE(referenceInput)),
        whole("distanceMm", 1, 5000, "eine ganze Zahl von 1 bis 5000 (Millimeter)",
              ORVO_WHOLE(distanceMm)),
        whole("dbsplRealDistance", 0, 1, "0 (Abstand = 1 m) oder 1 (realer Abstand)",
              ORVO_WHOLE(dbsplRealDistance)),
        whole("phaseMode", 1, 3, "1 (reale Phase), 2 (mit Laufzeitausgleich) oder 3 (Minimalphase)",
              ORVO_WHOLE(phaseMode)),
        checked("referenceResistorOhm", RangeField::ReferenceResistor, 1, 10000.0001, false,
                "ein Wert in Ohm von 1 bis 10000", ORVO_REAL(referenceResistorOhm)),
        spin("preampGainDb", -50, 50, "eine ganze Zahl von -50 bis 50 (dB)",
             ORVO_REAL(preampGainDb)),
        whole("referenceComputation", 0, 1, "0 (nein) oder 1 (ja)",
              ORVO_WHOLE(referenceComputation)),
        spin("phaseOffsetDeg", -180, 180, "eine ganze Zahl von -180 bis 180 (Grad)",
             ORVO_REAL(phaseOffsetDeg)),
        whole("stepResponse", 0, 1, "0 (nein) oder 1 (ja)", ORVO_WHOLE(stepResponse)),
        whole("micCorrection", 0, 1, "0 (nein) oder 1 (ja)", ORVO_WHOLE(micCorrection)),
        whole("micPhase0Deg", 0, 1, "0 (180 Grad) oder 1 (0 Grad)", ORVO_WHOLE(micPhase0Deg)),
        whole("method", 0, 3, "0 (Impuls), 1 (MLS), 2 (FFT-Analyzer) oder 3 (Sweep)",
              ORVO_WHOLE(method)),
        checked("addedMassG", RangeField::AddedMass, 0.1, 100.0001, true,
                "ein Wert in Gramm über 0,1 bis 100", ORVO_REAL(addedMassG)),
        checked("diaphragmDiameterMm", RangeField::DiaphragmDiameter, 1, 1000.0001, false,
                "ein Wert in Millimeter von 1 bis 1000", ORVO_REAL(diaphragmDiameterMm)),
        checked("micSensitivityMvPerPa", RangeField::MicSensitivity, 0, 100.0001, true,
                "ein Wert in mV/Pa über 0 bis 100", ORVO_REAL(micSensitivityMvPerPa)),
        checked("boxVolumeL", RangeField::BoxVolume, 0.1, 200.0001, true,
                "ein Wert in Liter über 0,1 bis 200", ORVO_REAL(boxVolumeL)),
        whole("levelCount", 1, 99, "eine ganze Zahl von 1 bis 99", ORVO_WHOLE(levelCount)),
        whole("levelCalculation", 0, 2,
              "0 (nur akt. Wert), 1 (mit Mittelwert) oder 2 (mit Spitzenwert)",
              ORVO_WHOLE(levelCalculation)),
        whole("levelWindow", 1, 4, "1 (Rechteck), 2 (Hamming), 3 (Hanning) oder 4 (Blackman)",
              ORVO_WHOLE(levelWindow)),
        whole("levelWeighting", 1, 4, "1 (keine), 2 (A), 3 (B) oder 4 (C)",
              ORVO_WHOLE(levelWeighting)),
        whole("levelMethod", 1, 3, "1 (Rosa Rauschen), 2 (Rauschen/MLS) oder 3 (FFT-Terz-Analyse)",
              ORVO_WHOLE(levelMethod)),
        whole("levelCountLimited", 0, 1, "0 (unendlich) oder 1 (begrenzt)",
              ORVO_WHOLE(levelCountLimited)),
        whole("sumMode", 0, 1, "0 (komplex) oder 1 (Betrag)", ORVO_WHOLE(sumMode)),
        whole("levelAveraging", 1, 3, "1 (schnell), 2 (mittel) oder 3 (träge)",
              ORVO_WHOLE(levelAveraging)),
        real("sweepStartHz", 10, 384000, "eine Frequenz in Hz von 10 bis 384000",
             ORVO_REAL(sweepStartHz)),
        real("sweepEndHz", 20, 384000, "eine Frequenz in Hz von 20 bis 384000",
             ORVO_REAL(sweepEndHz)),
        real("sweepSeconds", 0.5, 10, "eine Dauer in Sekunden von 0,5 bis 10",
             ORVO_REAL(sweepSeconds)),
    };
}

#undef ORVO_WHOLE
#undef ORVO_REAL

bool accepts(const SettingsFieldRange& f, double v)
{
    if (f.dialogCheck)
        return rangeAccepts(*f.dialogCheck, v);
    if (!f.choices.empty()) {
        for (const int c : f.choices)
            if (v == c)
                return true;
        return false;
    }
    if (f.wholeOnly && v != std::floor(v))
        return false;
    const bool aboveLo = f.loOpen ? v > f.lo : v >= f.lo;
    const bool belowHi = f.hiOpen ? v < f.hi : v <= f.hi;
    return aboveLo && belowHi;
}

// A hint for values given in the wrong unit: a rate in Hz where a code is asked for.
std::string unitHint(const SettingsFieldRange& f, double v)
{
    if (std::string_view(f.name) != "sampleRate")
        return {};
    if (v == 6400)
        return "; für 6400 Hz ist es 1";
    if (v == 51200)
        return "; für 51200 Hz ist es 2";
    if (v == 3200)
        return "; für 3200 Hz ist es 3";
    return {};
}

} // namespace

const std::vector<SettingsFieldRange>& settingsFieldRanges()
{
    static const std::vector<SettingsFieldRange> table = makeTable();
    return table;
}

const SettingsFieldRange* findSettingsField(std::string_view name)
{
    for (const SettingsFieldRange& f : settingsFieldRanges())
        if (name == f.name)
            return &f;
    return nullptr;
}

FieldAssignment assignSettingsField(MeasurementSettings& settings, std::string_view name,
                                    std::string_view value)
{
    FieldAssignment r;
    const SettingsFieldRange* f = findSettingsField(name);
    if (f == nullptr) {
        r.check = FieldCheck::UnknownField;
        r.message = "--set: unbekanntes Feld „" + std::string(name) + "“";
        return r;
    }
    const std::string text(value);
    const std::string what =
        "--set " + std::string(name) + "=" + text + ": erlaubt ist " + f->allowed;
    // The caller runs in the "C" locale: strtod reads a decimal point only. The whole text
    // must be the number; blanks and hexadecimal forms are not numbers a user types here.
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double v = text.empty() || text.find_first_of(" \t\n") != std::string::npos ||
                             text.find_first_of("xXpP") != std::string::npos
                         ? 0.0
                         : std::strtod(begin, &end);
    if (text.empty() || end == nullptr || *end != '\0' || end == begin || errno == ERANGE ||
        !std::isfinite(v)) {
        r.check = FieldCheck::NotANumber;
        r.message = what + "; „" + text + "“ ist keine Zahl";
        return r;
    }
    // Finite as a double is not enough: 1e39 becomes infinity as a 32-bit float.
    const bool finiteAsFloat = std::fabs(v) <= static_cast<double>(FLT_MAX);
    if (!finiteAsFloat || !accepts(*f, v)) {
        r.check = FieldCheck::OutOfRange;
        r.message = what + unitHint(*f, v);
        return r;
    }
    if (f->type == FieldType::Whole)
        *f->wholeField(settings) = static_cast<int>(v);
    else
        *f->realField(settings) = static_cast<float>(v);
    return r;
}

} // namespace core
