// The measurement settings by field name, with the values each field may take: the choices
// and spin ranges the dialogs offer and what their range checks accept. For everything that
// sets a field from text outside the dialogs (orvo-tool's --set).
#pragma once

#include "core/Settings.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core
{

enum class FieldType { Whole, Real };

struct SettingsFieldRange {
    const char* name; // as in the record: "fftLength", "markerPos[0]"
    FieldType type;
    double lo;                             // lowest value taken (Whole: inclusive)
    double hi;                             // highest value taken (Whole: inclusive)
    bool loOpen;                           // Real: lo itself is refused
    bool hiOpen;                           // Real: hi itself is refused
    bool wholeOnly;                        // Real fields whose control holds whole numbers only
    std::vector<int> choices;              // Whole fields with a set of values instead of lo..hi
    std::optional<RangeField> dialogCheck; // Real fields the dialog checks (bounds from there)
    const char* allowed;                   // German: what may be given, for messages
    int* (*wholeField)(MeasurementSettings&);
    float* (*realField)(MeasurementSettings&);
};

// Every settings field that may be set by name, in record order.
const std::vector<SettingsFieldRange>& settingsFieldRanges();
const SettingsFieldRange* findSettingsField(std::string_view name);

enum class FieldCheck { Ok, UnknownField, NotANumber, OutOfRange };

struct FieldAssignment {
    FieldCheck check = FieldCheck::Ok;
    std::string message; // German, names the field and what it takes, when check != Ok
};

// Parses `value` ("C" number conventions, the whole text) for the field `name`, checks it
// against the field's range and, when it is acceptable, stores it in `settings`. Nothing is
// changed otherwise. A real value must stay finite as a 32-bit float.
FieldAssignment assignSettingsField(MeasurementSettings& settings, std::string_view name,
                                    std::string_view value);

} // namespace core
