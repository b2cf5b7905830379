// The seven text exports: fixed-width lines of 32 characters plus CR LF, written in one go.
#pragma once

#include "files/FileIo.h"

#include <string>

namespace files {

enum class ExportKind {
    AmplitudePhase,          // own format, frequency response (.amp, with header)
    AmplitudeTernovax,       // TERNOVAX amplitude (.amp)
    PhaseTernovax,           // TERNOVAX phase (.pha)
    ImpedanceTernovax,       // TERNOVAX impedance magnitude (.imp)
    ImpedancePhaseTernovax,  // TERNOVAX impedance phase (.phe)
    Impedance,               // own format, impedance (.imp, with header)
    TsParameters,            // T/S parameter text (.tsp), always 234 bytes
};

// Whether the amplitude view's y axis is a dBSPL scale: amplitudes are then exported in dB SPL.
bool amplitudeAxisIsDbspl();

// The whole file content of an export, built from the store.
std::string buildExport(ExportKind kind);
// File extension of an export, without the dot.
const char* exportExtension(ExportKind kind);

// Writes the export to `path` (replacing safely); message 27 when nothing or not all could
// be written.
WriteStatus writeExportFile(ExportKind kind, const std::string& path);

// The menu command: save dialog, overwrite question 26, write. Returns 0 only after a failed
// save.
int exportFile(ExportKind kind);

} // namespace files
