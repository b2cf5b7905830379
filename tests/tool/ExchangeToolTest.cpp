// orvo-tool with FRD/ZMA files, run as a user runs it: exports of simulated measurements read
// back by the import, refusals that leave nothing behind, and the T/S parameters from two
// impedance files against the T/S measurement of the same simulated driver.
#include "tests/tool/ToolRunner.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <locale>
#include <map>
#include <sstream>
#include <string>

namespace
{

namespace fs = std::filesystem;
using namespace tooltest;

class ExchangeToolTest : public ToolRunner
{
};

// The numbers of the T/S text ("Mms=28.74 g ...") by their labels.
std::map<std::string, double> tsValues(const std::string& out)
{
    std::map<std::string, double> v;
    std::istringstream s(out);
    s.imbue(std::locale::classic());
    std::string word;
    while (s >> word) {
        const auto eq = word.find('=');
        if (eq == std::string::npos)
            continue;
        // "L @ 1kHz=0.5749" arrives as "1kHz=0.5749", "fs= 38.0" as two words.
        std::string value = word.substr(eq + 1);
        if (value.empty())
            s >> value;
        v[word.substr(0, eq)] = std::atof(value.c_str());
    }
    return v;
}

// The simulated default driver (Re 6.2, Le 0.6 mH, fs 38 Hz, Qms 3.2, Qes 0.42, Vas 45 l) on a
// 170 mm diaphragm with `massG` added, as --sim-driver parameters: the bench adds the mass to
// Mms and keeps compliance, resistance and BL, so fs, Qms and Qes follow.
std::string loadedDriver(double massG)
{
    const double pi = 3.14159265358979;
    const double sd = pi * 0.085 * 0.085;
    const double cms = 45e-3 / (1.42e5 * sd * sd);
    const double ws = 2 * pi * 38.0;
    const double mms = 1.0 / (ws * ws * cms);
    const double rms = ws * mms / 3.2;
    const double bl2 = ws * mms * 6.2 / 0.42;
    const double m2 = mms + massG * 1e-3;
    const double w2 = 1.0 / std::sqrt(m2 * cms);
    char buf[200];
    std::snprintf(buf, sizeof buf, "6.2,0.6,%.6f,%.6f,%.6f,45", w2 / (2 * pi), w2 * m2 / rms,
                  w2 * m2 * 6.2 / bl2);
    return buf;
}

} // namespace

TEST_F(ExchangeToolTest, TsFromExportedZmaFilesMatchesTheMeasurement)
{
    const std::string grid = " --set fftLength=4096 --set sampleRate=1";
    Result r = run("measure ts --out ts.mes --set addedMassG=20 --sim-mass-g 20 --dc-ohm 6.2 "
                   "--answers yes,yes,ok,ok,ok" +
                   grid);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto measured = tsValues(r.out);

    ASSERT_EQ(run("measure impedance --out free.mes --answers yes,ok,ok" + grid).status, 0);
    ASSERT_EQ(run("measure impedance --out loaded.mes --answers yes,ok,ok --sim-driver " +
                  loadedDriver(20.0) + grid)
                  .status,
              0);
    ASSERT_EQ(run("export zma free.mes free.zma").status, 0);
    ASSERT_EQ(run("export zma loaded.mes loaded.zma").status, 0);

    // Under the German locale too: the files and the output keep their decimal points.
    for (const char* locale : {"C.UTF-8", "de_DE.UTF-8"}) {
        SCOPED_TRACE(locale);
        r = run("ts free.zma loaded.zma --diameter-mm 170 --added-mass-g 20 --dc-ohm 6.2 "
                "--out fromfiles.mes",
                locale);
        ASSERT_EQ(r.status, 0) << r.err;
        // The same notices as the measurement, and the same text layout.
        EXPECT_NE(r.err.find("1. Resonanz Amplitude:  Z="), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("2. Resonanz  Amplitude: Z="), std::string::npos) << r.err;
        EXPECT_EQ(r.out.rfind("Sd=0.0227 m\xC2\xB2    Mms=", 0), 0u) << r.out;
        const auto fromFiles = tsValues(r.out);
        for (const char* p : {"Sd", "Mms", "Re", "Qe", "Qm", "Qt", "Vas", "fs", "BL"}) {
            ASSERT_TRUE(measured.count(p) && fromFiles.count(p)) << p;
            EXPECT_NEAR(fromFiles.at(p), measured.at(p), 0.01 * measured.at(p)) << p;
        }
        // The measurement multiplies its own MLS phase at 1 kHz by 1.2 before taking the
        // inductance; a file carries the phase as it is, so its L is the model's 0.6 mH.
        EXPECT_NEAR(fromFiles.at("1kHz"), 0.6, 0.05);
        EXPECT_TRUE(fs::exists(path("fromfiles.mes")));
    }
    // The result text is in the record: the T/S export of the saved file holds it.
    ASSERT_EQ(run("export tsp fromfiles.mes ts.tsp").status, 0);
    EXPECT_NE(text("ts.tsp").find("Qe=0.42"), std::string::npos);

    // Swapped files: the second resonance lies above the first, which an added mass can't do.
    r = run("ts loaded.zma free.zma --diameter-mm 170 --added-mass-g 20 --dc-ohm 6.2");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Sind die Dateien vertauscht"), std::string::npos) << r.err;
    EXPECT_EQ(run("ts free.zma loaded.zma --diameter-mm 170").status, 2);
}

