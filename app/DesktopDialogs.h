// The two dialogs of the desktop additions: "T/S aus Impedanzdateien" and "Diagramm speichern
// als".
#pragma once

#include "app/DiagramFiles.h"
#include "dsp/ts/TsFromCurves.h"

#include <QString>

#include <string>

class QWidget;

namespace app
{

// A number as the user types it: a decimal point or a decimal comma, blanks around it.
bool parseDecimalText(const QString& text, double& value);

struct TsFilesChoice {
    std::string freePath;
    std::string loadedPath;
    ts::TsCurveInputs inputs; // dcResistanceOhm 0 = take the proposal as the measurement does
};

// Two file choosers (free air; added mass or box) and the values of the evaluation, filled
// from `choice`. False when cancelled. The values are checked before the dialog closes.
bool runTsFilesDialog(QWidget* owner, TsFilesChoice& choice);

struct DiagramChoice {
    std::string path;
    DiagramFormat format = DiagramFormat::Png;
    int width = 0;
    int height = 0;
};

// File, format and size (the window's or a chosen one) of a picture. False when cancelled.
bool runSaveDiagramDialog(QWidget* owner, int windowWidth, int windowHeight, DiagramChoice& choice);

} // namespace app
