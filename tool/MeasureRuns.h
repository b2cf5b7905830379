// The runs of `orvo-tool measure RUN`. Each run registers itself by name, so a run kept in
// another file (the Thiele-Small procedure, for one) plugs in without touching CmdMeasure.cpp:
//
//     const bool registered = tool::registerMeasureRun(
//         {"ts", "Thiele-Small parameters (two impedance runs)", runTs});
#pragma once

#include "core/Renderer.h"
#include "tool/ToolCommand.h"

namespace box
{
struct SoundCardConfig;
}
namespace box::sim
{
class SimulatedBox;
struct Bench;
} // namespace box::sim

namespace tool
{

struct MeasureContext {
    ToolContext& ctx;
    // The simulated box the run talks to, or null on a real port (--port ppdev). Its bench
    // is set up from the --sim-... options before the run starts.
    box::sim::SimulatedBox* sim;
    // Records the pictures of the views a run changes, as in the program: rendering the
    // amplitude view also moves its frequency axis, which decides whether the older overlays
    // stay.
    core::Renderer& views;
};

struct MeasureRun {
    const char* name;
    const char* help; // one line for --help
    // Runs on the records after the common options and the start-up steps; returns kExitOk,
    // kExitFailed or kExitUsage. The records are saved to --out afterwards when it returns
    // kExitOk and no box failure ("Hardware nicht vorhanden", "Hardware Fehler") was shown.
    int (*run)(MeasureContext& mc);
};

bool registerMeasureRun(const MeasureRun& run);
const MeasureRun* findMeasureRun(const char* name);

// Sets up a bench from the live settings (reference resistor, diaphragm, distance,
// microphone sensitivity, added mass, box volume only with --sim-box-l) and the options
// --sim-hw, --sim-noise, --sim-gain, --sim-driver, --sim-fault, --sim-box-l, --sim-mass-g.
// Returns false with a message in `error` on a bad value.
bool configureBench(const ToolContext& ctx, box::sim::Bench& bench, std::string& error);

// Sets up a sound card from --sound-device, --sound-output, --sound-rate, --sound-inputs,
// --sound-timing, --sound-level and --sound-latency. False with a message on a bad value.
bool configureSoundCard(const ToolContext& ctx, box::SoundCardConfig& config, std::string& error);

} // namespace tool
