// Text exports: row formats, row ranges from the curve's own trailer, dB SPL variant,
// the T/S file, golden files and the "C" conventions under a German locale.
#include "tests/files/FilesTestSupport.h"

#include "files/Export.h"

#include "core/Display.h"
#include "core/Settings.h"
#include "core/Store.h"

#include <clocale>
#include <cmath>
#include <sstream>

using namespace filestest;
using files::ExportKind;

namespace {

constexpr int kDbScale = 48;    // "[dB]"
constexpr int kDbsplScale = 27; // "[dBSPL]", the default of the amplitude view

std::vector<std::string> lines(const std::string& content)
{
    std::vector<std::string> out;
    for (std::size_t p = 0; p < content.size(); p += 34)
        out.push_back(content.substr(p, 34));
    return out;
}

void expectFixedWidth(const std::string& content)
{
    ASSERT_EQ(content.size() % 34, 0u);
    for (const std::string& l : lines(content)) {
        EXPECT_EQ(l.substr(32), "\r\n");
        EXPECT_EQ(l.find('\n'), 33u);
    }
}

} // namespace

class ExportTest : public FilesTest {
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        core::displaySettings().axisSets[1].y = kDbScale;
    }
};

TEST_F(ExportTest, AmplitudeRowsAt6k4AndN4096)
{
    core::CurveBuffer& a = core::store().amplitudeSlots[0];
    core::CurveBuffer& p = core::store().phaseSlots[0];
    for (int k = 0; k < 2048; ++k) {
        a[k] = -0.5f * static_cast<float>(k % 40);
        p[k] = 90.0f - k;
    }
    a.stamp(4096, 1);
    p.stamp(4096, 1);
    const std::string out = files::buildExport(ExportKind::AmplitudePhase);
    expectFixedWidth(out);
    const auto l = lines(out);
    // Bins 1..1602 plus the header: the largest export there is.
    ASSERT_EQ(l.size(), 1603u);
    EXPECT_EQ(out.size(), 54502u);
    EXPECT_EQ(l[0], "\"Freq[Hz]  Ampl[dB]  Phas[Deg]\" \r\n");
    EXPECT_EQ(l[1], "    1.6       -0.5       89.0   \r\n");
    EXPECT_EQ(l[1602], " 2503.1       -1.0    -1512.0   \r\n");
}

TEST_F(ExportTest, RowsWithoutValueAreSkippedAndWideNumbersAreCut)
{
    core::CurveBuffer& a = core::store().amplitudeSlots[0];
    a.stamp(512, 2); // 100 Hz steps, bins 1..199
    for (int k = 1; k < 10; ++k)
        a[k] = core::NO_VALUE;
    a[10] = 12345678.9f;
    const auto l = lines(files::buildExport(ExportKind::AmplitudeTernovax));
    ASSERT_EQ(l.size(), 199u - 9u);
    // A number wider than seven characters shifts the line, which is still cut at 32.
    EXPECT_EQ(l[0], " 1000.0    12345679.0           \r\n");
    EXPECT_EQ(l[1], " 1100.0        0.0              \r\n");
}

TEST_F(ExportTest, DbsplAxisConvertsAmplitudesAndChangesTheHeader)
{
    core::displaySettings().axisSets[1].y = kDbsplScale;
    core::CurveBuffer& a = core::store().amplitudeSlots[0];
    a.stamp(512, 2);
    a[1] = 0.0f;
    a[2] = core::NO_VALUE;
    a[3] = -20.0f;
    core::store().phaseSlots[0].stamp(512, 2);
    // By hand: 20 log10(5e7 / 6 mV/Pa) = 138.4164 dB at 1 m and 8 Ohm.
    const auto own = lines(files::buildExport(ExportKind::AmplitudePhase));
    EXPECT_EQ(own[0], "\"Freq[Hz] Ampl[dBSPL] Phas[Deg]\"\r\n");
    EXPECT_EQ(own[1], "  100.0      138.4        0.0   \r\n");
    EXPECT_EQ(own[2], "  300.0      118.4        0.0   \r\n");
    const auto ternovax = lines(files::buildExport(ExportKind::AmplitudeTernovax));
    EXPECT_EQ(ternovax[0], "  100.0      138.4              \r\n");
    // The phase export is never converted.
    EXPECT_EQ(lines(files::buildExport(ExportKind::PhaseTernovax))[0],
              "  100.0        0.0              \r\n");

    core::settings().distanceMm = 2000; // real distance: +6.02 dB
    EXPECT_EQ(lines(files::buildExport(ExportKind::AmplitudeTernovax))[0],
              "  100.0      144.4              \r\n");
}

TEST_F(ExportTest, EachExportUsesItsOwnCurvesTrailer)
{
    core::MeasurementStore& st = core::store();
    st.amplitudeSlots[0].stamp(4096, 1);
    st.phaseSlots[0].stamp(512, 3);
    st.impedanceMagnitude.stamp(1024, 2);
    st.impedancePhase.stamp(2048, 1);
    core::settings().fftLength = 512; // live settings play no part
    core::settings().sampleRate = 2;
    EXPECT_EQ(lines(files::buildExport(ExportKind::AmplitudeTernovax)).size(), 1602u);
    const auto pha = lines(files::buildExport(ExportKind::PhaseTernovax));
    EXPECT_EQ(pha.size(), 199u);
    EXPECT_EQ(pha[0].substr(0, 7), "    6.2"); // 3200 / 512
    const auto imp = lines(files::buildExport(ExportKind::ImpedanceTernovax));
    EXPECT_EQ(imp.size(), 399u); // trunc(1024 * 1603 / 4096) = 400: bins 1..399
    EXPECT_EQ(imp.back().substr(0, 7), "19950.0");
    EXPECT_EQ(lines(files::buildExport(ExportKind::ImpedancePhaseTernovax)).size(), 800u);
    EXPECT_EQ(lines(files::buildExport(ExportKind::Impedance)).size(), 400u);
}

