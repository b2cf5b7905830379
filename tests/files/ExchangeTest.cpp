// FRD/ZMA/CSV exchange: round trips through the writers and the reader at every bin, the
// hand-written variants of tests/data/files/exchange, and the refusals.
#include "files/Exchange.h"

#include "tests/files/FilesTestSupport.h"

#include "core/Settings.h"
#include "core/Store.h"
#include "dsp/Impedance.h"
#include "files/MeasurementFile.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <string>

namespace
{

const std::string kData = std::string(ORVO_TEST_DATA) + "/files/exchange/";

// A response with a resonance and a delay: the phase wraps many times over the grid.
void fillResponse(core::CurveBuffer& amp, core::CurveBuffer& phase, int n, int rate, int firstBin)
{
    const double df = core::sampleRateHz(rate) / static_cast<double>(n);
    for (int k = 0; k < core::kCurveBins; ++k) {
        const double f = k * df;
        const bool valued = k >= firstBin && k < n / 2;
        amp[k] = valued ? static_cast<float>(80.0 + 6.0 * std::sin(std::log(f + 1.0)) -
                                             0.002 * f / (1.0 + f / 5000.0))
                        : core::NO_VALUE;
        const double p = -360.0 * f * 0.0021 + 40.0 * std::cos(f / 700.0);
        phase[k] = valued ? static_cast<float>(std::remainder(p, 360.0)) : core::NO_VALUE;
    }
    amp.stamp(n, rate);
    phase.stamp(n, rate);
}

class ExchangeTest : public testsupport::RecordsTest
{
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        dir = testsupport::makeTempDir();
    }
    std::string dir;
};

TEST_F(ExchangeTest, FrdRoundTripAtEveryBinOfEveryGrid)
{
    struct Grid {
        int n;
        int rate;
        int firstBin;
    };
    for (const Grid g : {Grid{4096, 1, 7}, Grid{512, 2, 3}, Grid{2048, 3, 1}, Grid{1024, 1, 60}}) {
        SCOPED_TRACE(testing::Message() << "N " << g.n << " rate " << g.rate);
        auto& st = core::store();
        fillResponse(st.amplitudeSlots[2], st.phaseSlots[2], g.n, g.rate, g.firstBin);
        st.slotOccupied[2] = 1;
        const files::ExchangeText t = files::buildFrd(2, false);
        ASSERT_TRUE(t.ok) << t.message;
        const std::string path = dir + "/slot2.frd";
        ASSERT_EQ(files::writeExchangeText(t, path, "FRD-Export"), files::WriteStatus::Written);

        const files::ExchangeImport r =
            files::readExchangeFile(path, files::ExchangeFormat::Frd, g.n, g.rate);
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(r.curves.value.trailerN(), g.n);
        EXPECT_EQ(r.curves.value.trailerRate(), g.rate);
        int compared = 0;
        for (int k = 0; k < core::kCurveBins; ++k) {
            const float want = st.amplitudeSlots[2][k];
            const float got = r.curves.value[k];
            // Bin 0 is never written; everything else that had a value comes back.
            if (want == core::NO_VALUE || k == 0) {
                EXPECT_EQ(got, core::NO_VALUE) << k;
                continue;
            }
            ASSERT_NE(got, core::NO_VALUE) << k;
            EXPECT_NEAR(got, want, 0.01) << k;
            EXPECT_NEAR(testsupport::phaseDifferenceDeg(r.curves.phase[k], st.phaseSlots[2][k]), 0.0, 0.1) << k;
            ++compared;
        }
        EXPECT_EQ(compared, g.n / 2 - std::max(g.firstBin, 1));
    }
}

