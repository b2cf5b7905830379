#include "core/Conditions.h"

namespace core
{

Smoothing smoothingFromCode(int code)
{
    switch (code) {
    case 2:
        return Smoothing::Third;
    case 3:
        return Smoothing::Sixth;
    case 4:
        return Smoothing::Twelfth;
    default:
        return Smoothing::None;
    }
}

int octaveDivisor(Smoothing smoothing)
{
    switch (smoothing) {
    case Smoothing::Third:
        return 3;
    case Smoothing::Sixth:
        return 6;
    case Smoothing::Twelfth:
        return 12;
    case Smoothing::None:
        break;
    }
    return 0;
}

PhaseMode phaseModeFromCode(int code)
{
    if (code == 2)
        return PhaseMode::RealDelayCompensated;
    return code == 3 ? PhaseMode::Minimum : PhaseMode::Real;
}

Method methodFromCode(int code)
{
    if (code == 0)
        return Method::Impulse;
    return code == 1 || code == 3 ? Method::Mls : Method::Analyser;
}

Input inputFromCode(int code)
{
    switch (code) {
    case 1:
        return Input::Line1;
    case 2:
        return Input::Mic;
    case 4:
        return Input::RefInt;
    default:
        return Input::Line2;
    }
}

int inputCode(Input input)
{
    switch (input) {
    case Input::Line1:
        return 1;
    case Input::Mic:
        return 2;
    case Input::RefInt:
        return 4;
    case Input::Line2:
        break;
    }
    return 3;
}

Window windowFromCode(int code)
{
    switch (code) {
    case 2:
        return Window::Hamming;
    case 3:
        return Window::Hanning;
    case 4:
        return Window::Blackman;
    default:
        return Window::Rectangle;
    }
}

int windowCode(Window window)
{
    switch (window) {
    case Window::Hamming:
        return 2;
    case Window::Hanning:
        return 3;
    case Window::Blackman:
        return 4;
    case Window::Rectangle:
        break;
    }
    return 1;
}

} // namespace core
