// What every measurement leaves behind on the simulated bench, pinned as hashes of the
// measurement file image: the runs may be reshaped inside, but a measurement must come out
// bit for bit as before, and no way through a run (its cancels included) may leave the
// settings changed. Set ORVO_PRINT_GOLDENS=1 to print the hashes a build gives.
#include "BoxTestSupport.h"

#include "box/Level.h"
#include "box/Runs.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/Store.h"
#include "dsp/Waterfall.h"
#include "box/TsProcedure.h"
#include "files/ConfigurationFile.h"
#include "files/MeasurementFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace
{

using core::Answer;

void fnv1a(std::uint64_t& h, const unsigned char* p, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
}

void fnv1a(std::uint64_t& h, const core::CurveBuffer& c)
{
    fnv1a(h, reinterpret_cast<const unsigned char*>(c.v.data()), sizeof(c.v));
}

// The file image and the impedance runs' buffers, which the file does not hold but the
// next impedance or T/S run reuses.
std::uint64_t measurementHash()
{
    files::Bytes image;
    files::writeMeasurementImage(image);
    std::uint64_t h = 1469598103934665603ull;
    fnv1a(h, image.data(), image.size());
    const core::MeasurementStore& st = core::store();
    for (int run = 0; run < 2; ++run) {
        fnv1a(h, st.impedanceRunAmplitude[run]);
        fnv1a(h, st.impedanceRunPhase[run]);
    }
    fnv1a(h, st.amplifierRunRawAmplitude);
    fnv1a(h, st.amplifierRunRawPhase);
    return h;
}

class CharacterisationTest : public BoxTest
{
protected:
    void SetUp() override
    {
        BoxTest::SetUp();
        core::prepareRecordsForStart();
        auto& s = core::settings();
        s.method = 1;
        s.sampleRate = 2;
        s.fftLength = 4096;
        s.averages = 2;
        s.referenceInput = 4;
        s.measuringInput = 4;
        s.markerPos = {40, 3000};
        s.addedMassG = 20.0f;
        s.boxVolumeL = 20.0f;
        s.diaphragmDiameterMm = 170.0f;
        sim.bench().driver = {6.0, 0.5, 35.0, 3.0, 0.45, 40.0};
        sim.bench().diaphragmDiameterMm = 170.0;
        sim.bench().referenceResistorOhm = s.referenceResistorOhm;
        sim.bench().addedMassG = 20.0;
    }

    void answer(const std::vector<Answer>& answers)
    {
        ui.clear();
        for (Answer a : answers)
            ui.queueAnswer(a);
    }

    // Runs `run` and checks that the settings (their bytes in the configuration image) are
    // as they were; records the measurement image's hash under `name`.
    template <class Run> void pin(const std::string& name, Run run)
    {
        const core::MeasurementSettings before = core::settings();
        run();
        const core::MeasurementSettings after = core::settings();
        files::Bytes changed, kept;
        files::writeConfigurationImage(changed);
        core::settings() = before;
        files::writeConfigurationImage(kept);
        EXPECT_TRUE(changed == kept) << name << ": the settings changed";
        core::settings() = after;
        hashes[name] = measurementHash();
        if (std::getenv("ORVO_PRINT_GOLDENS"))
            for (const auto& m : ui.messages())
                std::printf("  %s: %s\n", name.c_str(), m.text.c_str());
    }

    void compare(const std::map<std::string, std::uint64_t>& goldens)
    {
        const bool print = std::getenv("ORVO_PRINT_GOLDENS") != nullptr;
        for (const auto& [name, hash] : hashes) {
            if (print)
                std::printf("        {\"%s\", 0x%016llxull},\n", name.c_str(),
                            static_cast<unsigned long long>(hash));
            const auto it = goldens.find(name);
            if (it == goldens.end())
                ADD_FAILURE() << name << ": no golden";
            else
                EXPECT_EQ(hash, it->second) << name;
        }
        EXPECT_EQ(hashes.size(), goldens.size());
    }

    std::map<std::string, std::uint64_t> hashes;
};

} // namespace

TEST_F(CharacterisationTest, ResponseRunsInEveryPhaseModeAndSmoothing)
{
    auto& s = core::settings();
    pin("reference", [] { box::runReferenceMeasurement(testsupport::noViews()); });
    for (int phase = 1; phase <= 3; ++phase)
        for (int smoothing = 1; smoothing <= 4; ++smoothing) {
            s.phaseMode = phase;
            s.smoothing = smoothing;
            pin("amplitude phase " + std::to_string(phase) + " smoothing " +
                    std::to_string(smoothing),
                [] { box::runAmplitudePhaseMeasurement(testsupport::noViews()); });
        }
    // Another length, rate and method, and the microphone input with its correction.
    s.fftLength = 1024;
    s.sampleRate = 1;
    s.method = 0;
    s.measuringInput = 2;
    sim.bench().stimulus = box::sim::Stimulus::Impulse;
    pin("impulse 6.4 kHz 1024 Mic", [] { box::runAmplitudePhaseMeasurement(testsupport::noViews()); });
    s.method = 2;
    s.fftLength = 2048;
    sim.bench().stimulus = box::sim::Stimulus::Noise;
    pin("analyser 6.4 kHz 2048 Mic", [] { box::runAmplitudePhaseMeasurement(testsupport::noViews()); });
    compare({
        {"amplitude phase 1 smoothing 1", 0xe7e72dd47d7f8ff0ull},
        {"amplitude phase 1 smoothing 2", 0xd2d97c5b54912cc0ull},
        {"amplitude phase 1 smoothing 3", 0x47a954a8328f1283ull},
        {"amplitude phase 1 smoothing 4", 0xa4e517d7022244d3ull},
        {"amplitude phase 2 smoothing 1", 0x9f31be5698ac4929ull},
        {"amplitude phase 2 smoothing 2", 0x1a10ea26ed9a231aull},
        {"amplitude phase 2 smoothing 3", 0xb480bdc1823f90acull},
        {"amplitude phase 2 smoothing 4", 0x60c3df0b0f5a0156ull},
        {"amplitude phase 3 smoothing 1", 0xf7f67ffb4bc01fccull},
        {"amplitude phase 3 smoothing 2", 0xbd731ed9dc4862fdull},
        {"amplitude phase 3 smoothing 3", 0xa324f6d327aca880ull},
        {"amplitude phase 3 smoothing 4", 0x7fb5ae15c0f11196ull},
        {"analyser 6.4 kHz 2048 Mic", 0x070a9fcedf3173c9ull},
        {"impulse 6.4 kHz 1024 Mic", 0x4bf47a4a244390d6ull},
        {"reference", 0x30af7b137d488657ull},
    });
}