TEST_F(ExchangeTest, ZmaRoundTripAndTheHeaderSaysWhatTheFileHolds)
{
    auto& st = core::store();
    for (int k = 0; k < core::kCurveBins; ++k) {
        const double f = k * 1.5625;
        const double x = f / 38.0 - 38.0 / (f + 1e-9);
        st.impedanceMagnitude[k] = static_cast<float>(6.2 + 45.0 / (1.0 + 9.0 * x * x) + f * 0.002);
        st.impedancePhase[k] = static_cast<float>(std::atan(-3.0 * x) * 57.3 * 0.8);
    }
    st.impedanceMagnitude.stamp(4096, 1);
    st.impedancePhase.stamp(4096, 1);
    const files::ExchangeText t = files::buildZma();
    ASSERT_TRUE(t.ok) << t.message;
    EXPECT_EQ(t.text.rfind("* OrvoPro 2.3: Impedanzfrequenzgang (ZMA)\r\n", 0), 0u);
    EXPECT_NE(t.text.find("* Abtastrate 6400 Hz, N = 4096"), std::string::npos);
    EXPECT_NE(t.text.find("induktive Impedanz eine positive Phase"), std::string::npos);
    // One row per bin from bin 1 to N/2 - 1, a blank between the columns, a decimal point.
    EXPECT_NE(t.text.find("\r\n1.5625 "), std::string::npos);
    EXPECT_NE(t.text.find("\r\n3198.4375 "), std::string::npos);
    EXPECT_EQ(t.text.find("\r\n3200.0000 "), std::string::npos);
    EXPECT_EQ(t.text.substr(t.text.find("\r\n1.5625 ")).find(','), std::string::npos);

    const std::string path = dir + "/imp.zma";
    ASSERT_EQ(files::writeExchangeText(t, path, "ZMA-Export"), files::WriteStatus::Written);
    const files::ExchangeImport r =
        files::readExchangeFile(path, files::ExchangeFormat::Zma, 4096, 1);
    ASSERT_TRUE(r.ok) << r.message;
    for (int k = 1; k < 2048; ++k) {
        EXPECT_NEAR(r.curves.value[k], st.impedanceMagnitude[k], 0.01) << k;
        EXPECT_NEAR(testsupport::phaseDifferenceDeg(r.curves.phase[k], st.impedancePhase[k]), 0.0, 0.1) << k;
    }

    // The same file onto another grid: interpolated where it has values, none above 3.2 kHz.
    const files::ExchangeImport wide =
        files::readExchangeFile(path, files::ExchangeFormat::Zma, 4096, 2);
    ASSERT_TRUE(wide.ok);
    EXPECT_NEAR(wide.curves.value[8], st.impedanceMagnitude[64], 0.01); // 100 Hz
    EXPECT_EQ(wide.curves.value[300], core::NO_VALUE);                  // 3750 Hz
}

TEST_F(ExchangeTest, NothingToExportIsSaidAndNoFileIsWritten)
{
    ui.clear();
    EXPECT_FALSE(files::buildZma().ok); // all zeros after start-up
    EXPECT_FALSE(files::buildFrd(0, false).ok);
    EXPECT_FALSE(files::buildFrd(5, false).ok);
    EXPECT_FALSE(files::buildViewCsv(0, false).ok);
    const std::string path = dir + "/none.zma";
    EXPECT_EQ(files::writeExchangeText(files::buildZma(), path, "ZMA-Export"),
              files::WriteStatus::WriteFailed);
    EXPECT_FALSE(std::filesystem::exists(path));
    const auto m = ui.messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].text, "Es ist keine Impedanzmessung vorhanden.");
    EXPECT_EQ(m[0].icon, core::Icon::Error);
}

TEST_F(ExchangeTest, HandWrittenVariantsRead)
{
    struct Case {
        const char* file;
        bool phase;
    };
    for (const Case c : {Case{"comma-decimal-tab.frd", true}, Case{"semicolon.frd", true},
                         Case{"comma-separated.csv", true}, Case{"two-columns.frd", false}}) {
        SCOPED_TRACE(c.file);
        const files::ExchangeImport r =
            files::readExchangeFile(kData + c.file, files::ExchangeFormat::Frd, 4096, 1);
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(r.curves.hasPhase, c.phase);
        // 20 Hz falls between bins 12 and 13: bin 13 (20.3 Hz) is the first with a value,
        // bin 51 (79.7 Hz) the last.
        EXPECT_EQ(r.curves.value[12], core::NO_VALUE);
        EXPECT_EQ(r.curves.value[52], core::NO_VALUE);
        EXPECT_EQ(r.curves.valuedBins, 51 - 13 + 1);
        // Bin 32 lies at 50 Hz: linear in dB over log frequency between 40 and 80 Hz.
        EXPECT_NEAR(r.curves.value[32], 82.5 + 2.0 * std::log(50.0 / 40.0) / std::log(2.0), 1e-4);
        if (c.phase)
            EXPECT_NEAR(r.curves.phase[32], -20.0 - 30.0 * std::log(1.25) / std::log(2.0), 1e-3);
        else
            EXPECT_EQ(r.curves.phase[32], core::NO_VALUE);
    }
}