TEST_F(ExportTest, TrailersFromForeignFilesNeverRunAway)
{
    core::CurveBuffer& a = core::store().amplitudeSlots[0];
    a.stamp(512, 7); // unknown rate code: 6400 Hz
    EXPECT_EQ(lines(files::buildExport(ExportKind::AmplitudeTernovax))[0].substr(0, 7), "   12.5");
    for (float n : {0.0f, -4096.0f, NAN, INFINITY, 0.5f, 1e30f, 8192.0f}) {
        a.trailerN() = n;
        const std::string out = files::buildExport(ExportKind::AmplitudeTernovax);
        expectFixedWidth(out);
        EXPECT_LE(out.size(), 2047u * 34u) << n;
    }
}

TEST_F(ExportTest, TsFileIsAlways234Bytes)
{
    std::string out = files::buildExport(ExportKind::TsParameters);
    ASSERT_EQ(out.size(), 234u);
    EXPECT_EQ(out.substr(0, 34), "\"Thiele Small Parameter Set   \" \r\n");
    EXPECT_EQ(out.substr(34), std::string(200, '\0'));

    core::setTsResultText("Fs = 45.3 Hz\r\nQts = 0.35\r\n");
    out = files::buildExport(ExportKind::TsParameters);
    ASSERT_EQ(out.size(), 234u);
    EXPECT_EQ(out.substr(34, 26), "Fs = 45.3 Hz\r\nQts = 0.35\r\n");
    EXPECT_EQ(out.substr(60), std::string(174, '\0'));

    core::setTsResultText(std::string(500, 'T').c_str());
    EXPECT_EQ(files::buildExport(ExportKind::TsParameters).substr(34), std::string(200, 'T'));
}

TEST_F(ExportTest, GoldenFilesFromAnIndependentWriter)
{
    core::MeasurementStore& st = core::store();
    for (int k = 0; k < 2048; ++k) {
        st.impedanceMagnitude[k] = 4.0f + 0.25f * k;
        st.impedancePhase[k] = -45.0f + 0.5f * k;
        st.amplitudeSlots[0][k] = -k / 8.0f;
        st.phaseSlots[0][k] = 180.0f - k;
    }
    for (int k = 1; k <= 3; ++k)
        st.impedanceMagnitude[k] = core::NO_VALUE;
    st.impedanceMagnitude.stamp(512, 2);
    st.amplitudeSlots[0].stamp(1024, 3);
    const std::string data = ORVO_TEST_DATA "/files/";
    EXPECT_EQ(files::buildExport(ExportKind::Impedance),
              readText(data + "export-impedance-51k-n512.imp"));
    // The same under a German desktop locale: decimal points all the same.
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    const std::string amp = files::buildExport(ExportKind::AmplitudePhase);
    std::setlocale(LC_ALL, previous.c_str());
    EXPECT_EQ(amp, readText(data + "export-amplitude-3k2-n1024-db.amp"));
}

TEST_F(ExportTest, DialogOverwriteAndFailedWrite)
{
    EXPECT_EQ(files::exportFile(ExportKind::ImpedancePhaseTernovax), 1); // cancelled
    ASSERT_EQ(ui.fileRequests().size(), 1u);
    EXPECT_EQ(ui.fileRequests()[0].title, "Frequenzgangdaten speichern unter...");
    EXPECT_EQ(ui.fileRequests()[0].filter, "(*.phe)");
    EXPECT_TRUE(ui.fileRequests()[0].createPrompt);

    ui.queuePath(path("z.tsp"));
    EXPECT_EQ(files::exportFile(ExportKind::TsParameters), 1);
    EXPECT_EQ(ui.fileRequests()[1].title, "Impedanzdaten speichern unter...");
    EXPECT_EQ(readFile(path("z.tsp")).size(), 234u);

    writeText(path("z.tsp"), "old");
    ui.queuePath(path("z.tsp"));
    ui.queueAnswer(core::Answer::No);
    EXPECT_EQ(files::exportFile(ExportKind::TsParameters), 1);
    EXPECT_EQ(readText(path("z.tsp")), "old");

    ui.clear();
    files::simulateShortWrite(100);
    ui.queuePath(path("z.tsp"));
    ui.queueAnswer(core::Answer::Yes);
    EXPECT_EQ(files::exportFile(ExportKind::TsParameters), 0);
    EXPECT_EQ(messageLog(), (std::vector<std::string>{
                                "Wollen Sie die bestehende Datei überschreiben?|",
                                "„" + path("z.tsp") +
                                    "“ (der Datenträger ist voll)|Fehler beim Speichern der Datei"}));
    EXPECT_EQ(readText(path("z.tsp")), "old");
}
