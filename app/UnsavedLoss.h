// Which unsaved data a command would take away. "Messung speichern?" is asked only then: a
// question before every measurement stops being read.
#pragma once

#include "files/ByteImage.h"

namespace app
{

// What a command puts in place of the data the store holds.
enum class Replaces {
    Nothing,
    ResponseCurve, // a reference or amplitude run, an FRD import: the overlay slots move on
    Impedance,     // an impedance run, a ZMA import
    ImpedanceAndTs, // the T/S procedure
    TsResult,      // T/S from impedance files
    Level,
    Waterfall,
    Everything, // a load or an import of a whole measurement
};

// True when data of `now` that `saved` (the image last loaded or saved) does not hold would
// be gone after the command. For a response curve that is an overlay curve pushed off the
// last slot, or every overlay when the frequency axis has changed since they were drawn
// (`axisChanged`); a curve counts as saved when it is in any slot of `saved`. Empty data
// (never measured) is never a loss.
bool losesUnsavedData(Replaces what, const files::Bytes& saved, const files::Bytes& now,
                      bool axisChanged);

} // namespace app