TEST_F(ExchangeTest, ACurveWithoutPhaseGoesOutWithTwoColumns)
{
    const files::ExchangeImport r =
        files::readExchangeFile(kData + "two-columns.frd", files::ExchangeFormat::Frd, 4096, 1);
    ASSERT_TRUE(r.ok);
    auto& st = core::store();
    st.amplitudeSlots[0] = r.curves.value;
    st.phaseSlots[0] = r.curves.phase;
    st.slotOccupied[0] = 1;
    const files::ExchangeText t = files::buildFrd(0, false);
    ASSERT_TRUE(t.ok) << t.message;
    EXPECT_NE(t.text.find("Amplitude [dB] (keine Phase)"), std::string::npos);
    EXPECT_NE(t.text.find("\r\n50.0000 83.1439\r\n"), std::string::npos) << t.text;
    const auto back = files::parseFrequencyTable(t.text);
    ASSERT_TRUE(back.ok);
    EXPECT_FALSE(back.table.hasPhase());
    EXPECT_EQ(back.table.frequencyHz.size(), 39u);
}

TEST_F(ExchangeTest, RealFileShapesReadWhateverTheLocale)
{
    // Under a German C library locale strtod would stop at the point; the reader must not.
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    const bool german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    for (const char* name : {"woofer16-free-fixed.zma", "woofer16-mass16g-exp.zma"}) {
        SCOPED_TRACE(name);
        const files::TableReadResult t = [&] {
            files::Bytes b;
            EXPECT_EQ(files::readFileStart(kData + name, 1 << 20, b), files::ReadStatus::Ok);
            return files::parseFrequencyTable(
                std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
        }();
        ASSERT_TRUE(t.ok) << t.line << ": " << t.reason;
        EXPECT_EQ(t.table.frequencyHz.size(), 350u);
        EXPECT_NEAR(t.table.frequencyHz.front(), 10.0, 1e-9);
        EXPECT_NEAR(t.table.frequencyHz.back(), 20000.0, 0.01);
        EXPECT_TRUE(t.table.hasPhase());
        EXPECT_GT(t.table.value[0], 6.0);
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
    if (!german)
        GTEST_SKIP() << "no German locale on this machine; read under \"C\" only";
}

TEST_F(ExchangeTest, RefusalsNameTheLineAndTheReason)
{
    struct Case {
        const char* file;
        files::ExchangeFormat format;
        const char* expected;
    };
    using F = files::ExchangeFormat;
    for (const Case c :
         {Case{"descending.frd", F::Frd, "Zeile 3: Die Frequenzen steigen nicht an."},
          Case{"nan.frd", F::Frd, "Zeile 3: Die Zeile enthält einen nicht endlichen Wert."},
          Case{"empty.frd", F::Frd, "Die Datei enthält keine Zahlenzeilen."},
          Case{"comments-only.frd", F::Frd, "Die Datei enthält keine Zahlenzeilen."},
          Case{"trailing-text.frd", F::Frd, "Zeile 3: \"Ende\" ist keine Zahl."},
          Case{"missing-phase.frd", F::Frd, "Zeile 2: Der Zeile fehlt die Phase."},
          Case{"negative-ohm.zma", F::Zma, "Negative Impedanz (-1.5 Ohm) bei 40 Hz."},
          Case{"no-such-file.frd", F::Frd,
               "Die Datei kann nicht geöffnet werden: die Datei existiert nicht."}}) {
        SCOPED_TRACE(c.file);
        const files::ExchangeImport r = files::readExchangeFile(kData + c.file, c.format, 4096, 1);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.message.find(c.expected), std::string::npos) << r.message;
        EXPECT_NE(r.message.find(c.file), std::string::npos) << r.message;
    }

    // Content checks straight on bytes: what a fuzzer would feed.
    auto parse = [](std::string_view s) { return files::parseFrequencyTable(s); };
    EXPECT_FALSE(parse("20 80 0\n10 81 0\n").ok); // falling frequencies
    EXPECT_FALSE(parse("-5 80 0\n20 81 0\n").ok); // negative frequency
    EXPECT_FALSE(parse("20 1e999 0\n").ok);       // overflows to infinity
    EXPECT_FALSE(parse("20 inf 0\n").ok);
    // Finite in double but beyond any curve: a single-precision curve would hold infinity,
    // and a phase of 1e300 degrees can't be unwrapped (found by the fuzzer).
    EXPECT_FALSE(parse("20 9.6e38 0\n40 81 0\n").ok);
    EXPECT_FALSE(parse("20 80 1e300\n40 81 0\n").ok);
    EXPECT_FALSE(parse("1e20 80 0\n").ok);
    EXPECT_FALSE(parse("20\n").ok);                     // one column
    EXPECT_TRUE(parse("+20 +80 -1.5e1\r40 81 0\r").ok); // signs, exponent, CR line ends
    EXPECT_TRUE(parse("\xEF\xBB\xBF"
                      "20 80\n")
                    .ok);                                      // byte-order mark
    EXPECT_TRUE(parse("Freq  dB\n-------- ----\n20 80\n").ok); // header with a rule
    const auto r = parse("20,5 80,25 -1,5\n");                 // blanks and decimal commas
    ASSERT_TRUE(r.ok);
    EXPECT_DOUBLE_EQ(r.table.frequencyHz[0], 20.5);
    EXPECT_DOUBLE_EQ(r.table.value[0], 80.25);
    EXPECT_DOUBLE_EQ(r.table.phaseDeg[0], -1.5);
}

TEST_F(ExchangeTest, ARefusedImportShowsItsMessageAndOutsideBinsStayEmpty)
{
    ui.clear();
    const files::ExchangeImport r =
        files::importExchangeFile(kData + "descending.frd", files::ExchangeFormat::Frd, 4096, 1);
    EXPECT_FALSE(r.ok);
    auto m = ui.messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].caption, "FRD-Import");
    EXPECT_EQ(m[0].icon, core::Icon::Error);

    // A file entirely above the grid (3.2 kHz at 6.4 kHz) gives nothing to take.
    const std::string path = dir + "/high.frd";
    filestest::writeText(path, "5000 80 0\n9000 82 10\n");
    ui.clear();
    const files::ExchangeImport high =
        files::importExchangeFile(path, files::ExchangeFormat::Frd, 4096, 1);
    EXPECT_FALSE(high.ok);
    m = ui.messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_NE(m[0].text.find("Kein Wert der Datei"), std::string::npos) << m[0].text;
}

