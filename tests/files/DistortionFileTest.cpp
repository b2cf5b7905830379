// The distortion curves in the measurement file: the block after the fixed image, its round
// trip, old files unchanged, and every kind of damage refused without touching the records.
#include "tests/files/FilesTestSupport.h"

#include "files/DistortionBlock.h"
#include "files/Exchange.h"
#include "files/Import.h"
#include "files/MeasurementFile.h"

#include "core/Store.h"
#include "dsp/Distortion.h"
#include "dsp/DistortionRecord.h"
#include "dsp/Sweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

using namespace filestest;

namespace
{

constexpr std::size_t kFixed = 331448;

// A cubic device, y = x + a2 x^2 + a3 x^3, measured with a short sweep.
core::DistortionRecord measuredDistortion()
{
    dsp::SweepRequest request;
    request.startHz = 50.0;
    request.endHz = 8000.0;
    request.lengthSeconds = 0.5;
    const dsp::SweepPlan plan = dsp::planSweep(request);
    std::vector<double> x = dsp::makeSweep(plan);
    x.resize(static_cast<std::size_t>(dsp::recommendedCaptureSamples(plan)), 0.0);
    const double a2 = 0.1, a3 = 0.2;
    for (double& v : x)
        v = v + a2 * v * v + a3 * v * v * v;
    return dsp::distortionRecord(plan, dsp::analyzeSweep(plan, x).curves);
}

// CRC-32 bit by bit, independent of the program's table.
std::uint32_t referenceCrc(const unsigned char* p, std::size_t n)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

// After an edit inside the block, its checksum made right again, so that only the check of
// the edited field can refuse it.
void fixChecksum(Image& file)
{
    le32(file, file.size() - 4, referenceCrc(file.data() + kFixed, file.size() - kFixed - 4));
}

// Offset in the file of the count of curve `index` (0 = frequency, 1 = fundamental, 2 = THD,
// 3..6 = H2..H5, 7..10 = their noise).
std::size_t curveOffset(const Image& file, int index)
{
    std::size_t at = kFixed + 56;
    for (int i = 0; i < index; ++i)
        at += 4 + 4 * static_cast<std::size_t>(rd32(file, at));
    return at;
}

class DistortionFileTest : public FilesTest
{
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        static const core::DistortionRecord measured = measuredDistortion();
        record = measured;
    }
    core::DistortionRecord record;
};

} // namespace

TEST_F(DistortionFileTest, TheAnalysisGivesAPlausibleRecordOfTheSweep)
{
    ASSERT_FALSE(record.empty());
    EXPECT_TRUE(core::isPlausibleDistortionRecord(record));
    EXPECT_EQ(record.sweepStartHz, 50.0);
    EXPECT_EQ(record.sweepEndHz, 8000.0);
    EXPECT_EQ(record.sweepRateHz, 48000);
    EXPECT_EQ(record.fundamentalDb.size(), record.hz.size());
    EXPECT_EQ(record.thdPercent.size(), record.hz.size());
    // The points end at half the sweep's end, where H2 still lies in the band; H3 and up
    // leave it earlier, H5 first.
    EXPECT_EQ(record.harmonicDb[0].size(), record.hz.size());
    EXPECT_LT(record.harmonicDb[1].size(), record.hz.size());
    EXPECT_LT(record.harmonicDb[3].size(), record.harmonicDb[2].size());
    // The cubic's H2 at 1 kHz, as the float record holds it: a2 A / 2 re (1 + 3/4 a3 A^2).
    const std::size_t i = static_cast<std::size_t>(
        std::lower_bound(record.hz.begin(), record.hz.end(), 1000.0f) - record.hz.begin());
    const double a = record.sweepAmplitude;
    const double h2 = 20.0 * std::log10(0.1 * a / 2.0 / (1.0 + 0.75 * 0.2 * a * a));
    EXPECT_NEAR(record.harmonicDb[0].at(i), h2, 1.0);

    // A capture with a NaN has no curves; levels past the bounds are held at them.
    dsp::DistortionCurves c;
    c.hz = {100.0, 200.0};
    c.fundamentalDb = {0.0, -1e6};
    c.thdPercent = {1.0, 1e40};
    c.harmonicDb[0] = {-2000.0, -40.0};
    const dsp::SweepPlan plan = dsp::planSweep(dsp::SweepRequest{});
    const core::DistortionRecord held = dsp::distortionRecord(plan, c);
    ASSERT_FALSE(held.empty());
    EXPECT_EQ(held.fundamentalDb[1], -core::kDistortionDbLimit);
    EXPECT_EQ(held.harmonicDb[0][0], -core::kDistortionDbLimit);
    EXPECT_EQ(held.thdPercent[1], core::kDistortionThdLimitPercent);
    c.harmonicDb[0][1] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(dsp::distortionRecord(plan, c).empty());
}