TEST_F(CharacterisationTest, ImpedanceRunsAndTheirCancels)
{
    auto& s = core::settings();
    s.sampleRate = 1;
    pin("impedance cancelled at the start", [&] {
        answer({Answer::No});
        box::runImpedanceMeasurement(testsupport::noViews());
    });
    // With no amplifier-output run stored, "Neue Referenzmessung?" is not asked.
    pin("impedance cancelled at the amplifier wiring", [&] {
        answer({Answer::Yes, Answer::Cancel});
        box::runImpedanceMeasurement(testsupport::noViews());
    });
    pin("impedance", [&] {
        answer({Answer::Yes, Answer::Ok, Answer::Ok});
        box::runImpedanceMeasurement(testsupport::noViews());
    });
    pin("impedance reusing the amplifier run, cancelled at the speaker", [&] {
        answer({Answer::Yes, Answer::No, Answer::Cancel});
        box::runImpedanceMeasurement(testsupport::noViews());
    });
    pin("impedance reusing the amplifier run", [&] {
        answer({Answer::Yes, Answer::No, Answer::Ok});
        box::runImpedanceMeasurement(testsupport::noViews());
    });
    compare({
        {"impedance", 0xfcc5f2098df83dcaull},
        {"impedance cancelled at the amplifier wiring", 0x3fde06613279f30dull},
        {"impedance cancelled at the start", 0x3fde06613279f30dull},
        {"impedance reusing the amplifier run", 0xaec118b615118affull},
        {"impedance reusing the amplifier run, cancelled at the speaker", 0xfcc5f2098df83dcaull},
    });
}

TEST_F(CharacterisationTest, TsProcedureOnBothRoutesAndItsCancels)
{
    auto& s = core::settings();
    s.sampleRate = 1;
    s.averages = 1;
    s.phaseMode = 3;
    s.fftLength = 1024;
    s.measuringInput = 2;
    const std::pair<const char*, std::vector<Answer>> cancels[] = {
        {"no", {Answer::No}},
        {"amplifier wiring", {Answer::Yes, Answer::Cancel}},
        {"speaker wiring", {Answer::Yes, Answer::Ok, Answer::Cancel}},
        {"mass", {Answer::Yes, Answer::Yes, Answer::Ok, Answer::Ok, Answer::Cancel}},
    };
    for (const auto& [where, answers] : cancels)
        pin(std::string("T/S cancelled at ") + where, [&] {
            answer(answers);
            ts::measureTsParameters(testsupport::noViews());
        });
    pin("T/S added mass", [&] {
        answer({Answer::Yes, Answer::Yes, Answer::Ok, Answer::Ok, Answer::Ok});
        ui.queueDcResistance(6.0f);
        ts::measureTsParameters(testsupport::noViews());
    });
    sim.bench().closedBoxL = 20.0;
    pin("T/S closed box", [&] {
        answer({Answer::Yes, Answer::No, Answer::Ok, Answer::Ok, Answer::Ok});
        ui.queueDcResistance(6.0f);
        ts::measureTsParameters(testsupport::noViews());
    });
    compare({
        {"T/S added mass", 0xfe4806bf42d91fbeull},
        {"T/S cancelled at amplifier wiring", 0x3fde06613279f30dull},
        {"T/S cancelled at mass", 0x53120fceac88d779ull},
        {"T/S cancelled at no", 0x3fde06613279f30dull},
        {"T/S cancelled at speaker wiring", 0x59315ef08e4eb67cull},
        {"T/S closed box", 0xba3c1ba73f0706ceull},
    });
}

TEST_F(CharacterisationTest, LevelsAndWaterfall)
{
    for (int pass = 0; pass < 3; ++pass)
        pin("levels pass " + std::to_string(pass), [&] { box::measureLevels(pass); });
    core::settings().markerPos = {0, 10000};
    pin("amplitude for the waterfall", [] { box::runAmplitudePhaseMeasurement(testsupport::noViews()); });
    pin("waterfall", [] { dsp::computeWaterfall(4096); });
    compare({
        {"amplitude for the waterfall", 0xa39b9faee28bb1b5ull},
        {"levels pass 0", 0x01ed5c6b13790e95ull},
        {"levels pass 1", 0x23673476d57c61f5ull},
        {"levels pass 2", 0x5638fabfd069894aull},
        {"waterfall", 0x51e0ceced11ae15aull},
    });
}