TEST_F(ExchangeTest, PhaseWrapsBetweenRowsAreInterpolatedTheShortWay)
{
    // 170 degrees then -170 degrees: the phase passes 180, not 0.
    const auto t = files::parseFrequencyTable("100 0 170\n200 0 -170\n");
    ASSERT_TRUE(t.ok);
    const files::GridCurves g = files::resampleToGrid(t.table, files::ExchangeFormat::Frd, 4096, 1);
    const int mid = static_cast<int>(std::lround(std::sqrt(100.0 * 200.0) / 1.5625));
    EXPECT_GT(std::fabs(g.phase[mid]), 170.0f);
}

TEST_F(ExchangeTest, CsvOfTheImpedanceView)
{
    auto& st = core::store();
    for (int k = 0; k < core::kCurveBins; ++k) {
        st.impedanceMagnitude[k] = k < 4 ? core::NO_VALUE : 8.0f + 0.5f * static_cast<float>(k);
        st.impedancePhase[k] = k < 4 ? core::NO_VALUE : -10.0f;
    }
    st.impedanceMagnitude.stamp(512, 2);
    st.impedancePhase.stamp(512, 2);
    const files::ExchangeText t = files::buildViewCsv(4, false);
    ASSERT_TRUE(t.ok) << t.message;
    EXPECT_EQ(t.text.rfind("\"Frequenz [Hz]\",\"Impedanz [Ohm]\",\"Impedanzphase [Grad]\"\r\n"
                           "400,10,-10\r\n500,10.5,-10\r\n",
                           0),
              0u)
        << t.text.substr(0, 200);
    EXPECT_NE(t.text.find("\r\n25500,135.5,-10\r\n"), std::string::npos);
    EXPECT_EQ(t.text.find("25600"), std::string::npos);
    // Read back as an impedance file, the table gives the same values.
    const auto back = files::parseFrequencyTable(t.text);
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(back.table.frequencyHz.size(), 256u - 4u);
}

} // namespace