TEST_F(ExchangeToolTest, FrdExportImportRoundTripAndRefusals)
{
    Result r =
        run("measure response --set measuringInput=4 --set sampleRate=2 --set fftLength=1024 "
            "--out resp.mes");
    ASSERT_EQ(r.status, 0) << r.err;
    r = run("export frd resp.mes resp.frd");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string frd = text("resp.frd");
    EXPECT_EQ(frd.rfind("* OrvoPro 2.3: Amplitudenfrequenzgang (FRD), Kurvenplatz 0", 0), 0u);
    EXPECT_NE(frd.find("* Abtastrate 51200 Hz, N = 1024"), std::string::npos);
    EXPECT_EQ(run("export frd resp.mes x.frd --slot 3").status, 1); // slot 3 is empty
    EXPECT_EQ(run("export frd resp.mes x.frd --slot 9").status, 2);
    EXPECT_FALSE(fs::exists(path("x.frd")));

    // Imported, the curve becomes slot 0; a second import moves the first to slot 1.
    const std::string grid = " --set sampleRate=2 --set fftLength=1024";
    r = run("import frd resp.frd one.mes" + grid);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(run("import frd resp.frd two.mes --in one.mes" + grid).status, 0);
    EXPECT_NE(run("info two.mes").out.find("\"slotOccupied\":[1,1,0,0,0]"), std::string::npos);
    // Exported again, the imported curve gives the measured rows within the file's precision.
    ASSERT_EQ(run("export frd two.mes s1.frd --slot 1").status, 0);
    auto rows = [](const std::string& t) { return t.substr(t.find("\r\n", t.rfind("* ")) + 2); };
    const std::string a = rows(text("resp.frd"));
    const std::string b = rows(text("s1.frd"));
    std::istringstream sa(a), sb(b);
    sa.imbue(std::locale::classic());
    sb.imbue(std::locale::classic());
    double fa, va, pa, fb, vb, pb;
    int count = 0;
    while (sa >> fa >> va >> pa && sb >> fb >> vb >> pb) {
        ASSERT_DOUBLE_EQ(fa, fb);
        EXPECT_NEAR(va, vb, 0.01) << fa;
        EXPECT_NEAR(std::remainder(pa - pb, 360.0), 0.0, 0.1) << fa;
        ++count;
    }
    EXPECT_GT(count, 400);

    // A refused file changes nothing and writes nothing.
    std::ofstream(path("bad.frd")) << "20 80 0\n40 nan 0\n";
    r = run("import frd bad.frd out.mes --in one.mes" + grid);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Zeile 2: Die Zeile enthält einen nicht endlichen Wert."),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(path("out.mes")));

    // A ZMA becomes the impedance curve.
    std::ofstream(path("z.zma")) << "* hand-made\n10 8 5\n100 12 -20\n1000 9 30\n";
    ASSERT_EQ(run("import zma z.zma z.mes --set fftLength=4096").status, 0);
    ASSERT_EQ(run("export zma z.mes z2.zma").status, 0);
    EXPECT_NE(text("z2.zma").find("\r\n100.0000 12.0000 -20.000\r\n"), std::string::npos);
    ASSERT_EQ(run("export csv z.mes z.csv --view 4").status, 0);
    EXPECT_EQ(
        text("z.csv").rfind("\"Frequenz [Hz]\",\"Impedanz [Ohm]\",\"Impedanzphase [Grad]\"", 0),
        0u);
}

TEST_F(ExchangeToolTest, TsFromFilesOfTheShapeDesignToolsWrite)
{
    // 350 log-spaced points from 10 Hz to 20 kHz with '*' headers, one file in fixed-width
    // columns with CR LF, the other in exponent notation with tabs; made from a 16 cm woofer
    // model (fs 42 Hz, Qts 0.430, Vas 22 l, 130 mm diaphragm, 16 g added).
    const std::string data = std::string(ORVO_TEST_DATA) + "/files/exchange/";
    const Result r = run("ts '" + data + "woofer16-free-fixed.zma' '" + data +
                         "woofer16-mass16g-exp.zma' --diameter-mm 130 --added-mass-g 16");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto v = tsValues(r.out);
    EXPECT_NEAR(v.at("fs"), 42.0, 0.02 * 42.0);
    EXPECT_NEAR(v.at("Qt"), 0.4297, 0.10 * 0.4297);
    EXPECT_NEAR(v.at("Vas"), 22.0, 0.15 * 22.0);
    // Without --dc-ohm the proposal is taken: 0.95 x the smallest impedance above fs.
    EXPECT_NEAR(v.at("Re"), 0.95 * 5.8, 0.3);
}
