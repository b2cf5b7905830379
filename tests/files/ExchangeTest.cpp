// FRD/ZMA/CSV exchange: round trips through the writers and the reader at every bin, the
// hand-written variants of tests/data/files/exchange, and the refusals.
#include "files/Exchange.h"

#include "tests/files/FilesTestSupport.h"

#include "core/Settings.h"
#include "core/Store.h"

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
          Case{"no-such-file.frd", F::Frd, "Die Datei kann nicht geöffnet werden."}}) {
        SCOPED_TRACE(c.file);
        const files::ExchangeImport r = files::readExchangeFile(kData + c.file, c.format, 4096, 1);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.message.find(c.expected), std::string::npos) << r.message;
        EXPECT_NE(r.message.find(c.file), std::string::npos) << r.message;
    }

    // Content checks straight on bytes: what a fuzzer would feed.
    auto parse = [](std::string_view s) { return files::parseFrequencyTable(s); };
    EXPECT_FALSE(parse("20 80 0\n20 81 0\n").ok); // equal frequencies
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