namespace
{

TEST_F(ExchangeTest, MangledFilesAreReadOrRefusedNeverMisread)
{
    // Bytes of a real-shaped file with random damage: every outcome is a table whose
    // frequencies rise and whose values are finite, or a refusal; resampling stays on the grid.
    files::Bytes seed;
    ASSERT_EQ(files::readFileStart(kData + "woofer16-free-fixed.zma", 1 << 20, seed),
              files::ReadStatus::Ok);
    const std::string original(seed.begin(), seed.end());
    const char alphabet[] = "0123456789.,;-+eE \t\r\n*#nainf";
    std::uint32_t state = 12345;
    auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    for (int round = 0; round < 300; ++round) {
        std::string s = original.substr(0, next() % original.size());
        for (int k = 0; k < 20; ++k)
            s[next() % s.size()] = alphabet[next() % (sizeof alphabet - 1)];
        const files::TableReadResult r = files::parseFrequencyTable(s);
        if (!r.ok) {
            EXPECT_FALSE(r.reason.empty());
            continue;
        }
        const auto& f = r.table.frequencyHz;
        for (std::size_t i = 0; i < f.size(); ++i) {
            ASSERT_TRUE(std::isfinite(f[i]) && std::isfinite(r.table.value[i]));
            if (i > 0) {
                ASSERT_GT(f[i], f[i - 1]);
            }
        }
        const files::GridCurves g =
            files::resampleToGrid(r.table, files::ExchangeFormat::Zma, 4096, 1);
        for (int b = 0; b < core::kCurveBins; ++b)
            ASSERT_TRUE(g.value[b] == core::NO_VALUE || std::isfinite(g.value[b]));
    }
}

} // namespace

namespace
{

TEST_F(ExchangeTest, CsvOfTheOverlaysHasOneColumnPerOccupiedSlot)
{
    auto& st = core::store();
    fillResponse(st.amplitudeSlots[0], st.phaseSlots[0], 512, 2, 2);
    fillResponse(st.amplitudeSlots[2], st.phaseSlots[2], 1024, 2, 2); // a finer grid
    st.slotOccupied = {1, 0, 1, 0, 0};
    const files::ExchangeText t = files::buildViewCsv(7, false);
    ASSERT_TRUE(t.ok) << t.message;
    EXPECT_EQ(t.text.rfind(
                  "\"Frequenz [Hz]\",\"Kurve 0 Amplitude [dB]\",\"Kurve 2 Amplitude [dB]\"\r\n", 0),
              0u);
    // 150 Hz lies only on the finer grid: the first column stays empty there.
    EXPECT_NE(t.text.find("\r\n150,,"), std::string::npos);
    EXPECT_EQ(t.text.find("\r\n200,,"), std::string::npos);
}

} // namespace

