// orvo-tool with FRD/ZMA files, run as a user runs it: exports of simulated measurements read
// back by the import, refusals that leave nothing behind, and the T/S parameters from two
// impedance files against the T/S measurement of the same simulated driver.
#include "tests/tool/ToolRunner.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <complex>
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
        // One method for the inductance: the fitted coil, from the measurement and from its
        // files alike, is the model's 0.6 mH.
        EXPECT_NEAR(fromFiles.at("1kHz"), 0.6, 0.03);
        EXPECT_NEAR(measured.at("1kHz"), 0.6, 0.03);
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
    // Without --dc-ohm the proposal is taken: the fitted model's Re, the file's 5.8 ohm.
    EXPECT_NEAR(v.at("Re"), 5.8, 0.05);
    EXPECT_NEAR(v.at("Qt"), 0.4297, 0.01 * 0.4297);
    EXPECT_NEAR(v.at("Vas"), 22.0, 0.02 * 22.0);
}

namespace
{

// A driver's impedance file from 20 Hz to 20 kHz at 48 points per octave, and the same driver
// with `massG` on its 170 mm cone (Vas 40 l), as design tools write them.
void writeModelFiles(const std::string& freePath, const std::string& loadedPath, double fs,
                     double qms, double qes, double massG)
{
    const double pi = 3.14159265358979;
    const double sd = pi * 0.085 * 0.085;
    const double cms = 40e-3 / (1.42e5 * sd * sd);
    const double mms = 1.0 / (std::pow(2 * pi * fs, 2) * cms);
    const double k = std::sqrt((mms + massG * 1e-3) / mms);
    const struct {
        const std::string& path;
        double fs, qms, qes;
    } files[] = {{freePath, fs, qms, qes}, {loadedPath, fs / k, qms * k, qes * k}};
    for (const auto& f : files) {
        std::ofstream out(f.path);
        out.imbue(std::locale::classic());
        out << "* Freq(Hz) Z(Ohm) Phase(deg)\n";
        for (double x = 20.0; x <= 20000.0; x *= std::pow(2.0, 1.0 / 48)) {
            const std::complex<double> j(0.0, 1.0);
            const double res = 6.0 * f.qms / f.qes;
            const auto z = 6.0 + j * 2.0 * pi * x * 0.5e-3 +
                           res / (1.0 + j * f.qms * (x / f.fs - f.fs / x));
            out << x << ' ' << std::abs(z) << ' ' << std::arg(z) * 180.0 / pi << '\n';
        }
    }
}

} // namespace

// Model files of drivers with a mechanical Q from 3 to 12: the smoothed 6.4 kHz grid the
// analysis used to work on lost up to 30 % of Qts, and refused two of them.
TEST_F(ExchangeToolTest, TsFromModelFilesOfAnyMechanicalQ)
{
    const struct {
        double fs, qms, qes;
    } drivers[] = {{35, 3, 0.4}, {35, 5, 0.4}, {35, 8, 0.4}, {35, 10, 0.4}, {35, 12, 0.4},
                   {66, 12, 0.5}};
    for (const auto& d : drivers) {
        SCOPED_TRACE(testing::Message() << "fs " << d.fs << " Qms " << d.qms);
        writeModelFiles(path("free.zma"), path("mass.zma"), d.fs, d.qms, d.qes, 20.0);
        const Result r =
            run("ts free.zma mass.zma --diameter-mm 170 --added-mass-g 20 --dc-ohm 6.0");
        ASSERT_EQ(r.status, 0) << r.err;
        const auto v = tsValues(r.out);
        const double qts = d.qms * d.qes / (d.qms + d.qes);
        EXPECT_NEAR(v.at("fs"), d.fs, 0.02 * d.fs);
        EXPECT_NEAR(v.at("Qm"), d.qms, 0.05 * d.qms);
        EXPECT_NEAR(v.at("Qe"), d.qes, 0.05 * d.qes);
        EXPECT_NEAR(v.at("Qt"), qts, 0.05 * qts);
        EXPECT_NEAR(v.at("Vas"), 40.0, 0.10 * 40.0);
        // The fit's residual is reported with the result.
        EXPECT_NE(r.err.find("Modell: Restfehler 0.00 %"), std::string::npos) << r.err;
    }
}