TEST_F(DistortionFileTest, OldFilesLoadAndResaveByteForByteAndClearTheCurves)
{
    const std::filesystem::path corpus =
        std::filesystem::path(ORVO_TEST_DATA) / "../fuzz/corpus/mes";
    int seen = 0;
    for (const char* name :
         {"empty.mes", "response.mes", "impedance.mes", "csd.mes", "level.mes"}) {
        const Image original = readFile((corpus / name).string());
        ASSERT_EQ(original.size(), kFixed) << name;
        // Curves of an earlier sweep are no part of the file loaded after it.
        core::store().distortion = record;
        ASSERT_EQ(files::readMeasurementFile((corpus / name).string()), files::FileStatus::Loaded)
            << name;
        EXPECT_TRUE(core::store().distortion.empty()) << name;
        ASSERT_EQ(files::writeMeasurementFile(path("again.mes")), files::WriteStatus::Written);
        EXPECT_EQ(readFile(path("again.mes")), original) << name;
        ++seen;
    }
    EXPECT_EQ(seen, 5);

    // Nor is it part of an imported file of an older layout, which had no sweep.
    writeFile(path("old.133"), Image(files::kVersion133FileSize, 0));
    core::store().distortion = record;
    ASSERT_EQ(files::importVersion133File(path("old.133")), files::FileStatus::Loaded);
    EXPECT_TRUE(core::store().distortion.empty());
}

TEST_F(DistortionFileTest, AFileWithCurvesRoundTripsExactly)
{
    ASSERT_EQ(files::writeMeasurementFile(path("plain.mes")), files::WriteStatus::Written);
    const Image plain = readFile(path("plain.mes"));
    ASSERT_EQ(plain.size(), kFixed);

    core::store().distortion = record;
    ASSERT_EQ(files::writeMeasurementFile(path("sweep.mes")), files::WriteStatus::Written);
    const Image file = readFile(path("sweep.mes"));
    ASSERT_EQ(file.size(), kFixed + files::distortionBlockSize(record));
    // The fixed block is the same as without curves; the block follows it as documented.
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), file.begin()));
    EXPECT_EQ(std::string(file.begin() + kFixed, file.begin() + kFixed + 8), "ORVOKLRF");
    EXPECT_EQ(rd32(file, kFixed + 8), 1u);
    EXPECT_EQ(rd32(file, kFixed + 12), file.size() - kFixed);
    double start = 0.0;
    const std::uint64_t startBits =
        rd32(file, kFixed + 16) | (static_cast<std::uint64_t>(rd32(file, kFixed + 20)) << 32);
    std::memcpy(&start, &startBits, 8);
    EXPECT_EQ(start, 50.0);
    EXPECT_EQ(rdInt(file, kFixed + 48), 48000);
    EXPECT_EQ(rd32(file, kFixed + 52), record.noiseCoversBand ? 1u : 0u);
    EXPECT_EQ(rd32(file, kFixed + 56), record.hz.size());
    EXPECT_EQ(rdFloat(file, kFixed + 60), record.hz[0]);
    EXPECT_EQ(rd32(file, curveOffset(file, 3)), record.harmonicDb[0].size());
    EXPECT_EQ(curveOffset(file, 11), file.size() - 4);
    EXPECT_EQ(rd32(file, file.size() - 4),
              referenceCrc(file.data() + kFixed, file.size() - kFixed - 4));

    core::resetStore();
    ASSERT_EQ(files::readMeasurementFile(path("sweep.mes")), files::FileStatus::Loaded);
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_TRUE(core::store().distortion == record);
    ASSERT_EQ(files::writeMeasurementFile(path("again.mes")), files::WriteStatus::Written);
    EXPECT_EQ(readFile(path("again.mes")), file);

    // A file without the block afterwards clears the curves again.
    ASSERT_EQ(files::readMeasurementFile(path("plain.mes")), files::FileStatus::Loaded);
    EXPECT_TRUE(core::store().distortion.empty());
}