namespace
{

files::TableReadResult parseFile(const std::string& name)
{
    files::Bytes b;
    EXPECT_EQ(files::readFileStart(kData + name, 1 << 20, b), files::ReadStatus::Ok);
    return files::parseFrequencyTable(
        std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
}

TEST_F(ExchangeTest, ARepeatedFrequencyIsMergedAndOnlyAFallingOneRefused)
{
    // A tweeter file that repeats 2465.78 Hz where two sweeps meet: one row, the mean of the
    // two levels, the phase halfway the short way round (-170 and 176 meet at -177, not 3).
    const files::TableReadResult t = parseFile("repeated-frequency.frd");
    ASSERT_TRUE(t.ok) << t.line << ": " << t.reason;
    EXPECT_EQ(t.mergedRows, 1);
    ASSERT_EQ(t.table.frequencyHz.size(), 4u);
    EXPECT_DOUBLE_EQ(t.table.frequencyHz[2], 2465.78);
    EXPECT_NEAR(t.table.value[2], 90.1, 1e-9);
    EXPECT_NEAR(std::remainder(t.table.phaseDeg[2] + 177.0, 360.0), 0.0, 1e-9);
    EXPECT_DOUBLE_EQ(t.table.frequencyHz[3], 4000.0);
    const files::ExchangeImport r = files::readExchangeFile(kData + "repeated-frequency.frd",
                                                            files::ExchangeFormat::Frd, 4096, 2);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_NEAR(r.curves.value[197], 90.1, 0.01); // 2462.5 Hz, next to the joint

    // Three equal rows, two-column rows, and a repeat after a merged one.
    auto parse = [](std::string_view s) { return files::parseFrequencyTable(s); };
    auto three = parse("20 80 10\n20 81 20\n20 85 30\n40 81 0\n40 83 0\n");
    ASSERT_TRUE(three.ok);
    EXPECT_EQ(three.mergedRows, 3);
    ASSERT_EQ(three.table.value.size(), 2u);
    EXPECT_DOUBLE_EQ(three.table.value[0], 82.0);
    EXPECT_DOUBLE_EQ(three.table.phaseDeg[0], 20.0);
    EXPECT_DOUBLE_EQ(three.table.value[1], 82.0);
    auto two = parse("20 80\n20 81\n");
    ASSERT_TRUE(two.ok);
    EXPECT_DOUBLE_EQ(two.table.value[0], 80.5);
    EXPECT_FALSE(two.table.hasPhase());
    // Falling stays refused, also right after a repeat, with the line of the falling row.
    auto falling = parse("20 80 0\n40 81 0\n40 81 0\n30 82 0\n");
    EXPECT_FALSE(falling.ok);
    EXPECT_EQ(falling.line, 4);
    EXPECT_EQ(falling.reason, "Die Frequenzen steigen nicht an.");
    // A repeated row still needs its phase where the file has one.
    EXPECT_FALSE(parse("20 80 0\n20 81\n").ok);
}

TEST_F(ExchangeTest, AGroupDelayColumnIsNotTakenAsPhase)
{
    ui.clear();
    const files::ExchangeImport r =
        files::importExchangeFile(kData + "group-delay.frd", files::ExchangeFormat::Frd, 4096, 1);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_FALSE(r.curves.hasPhase);
    EXPECT_EQ(r.curves.phase[32], core::NO_VALUE);
    EXPECT_NEAR(r.curves.value[32], 82.5 + 2.0 * std::log(50.0 / 40.0) / std::log(2.0), 1e-4);
    const auto m = ui.messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].caption, "FRD-Import");
    EXPECT_EQ(m[0].icon, core::Icon::Information);
    EXPECT_NE(m[0].text.find("Gruppenlaufzeit, keine Phase"), std::string::npos) << m[0].text;
    EXPECT_NE(m[0].text.find("group-delay.frd"), std::string::npos);