// Files that start at 20 Hz (the usual start of a design tool's sweep) are accepted; what a
// file lacks around its resonance is named.
TEST_F(ExchangeToolTest, TsFromFilesNeedsOnlyTheResonanceRegion)
{
    const std::string data = std::string(ORVO_TEST_DATA) + "/files/exchange/";
    Result r = run("ts '" + data + "woofer66-free-20hz.zma' '" + data +
                   "woofer66-mass10g-20hz.zma' --diameter-mm 130 --added-mass-g 10 --dc-ohm 6.2");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto v = tsValues(r.out);
    EXPECT_NEAR(v.at("fs"), 66.0, 0.02 * 66.0);
    EXPECT_NEAR(v.at("Qt"), 0.48, 0.02 * 0.48);
    EXPECT_NEAR(v.at("Vas"), 15.0, 0.05 * 15.0);

    // A file that stops just above the resonance, before the impedance has fallen: no
    // resonance up to its end, and what the evaluation needs.
    std::ofstream(path("short.zma")) << "30 7.0 30\n40 9.0 40\n50 20.0 45\n60 80.0 10\n"
                                        "66 100.0 0\n70 90.0 -20\n";
    r = run("ts short.zma '" + data +
            "woofer66-mass10g-20hz.zma' --diameter-mm 130 --added-mass-g 10 --dc-ohm 6.2");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Die Impedanzkurve in freier Luft reicht von 30,0 Hz bis 70,0 Hz und "
                         "zeigt bis zu ihrem Ende keine Resonanz"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Werte bis zur doppelten Resonanzfrequenz"), std::string::npos) << r.err;
    // One whose resonance shows but with too few points around it: the region is named.
    std::ofstream(path("sparse.zma")) << "30 7.0 30\n40 9.0 40\n50 20.0 45\n60 80.0 10\n"
                                         "66 100.0 0\n70 60.0 -20\n80 30.0 -30\n";
    r = run("ts sparse.zma '" + data +
            "woofer66-mass10g-20hz.zma' --diameter-mm 130 --added-mass-g 10 --dc-ohm 6.2");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("reicht von 30,0 Hz bis 80,0 Hz: um die Resonanz bei 66,0 Hz hat sie "
                         "zu wenig Werte.\nDie Auswertung braucht von 33,0 Hz bis 132 Hz"),
              std::string::npos)
        << r.err;
}

// Files as a sweep-based tool writes them of a real driver: a lossy voice coil (Le in series
// with R2 || L2, which neither coil model of the fit is), 0.4 % and 0.3 degree of noise, CRLF
// lines, 1/24 octave from 20 Hz to 20 kHz, and the joint of two sweeps at 988 Hz on two
// lines. Made from Re 5.6, Le 0.35 mH, R2 3.0, L2 0.4 mH, fs 48 Hz, Qms 7, Qes 0.45, Vas
// 25 l, 130 mm, 15 g. Read whole, and the fit agrees with the driver.
TEST_F(ExchangeToolTest, TsFromFilesOfALossyCoilWithNoiseAndASweepJoint)
{
    const std::string data = std::string(ORVO_TEST_DATA) + "/files/exchange/";
    const std::string files =
        "ts '" + data + "coil-lr2-free.zma' '" + data + "coil-lr2-mass15g.zma' --diameter-mm 130 "
        "--added-mass-g 15";
    const double qts = 7.0 * 0.45 / 7.45;
    // With the proposed DC resistance (the fitted Re, which the lossy coil pulls low).
    Result r = run(files);
    ASSERT_EQ(r.status, 0) << r.err;
    auto v = tsValues(r.out);
    EXPECT_NEAR(v.at("fs"), 48.0, 0.02 * 48.0);
    EXPECT_NEAR(v.at("Qt"), qts, 0.10 * qts);
    EXPECT_NEAR(v.at("Vas"), 25.0, 0.10 * 25.0);
    // With the measured one.
    r = run(files + " --dc-ohm 5.6");
    ASSERT_EQ(r.status, 0) << r.err;
    v = tsValues(r.out);
    EXPECT_NEAR(v.at("fs"), 48.0, 0.01 * 48.0);
    EXPECT_NEAR(v.at("Qt"), qts, 0.03 * qts);
    EXPECT_NEAR(v.at("Vas"), 25.0, 0.03 * 25.0);
}