TEST_F(DistortionFileTest, DamagedBlocksAreRefusedAndChangeNothing)
{
    core::store().distortion = record;
    ASSERT_EQ(files::writeMeasurementFile(path("good.mes")), files::WriteStatus::Written);
    const Image good = readFile(path("good.mes"));
    const std::size_t h2 = curveOffset(good, 3);

    struct Damage {
        const char* what;
        void (*apply)(Image&, std::size_t);
        bool fixCrc;
    };
    const Damage damages[] = {
        {"one byte short", [](Image& f, std::size_t) { f.pop_back(); }, false},
        {"checksum cut off", [](Image& f, std::size_t) { f.resize(f.size() - 4); }, false},
        {"one byte more", [](Image& f, std::size_t) { f.push_back(0); }, false},
        {"only the tag", [](Image& f, std::size_t) { f.resize(kFixed + 8); }, false},
        {"tag", [](Image& f, std::size_t) { f[kFixed + 7] = 'X'; }, true},
        {"version", [](Image& f, std::size_t) { le32(f, kFixed + 8, 2); }, true},
        {"size too large",
         [](Image& f, std::size_t) { le32(f, kFixed + 12, rd32(f, kFixed + 12) + 4); }, true},
        {"size too small",
         [](Image& f, std::size_t) { le32(f, kFixed + 12, rd32(f, kFixed + 12) - 4); }, true},
        {"checksum", [](Image& f, std::size_t) { f[f.size() - 1] ^= 0x01; }, false},
        {"a value, checksum not fixed", [](Image& f, std::size_t) { f[kFixed + 70] ^= 0x10; },
         false},
        {"sweep start", [](Image& f, std::size_t) { le32(f, kFixed + 20, 0xFFF00000u); }, true},
        {"sweep end below start",
         [](Image& f, std::size_t) {
             le32(f, kFixed + 28, 0);
             le32(f, kFixed + 24, 0);
         },
         true},
        {"sweep length",
         [](Image& f, std::size_t) {
             le32(f, kFixed + 36, 0x7FF00000u);
             le32(f, kFixed + 32, 0);
         },
         true},
        {"amplitude",
         [](Image& f, std::size_t) {
             le32(f, kFixed + 44, 0x40000000u);
             le32(f, kFixed + 40, 0);
         },
         true},
        {"rate", [](Image& f, std::size_t) { leInt(f, kFixed + 48, 0); }, true},
        {"unknown flag",
         [](Image& f, std::size_t) { le32(f, kFixed + 52, rd32(f, kFixed + 52) | 2u); }, true},
        {"point count",
         [](Image& f, std::size_t) { le32(f, kFixed + 56, rd32(f, kFixed + 56) + 1); }, true},
        {"point count huge", [](Image& f, std::size_t) { le32(f, kFixed + 56, 0xFFFFFFF0u); },
         true},
        {"frequency falls", [](Image& f, std::size_t) { leFloat(f, kFixed + 64, 1.0f); }, true},
        {"frequency zero", [](Image& f, std::size_t) { leFloat(f, kFixed + 60, 0.0f); }, true},
        {"H2 count", [](Image& f, std::size_t at) { le32(f, at, rd32(f, at) + 1); }, true},
        {"H2 NaN",
         [](Image& f, std::size_t at) {
             leFloat(f, at + 4, std::numeric_limits<float>::quiet_NaN());
         },
         true},
        {"H2 infinite",
         [](Image& f, std::size_t at) {
             leFloat(f, at + 4, -std::numeric_limits<float>::infinity());
         },
         true},
    };
    for (const Damage& d : damages) {
        Image bad = good;
        d.apply(bad, h2);
        if (d.fixCrc)
            fixChecksum(bad);
        writeFile(path("bad.mes"), bad);
        core::resetStore();
        core::store().timeRecord[5] = 1.25f;
        ui.clear();
        EXPECT_EQ(files::readMeasurementFile(path("bad.mes")), files::FileStatus::WrongLength)
            << d.what;
        EXPECT_EQ(messageLog(), (std::vector<std::string>{"evt. Messdatei von anderer ORVO Version "
                                                          "|Fehler Messdaten Datei"}))
            << d.what;
        EXPECT_EQ(core::store().timeRecord[5], 1.25f) << d.what;
        EXPECT_TRUE(core::store().distortion.empty()) << d.what;
        // The same bytes straight from memory.
        EXPECT_FALSE(files::applyMeasurementFile(bad.data(), bad.size())) << d.what;
    }
}

TEST_F(DistortionFileTest, ThdTableHasEmptyCellsWhereAHarmonicLeftTheBand)
{
    const files::ExchangeText none = files::buildThdCsv(core::DistortionRecord{});
    EXPECT_FALSE(none.ok);
    EXPECT_NE(none.message.find("Klirrfaktor"), std::string::npos);

    core::DistortionRecord r;
    r.hz = {100.0f, 2500.0f, 5000.0f};
    r.fundamentalDb = {-0.5f, 0.0f, 0.25f};
    r.harmonicDb[0] = {-40.0f, -41.5f};
    r.harmonicDb[1] = {-50.0f};
    r.thdPercent = {1.0f, 0.84f, 0.0f};
    const files::ExchangeText t = files::buildThdCsv(r);
    ASSERT_TRUE(t.ok);
    EXPECT_EQ(t.text, "\"Frequenz [Hz]\",\"Grundwelle [dB]\",\"H2 [dB re Grundwelle]\","
                      "\"H3 [dB re Grundwelle]\",\"H4 [dB re Grundwelle]\","
                      "\"H5 [dB re Grundwelle]\",\"THD [%]\"\r\n"
                      "100,-0.5,-40,-50,,,1\r\n"
                      "2500,0,-41.5,,,,0.84\r\n"
                      "5000,0.25,,,,,0\r\n");
}
