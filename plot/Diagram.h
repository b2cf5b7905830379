// Drawing of the views into pictures: frames and axes, curves, the waterfall, level bars and
// time-window markers. All of them read the process-wide records and write only the picture.
#pragma once

#include "core/Store.h"
#include "plot/Picture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace plot {

// Fonts of the diagrams (height, width, weight in logical units).
inline constexpr Font kTitleFont{700, 200, 400};
inline constexpr Font kLegendFont{500, 140, 400};
inline constexpr Font kLevelLegendFont{450, 150, 400};
inline constexpr Font kAxisFont{400, 110, 400};
inline constexpr Font kUserTextFont{500, 150, 100};
inline constexpr Font kMarkerNameFont{500, 150, 100};
inline constexpr Font kMarkerTimeFont{450, 125, 100};
inline constexpr Font kMessageFont{700, 200, 400};

// Background, title, legends, value axes with key lines and the x axis of a family
// (0, 1, 2, 3, 5, 20, 40), in absolute coordinates; performs the automatic axis choice first.
void drawFrame(Picture& p, int family);

// Curve kinds: 1 time signal, 11 step response, 2 amplitude, 3 phase, 4 impedance magnitude,
// 5 impedance phase, 10 amplitude with impedance, 20/30 overlaid amplitudes/phases,
// 40/50 sum amplitude/phase. Plot coordinates. Other kinds draw nothing.
void drawCurve(Picture& p, int curveKind);

// The legend of the overlay view, top right in the plot: each curve drawn with its colour key
// and its name (file or measurement time), newest first. Plot coordinates, after the curves.
void drawOverlayLegend(Picture& p);

// The waterfall view with its own frame; moves the origin to the plot corner.
void drawWaterfall(Picture& p);
// The view's note on where the slices start when the computation moved the start from M1 to
// the impulse's arrival ("Beginn bei Ankunft des Impulses: 3,11 ms"); empty otherwise, and
// when there is no waterfall or the time record is not of the 51.2 kHz rate.
std::string waterfallStartNote(const core::MeasurementStore& st, int marker1Pos, int marker2Pos);
// A cube point (0..10000 each) projected with the observer of the display settings.
Point projectCube(int x, int y, int z);

// The third-octave bars over a frame of family 5 (plot coordinates).
void drawLevelBars(Picture& p);

// The plot points of time curve 1 (time signal) or 11 (step response) as drawCurve joins
// them; empty for other kinds.
std::vector<Point> timeCurvePoints(int curveKind);

// One time-window marker at plot position x; which is 1 (M1) or 2 (M2). Its label stands
// beside the line at the top, moved away from the line as far as needed to keep clear of
// the lines through the points of `curves` (the curves the view shows).
void drawMarker(Picture& p, std::uint32_t color, int x, const std::string& name, int which,
                const std::vector<std::vector<Point>>& curves = {});

// The user text of a slot (0..7) at the foot of a view, plot coordinates.
void drawUserText(Picture& p, int slot);

} // namespace plot
