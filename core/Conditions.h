// The program's own codes as named values. The settings record and the files keep their
// integers (files of every version carry them); they are turned into these where they are
// read, and a code no dialog gives (from a damaged file) becomes the value the program has
// always taken for it.
#pragma once

namespace core
{

// What a computed response is: the reference of the measuring chain, or a measurement.
enum class ResponseMode { Reference, Measurement };

enum class Smoothing { None, Third, Sixth, Twelfth };
// "smoothing": 1 none, 2 1/3, 3 1/6, 4 1/12 octave; anything else none.
Smoothing smoothingFromCode(int code);
// The octave divisor of a smoothing: 3, 6, 12, or 0 for none.
int octaveDivisor(Smoothing smoothing);

enum class PhaseMode { Real, RealDelayCompensated, Minimum };
// "phaseMode": 1 real, 2 real with delay compensation, 3 minimum; anything else real.
PhaseMode phaseModeFromCode(int code);

enum class Method { Impulse, Mls, Analyser };
// "method": 0 Impuls, 1 MLS, 2 FFT-Analyzer, 3 Sweep; anything else counts as the analyser, as
// its scale is the one the response takes for an unknown method. The sweep's record is an
// impulse response in the MLS's counts, so it takes the MLS's scale.
Method methodFromCode(int code);

enum class Input { Line1, Mic, Line2, RefInt };
// "measuringInput"/"referenceInput": 1 Line1, 2 Mic., 3 Line2, 4 Ref_Int. Any other code is
// Line2, as the box always took it (none of its input lines set).
Input inputFromCode(int code);
int inputCode(Input input);

// The window of the analysed segment: "window" 1 rectangle, 2 Hamming, 3 Hanning, 4
// Blackman; anything else the rectangle.
enum class Window { Rectangle, Hamming, Hanning, Blackman };
Window windowFromCode(int code);
int windowCode(Window window);

} // namespace core