    // The spellings design tools write, as a header row or a comment.
    for (const char* header :
         {"Freq(Hz) SPL(dB) Group-Delay(ms)", "# frequency;magnitude;group_delay [s]",
          "* Frequenz [Hz]  Pegel [dB]  Gruppenlaufzeit [ms]", "Hz dB GD(ms)",
          "\"Frequency\",\"Magnitude\",\"GroupDelay\"", "* GROUP  DELAY (sec), then phase"}) {
        SCOPED_TRACE(header);
        const auto t =
            files::parseFrequencyTable(std::string(header) + "\n20 80 0.002\n40 81 1.5\n");
        ASSERT_TRUE(t.ok) << t.reason;
        EXPECT_TRUE(t.groupDelayLeftOut);
        EXPECT_FALSE(t.table.hasPhase());
        EXPECT_EQ(t.table.value.size(), 2u);
    }
    // A phase named first, no name at all, a word that only contains "gd", the program's
    // own header (its "Laufzeit" is no column), or a header after the first row: a phase.
    auto& st = core::store();
    fillResponse(st.amplitudeSlots[0], st.phaseSlots[0], 512, 1, 2);
    st.slotOccupied[0] = 1;
    const std::string own = files::buildFrd(0, false).text;
    ASSERT_NE(own.find("Laufzeit"), std::string::npos);
    for (const std::string& text :
         {std::string("Freq SPL Phase GroupDelay\n20 80 10\n40 81 12\n"),
          std::string("* measured 2024\n20 80 10\n40 81 12\n"),
          std::string("* Magdeburg bench\n20 80 10\n40 81 12\n"),
          std::string("20 80 10\n* Group delay follows\n40 81 12\n"), own}) {
        SCOPED_TRACE(text.substr(0, 40));
        const auto t = files::parseFrequencyTable(text);
        ASSERT_TRUE(t.ok) << t.reason;
        EXPECT_FALSE(t.groupDelayLeftOut);
        EXPECT_TRUE(t.table.hasPhase());
    }
    // Named a group delay but only two columns: nothing to say.
    const auto narrow = files::parseFrequencyTable("Freq dB GD\n20 80\n40 81\n");
    ASSERT_TRUE(narrow.ok);
    EXPECT_FALSE(narrow.groupDelayLeftOut);
}

TEST_F(ExchangeTest, ThePartOfAFileTheGridLeavesOutIsNamedWithTheGridThatHoldsIt)
{
    // 20 Hz to 20 kHz at 6.4 kHz, N 512: bins 12.5 Hz apart up to 3187.5 Hz.
    const files::ExchangeImport r =
        files::readExchangeFile(kData + "wide-20hz-20khz.frd", files::ExchangeFormat::Frd, 512, 1);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_FALSE(r.cut.below);
    EXPECT_TRUE(r.cut.above);
    EXPECT_EQ(files::gridCutNote(r.cut),
              "Die Datei reicht von 20 bis 20000 Hz; das Frequenzraster der Messung (6,4 kHz, "
              "N 512) übernimmt davon nur 25 bis 3187,5 Hz. Weggelassen: 3187,5 bis 20000 Hz.");
    // 51.2 kHz holds the top; N 4096 keeps the bins 12.5 Hz apart, so 20 Hz stays in.
    files::GridOffer o = files::gridHoldingFile(r.cut, false);
    EXPECT_TRUE(o.ok && o.holdsAll);
    EXPECT_EQ(o.rateCode, 2);
    EXPECT_EQ(o.n, 4096);

    // From 1 Hz: no grid holds it all; the one that holds the most octaves is offered (N 4096
    // at 6.4 kHz: 1.56 to 3198 Hz, more than 12.5 Hz to 20 kHz at 51.2 kHz).
    const std::string path = dir + "/low.zma";
    filestest::writeText(path, "1 8 0\n50 30 0\n500 9 0\n20000 20 0\n");
    const files::ExchangeImport low =
        files::readExchangeFile(path, files::ExchangeFormat::Zma, 512, 1);
    ASSERT_TRUE(low.ok) << low.message;
    EXPECT_TRUE(low.cut.below && low.cut.above);
    EXPECT_NE(files::gridCutNote(low.cut).find("Weggelassen: 1 bis 12,5 Hz und 3187,5 bis "
                                               "20000 Hz."),
              std::string::npos)
        << files::gridCutNote(low.cut);
    o = files::gridHoldingFile(low.cut, true);
    EXPECT_TRUE(o.ok);
    EXPECT_FALSE(o.holdsAll);
    EXPECT_EQ(o.rateCode, 1);
    EXPECT_EQ(o.n, 4096);

    // A file the grid holds: no note, no offer. One the 3.2 kHz grid would hold is offered
    // that grid only where the box can do it.
    const files::ExchangeImport inside =
        files::readExchangeFile(kData + "semicolon.frd", files::ExchangeFormat::Frd, 512, 1);
    ASSERT_TRUE(inside.ok);
    EXPECT_FALSE(inside.cut.any());
    EXPECT_EQ(files::gridCutNote(inside.cut), "");
    EXPECT_FALSE(files::gridHoldingFile(inside.cut, true).ok);
    filestest::writeText(path, "1 8 0\n100 30 0\n1000 9 0\n");
    const files::ExchangeImport slow =
        files::readExchangeFile(path, files::ExchangeFormat::Zma, 4096, 1);
    ASSERT_TRUE(slow.ok);
    EXPECT_TRUE(slow.cut.below && !slow.cut.above);
    o = files::gridHoldingFile(slow.cut, true);
    EXPECT_TRUE(o.ok && o.holdsAll);
    EXPECT_EQ(o.rateCode, 3);
    EXPECT_EQ(o.n, 4096);
    EXPECT_FALSE(files::gridHoldingFile(slow.cut, false).ok);
}

} // namespace