TEST_F(ExchangeToolTest, ImportSaysWhatTheGridLeavesOutAndThatAGroupDelayIsNoPhase)
{
    const std::string data = std::string(ORVO_TEST_DATA) + "/files/exchange/";
    // 20 Hz to 20 kHz at the default 6.4 kHz, N 512: taken up to 3187.5 Hz, and said so.
    Result r = run("import frd '" + data + "wide-20hz-20khz.frd' wide.mes");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("FRD-Import: Die Datei reicht von 20 bis 20000 Hz; das Frequenzraster "
                         "der Messung (6,4 kHz, N 512) übernimmt davon nur 25 bis 3187,5 Hz. "
                         "Weggelassen: 3187,5 bis 20000 Hz.\n"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(fs::exists(path("wide.mes")));
    // On a grid that holds the file: not a word.
    r = run("import frd '" + data +
            "wide-20hz-20khz.frd' all.mes --set sampleRate=2 "
            "--set fftLength=4096");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("Weggelassen"), std::string::npos) << r.err;

    // A group-delay column: said, left out, and the export has no phase column.
    r = run("import frd '" + data + "group-delay.frd' gd.mes --set fftLength=4096");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("ist laut Kopfzeile eine Gruppenlaufzeit, keine Phase"), std::string::npos)
        << r.err;
    ASSERT_EQ(run("export frd gd.mes gd.frd").status, 0);
    EXPECT_NE(text("gd.frd").find("(keine Phase)"), std::string::npos);
    EXPECT_NE(text("gd.frd").find("\r\n50.0000 83.14"), std::string::npos) << text("gd.frd");
}

// A sweep on the simulated bench, as a user measures distortion from the command line: the
// file holds the response and the curves, and the driver's harmonics read as set.
TEST_F(ExchangeToolTest, MeasureDistortionOnTheSimulatedBench)
{
    Result r = run("measure distortion --set sampleRate=2 --set micSensitivityMvPerPa=100 "
                   "--sweep-from 20 --sweep-to 20000 --sweep-seconds 1 "
                   "--sim-distortion -30,-40 --out d.mes");
    ASSERT_EQ(r.status, 0) << r.err;
    r = run("info d.mes");
    EXPECT_NE(r.out.find("\"distortion\":{\"present\":true"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"sweepRateHz\":51200"), std::string::npos) << r.out;
    ASSERT_EQ(run("export thd d.mes d.csv").status, 0);

    // The row nearest 1 kHz: frequency, fundamental, H2, H3, ...
    std::istringstream rows(text("d.csv"));
    std::string row;
    std::getline(rows, row);
    double best = 1e9, h2 = 0, h3 = 0;
    while (std::getline(rows, row)) {
        double hz = 0, fundamental = 0, a = 0, b = 0;
        if (std::sscanf(row.c_str(), "%lf,%lf,%lf,%lf", &hz, &fundamental, &a, &b) == 4 &&
            std::fabs(hz - 1000.0) < best) {
            best = std::fabs(hz - 1000.0);
            h2 = a;
            h3 = b;
        }
    }
    ASSERT_LT(best, 30.0);
    // Set for a 1 V peak drive; the sweep drives the motor at the MLS's peak, 1.05 V, so H2
    // and H3 are 0.42 dB higher. Above the resonance the microphone hears the drive through
    // the coil's Re + jwLe (6.2 ohm, 0.6 mH: a corner at 1645 Hz), which takes 2.58 dB more
    // from the second harmonic at 2 kHz than from the fundamental, and 4.99 dB from the third.
    const double drive = 20.0 * std::log10(1.0 / (4095.0 / 3300.0 * 393.0 / 512.0));
    auto coil = [](double hz) { return std::hypot(1.0, hz / (6.2 / (2 * 3.14159265358979 * 0.6e-3))); };
    const double f = 1000.0;
    EXPECT_NEAR(h2, -30.0 + drive - 20.0 * std::log10(coil(2 * f) / coil(f)), 0.75);
    EXPECT_NEAR(h3, -40.0 + 2 * drive - 20.0 * std::log10(coil(3 * f) / coil(f)), 1.0);

    // Without the nonlinearity the harmonics are far below; --set method=3 measures the
    // response with a sweep too and keeps its curves.
    ASSERT_EQ(run("measure response --set method=3 --set sampleRate=2 --out c.mes").status, 0);
    r = run("info c.mes");
    EXPECT_NE(r.out.find("\"distortion\":{\"present\":true"), std::string::npos) << r.out;
    // A band of less than an octave is a usage error, and nothing is written.
    r = run("measure distortion --sweep-from 1000 --sweep-to 1500 --out x.mes");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Oktave"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(path("x.mes")));
}
