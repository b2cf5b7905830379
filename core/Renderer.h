// The views' pictures are recorded by the diagram layer; the measurement layer says which
// ones its results have changed through a renderer it is given, without depending on it.
#pragma once

namespace core
{

// The pictures that can be recorded: the start picture, views 1..6, the overlay (view 7) and
// sum (view 8) pictures, the harmonic distortion of a sweep (view 9), and all of them at once. The numbers are the codes the diagram
// layer has always taken.
enum class RenderCode : int {
    Start = 0,
    Time = 1,
    Amplitude = 2,
    AmplitudeImpedance = 3,
    Impedance = 4,
    Level = 5,
    Waterfall = 6,
    Distortion = 9,
    Overlay = 20,
    Sum = 40,
    All = 100,
};

// Records the picture of a view again. The level measurement calls it from its worker thread
// for RenderCode::Level.
class Renderer
{
public:
    virtual ~Renderer() = default;
    virtual void render(RenderCode code) = 0;
    // Told after each capture of an averaged run (`done` of `total`, from 1). False stops the
    // run there, as a failed capture does: the record is put back and nothing is stored. The
    // window and the tests let every run finish; orvo-tool shows progress and stops on Ctrl+C.
    virtual bool averageTaken(int done, int total)
    {
        (void)done;
        (void)total;
        return true;
    }
};

// For a caller without views: nothing is recorded.
class NoRenderer final : public Renderer
{
public:
    void render(RenderCode) override {}
};

} // namespace core