namespace
{

// An impedance curve with its peak at `peakHz` on 6.4 kHz, N 4096.
void fillImpedance(double peakHz)
{
    auto& st = core::store();
    for (int k = 0; k < core::kCurveBins; ++k) {
        const double f = k * 1.5625;
        const double x = f / peakHz - peakHz / (f + 1e-9);
        st.impedanceMagnitude[k] = static_cast<float>(6.2 + 40.0 / (1.0 + 9.0 * x * x));
        st.impedancePhase[k] = static_cast<float>(std::atan(-3.0 * x) * 45.0);
    }
    st.impedanceMagnitude.stamp(4096, 1);
    st.impedancePhase.stamp(4096, 1);
}

std::string firstLine(const files::ExchangeText& t)
{
    return t.text.substr(0, t.text.find("\r\n"));
}

TEST_F(ExchangeTest, TheZmaOfATsRunSaysWhichRunItIsAndTheFileLayoutStays)
{
    // The procedure labels each run right after its impedance, as the T/S measurement does.
    fillImpedance(42.0);
    const files::Bytes unlabelled = files::measurementImage();
    EXPECT_EQ(firstLine(files::buildZma()), "* OrvoPro 2.3: Impedanzfrequenzgang (ZMA)");
    dsp::labelTsRunCurve(true);
    EXPECT_EQ(firstLine(files::buildZma()),
              "* OrvoPro 2.3: Impedanzfrequenzgang (ZMA), T/S-Messung in freier Luft");
    // The label is no part of the measurement file.
    EXPECT_TRUE(files::measurementImage() == unlabelled);

    fillImpedance(30.0); // the second run, lower: the added mass
    EXPECT_EQ(core::impedanceCurveKind(), core::ImpedanceCurveKind::Unlabelled);
    dsp::labelTsRunCurve(false);
    EXPECT_EQ(firstLine(files::buildZma()),
              "* OrvoPro 2.3: Impedanzfrequenzgang (ZMA), T/S-Messung mit Zusatzmasse");

    fillImpedance(42.0);
    dsp::labelTsRunCurve(true);
    fillImpedance(61.0); // higher: the closed box
    dsp::labelTsRunCurve(false);
    EXPECT_EQ(core::impedanceCurveKind(), core::ImpedanceCurveKind::ClosedBox);
    EXPECT_NE(files::buildZma().text.find("T/S-Messung im Gehäuse\r\n"), std::string::npos);
    // Without a free-air run before it, the second run is named as both.
    core::resetStore();
    fillImpedance(30.0);
    dsp::labelTsRunCurve(false);
    EXPECT_EQ(core::impedanceCurveKind(), core::ImpedanceCurveKind::SecondRun);

    // Another curve in its place (an import, a load, a measurement) has no label.
    const std::string path = dir + "/other.zma";
    filestest::writeText(path, "10 8 5\n100 12 -20\n1000 9 30\n");
    const files::ExchangeImport imp =
        files::readExchangeFile(path, files::ExchangeFormat::Zma, 4096, 1);
    ASSERT_TRUE(imp.ok);
    files::applyImpedanceImport(imp.curves);
    EXPECT_EQ(firstLine(files::buildZma()), "* OrvoPro 2.3: Impedanzfrequenzgang (ZMA)");
}

} // namespace
