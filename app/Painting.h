// Painting and printing replay the pictures recorded by the diagram layer, scaled to a
// target rectangle; nothing is drawn here for itself.
#pragma once

#include <QRect>

#include <functional>
#include <string>

class QPainter;
class QPrinter;

namespace app {

// Replays the picture of a DiagramKind (0..9) stretched into a rectangle.
using PictureReplayer = std::function<void(QPainter&, int kind, const QRect& target)>;
void setPictureReplayer(PictureReplayer replayer);
void replayView(QPainter& p, int kind, const QRect& target);

// The picture(s) of a view into the main window's diagram rectangle: views 0..9 whole,
// view 11 as three panels (time, amplitude, impedance), anything else nothing.
void paintDiagram(QPainter& p, int view, const QRect& area);

// The same onto a printer page: kinds 1..9 stretched to the page, 11 as 44 % panels.
void paintPage(QPainter& p, int kind, const QRect& page);

// Status part 1 after each paint: rate, FFT length and measuring input as set; "" for an
// input code outside 1..4. When the data `view` draws were taken at another rate or length,
// their rate and length come first ("Kurve: ..."), then the settings. The distortion view
// names the sweep its curves came from first ("Sweep 20 Hz – 20 kHz, 2 s, 48 kHz").
std::string acquisitionSummary(int view);

} // namespace app
