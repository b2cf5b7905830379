// orvo-tool end to end: the built program is run as a user runs it, on files this test writes
// itself at the documented offsets. Every command whose output could depend on the desktop's
// locale is run twice, under "C" and under the German locale, and must give the same bytes.
#include "tests/tool/ToolRunner.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using namespace tooltest;

constexpr std::size_t kMesSize = 331448;
constexpr std::size_t kCfgSize = 148068;
constexpr std::size_t kV133Size = 263012;
constexpr std::size_t kV21Size = 345048;
constexpr float kNoValue = 100000.0f;

// Little-endian fields, written without the program's own helpers.
void putU32(Bytes& b, std::size_t o, std::uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        b.at(o + k) = static_cast<unsigned char>(v >> (8 * k));
}
void putInt(Bytes& b, std::size_t o, int v)
{
    putU32(b, o, static_cast<std::uint32_t>(v));
}
void putFloat(Bytes& b, std::size_t o, float v)
{
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    putU32(b, o, u);
}
float getFloat(const Bytes& b, std::size_t o)
{
    std::uint32_t u = 0;
    for (int k = 0; k < 4; ++k)
        u |= static_cast<std::uint32_t>(b.at(o + k)) << (8 * k);
    float v;
    std::memcpy(&v, &u, 4);
    return v;
}
// A curve of 2048 values at `o`, f(k) for each bin, then N and the rate code.
template <typename F> void putCurve(Bytes& b, std::size_t o, int n, int rate, F f)
{
    for (int k = 0; k < 2048; ++k)
        putFloat(b, o + 4 * k, f(k));
    putFloat(b, o + 8192, static_cast<float>(n));
    putFloat(b, o + 8196, static_cast<float>(rate));
}
void putTrailer(Bytes& b, std::size_t curve, int n, int rate)
{
    putFloat(b, curve + 8192, static_cast<float>(n));
    putFloat(b, curve + 8196, static_cast<float>(rate));
}
// The time record at offset 20: 4096 samples, then N and the rate code.
void putRecordTrailer(Bytes& b, int n, int rate)
{
    putFloat(b, 20 + 16384, static_cast<float>(n));
    putFloat(b, 20 + 16388, static_cast<float>(rate));
}

std::string fixed1(double v)
{
    std::ostringstream s;
    s.imbue(std::locale::classic());
    s << std::fixed << std::setprecision(1) << std::setw(7) << v;
    return s.str();
}
// An export row written independently: the columns at their widths, padded or cut to 32.
std::string row(std::initializer_list<double> columns)
{
    std::string s;
    for (double c : columns)
        s += (s.empty() ? "" : "    ") + fixed1(c);
    s.resize(32, ' ');
    return s + "\r\n";
}

std::vector<std::string> lines34(const std::string& content)
{
    std::vector<std::string> out;
    for (std::size_t p = 0; p < content.size(); p += 34)
        out.push_back(content.substr(p, 34));
    return out;
}

class ToolTest : public ToolRunner
{
protected:
    void write(const std::string& name, const Bytes& b) const
    {
        std::ofstream f(path(name), std::ios::binary);
        f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    void write(const std::string& name, const std::string& s) const
    {
        write(name, Bytes(s.begin(), s.end()));
    }

    // Runs under the German locale and under "C": exit status, stdout, stderr and every file
    // named in `outputs` must be the same. Returns the result under "C".
    Result runBoth(const std::string& args, const std::vector<std::string>& outputs = {}) const
    {
        const Result german = run(args, "de_DE.UTF-8");
        std::vector<Bytes> germanFiles;
        for (const std::string& o : outputs)
            germanFiles.push_back(read(o));
        const Result c = run(args);
        EXPECT_EQ(german.status, c.status) << args;
        EXPECT_EQ(german.out, c.out) << args;
        EXPECT_EQ(german.err, c.err) << args;
        for (std::size_t i = 0; i < outputs.size(); ++i)
            EXPECT_TRUE(germanFiles[i] == read(outputs[i])) << args << ": " << outputs[i];
        return c;
    }
};

bool contains(const std::string& s, const std::string& part)
{
    return s.find(part) != std::string::npos;
}

} // namespace

TEST_F(ToolTest, HelpUsageErrorsAndExitStatus)
{
    Result r = run("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.err.empty());
    for (const char* part :
         {"new OUT", "resave IN OUT", "info FILE", "export KIND FILE.mes OUT",
          "import VERSION OLD OUT.mes", "mic FILE.mic OUT.cfg", "render VIEW FILE.mes OUT",
          "measure RUN --out FILE.mes", "analyze response|csd", "--config FILE.cfg",
          "--in FILE.mes", "--set FIELD=VALUE", "--answers LIST", "exit status: 0 success"})
        EXPECT_TRUE(contains(r.out, part)) << part;
    EXPECT_EQ(run("export --help").status, 0);

    // Without a command the help is a usage error and goes to stderr.
    r = run("");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.empty());
    EXPECT_TRUE(contains(r.err, "usage: orvo-tool"));

    ASSERT_EQ(run("new x.mes").status, 0);
    ASSERT_EQ(run("new x.cfg").status, 0);
    for (const char* args : {"frobnicate",
                             "info",
                             "info x.mes x.cfg",
                             "new x.txt",
                             "export amp x.mes",
                             "export bogus x.mes y.txt",
                             "import 3.0 x.mes y.mes",
                             "render 10 x.mes v.svg",
                             "render 2 x.mes v.bmp",
                             "mic m.mic",
                             "new y.mes --bogus 1",
                             "resave x.mes y.mes --set fftLength=1024",
                             "info x.mes --config x.cfg",
                             "new y.cfg --set nosuchField=1",
                             "new y.cfg --set averages=1,5",
                             "new y.mes --config",
                             "version 1",
                             "measure response",
                             "measure nosuchrun --out m.mes",
                             "new y.mes --answers perhaps"}) {
        r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_TRUE(contains(r.err, "orvo-tool")) << args << ": " << r.err;
    }
    EXPECT_FALSE(fs::exists(path("y.mes")));
    EXPECT_FALSE(fs::exists(path("y.cfg")));

    // Failures: the program's German messages on stderr, exit 1.
    r = run("info missing.mes");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Fehler beim Öffnen der Datei: „missing.mes“ (die Datei existiert nicht)\n"
                     "Fehler beim lesen der Datei\n");
    EXPECT_TRUE(r.out.empty());
    r = run("info missing.cfg");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Fehler beim Öffnen der Datei: „missing.cfg“ (die Datei existiert nicht)\n"
                     "Fehler beim lesen der Datei\n");
    // A file that cannot be created: the program's message 27 names the file and the reason.
    r = run("new nofolder/x.mes");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "Fehler beim Speichern der Datei"));
    EXPECT_TRUE(contains(r.err, "„nofolder/x.mes“ (die Datei oder der Ordner existiert nicht)"))
        << r.err;

    r = run("version");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.out, "OrvoPro"));
}

TEST_F(ToolTest, NewInfoResaveRoundTrips)
{
    ASSERT_EQ(runBoth("new x.mes", {"x.mes"}).status, 0);
    ASSERT_EQ(runBoth("new x.cfg", {"x.cfg"}).status, 0);
    EXPECT_EQ(read("x.mes").size(), kMesSize);
    EXPECT_EQ(read("x.cfg").size(), kCfgSize);

    Result r = runBoth("info x.mes");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* part : {"{\"kind\":\"measurement\",\"bytes\":331448,\"layout\":\"current\"",
                             "\"markerPos\":[0,10000]", "\"overlayAxisIndex\":-1",
                             "\"slotOccupied\":[0,0,0,0,0]", "\"amplitudeSlots\":[{\"N\":"})
        EXPECT_TRUE(contains(r.out, part)) << part << "\n" << r.out;
    r = runBoth("info x.cfg");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* part : {"{\"kind\":\"configuration\",\"bytes\":148068",
                             "{\"name\":\"Waserfall (CSD)\",\"x\":31,\"y\":56,\"z\":33}",
                             "\"method\":1,", "\"markerPos\":[0,10000]"})
        EXPECT_TRUE(contains(r.out, part)) << part << "\n" << r.out;

    ASSERT_EQ(run("resave x.mes y.mes").status, 0);
    ASSERT_EQ(run("resave x.cfg y.cfg").status, 0);
    EXPECT_TRUE(read("x.mes") == read("y.mes"));
    EXPECT_TRUE(read("x.cfg") == read("y.cfg"));

    // Files of arbitrary content (texts without their zero, NaN payloads, scale references off
    // the table) come back byte for byte.
    std::uint32_t seed = 12345;
    auto junk = [&](std::size_t n) {
        Bytes b(n);
        for (unsigned char& c : b) {
            seed = seed * 1664525u + 1013904223u;
            c = static_cast<unsigned char>(seed >> 24);
        }
        return b;
    };
    write("j.mes", junk(kMesSize));
    write("j.cfg", junk(kCfgSize));
    ASSERT_EQ(runBoth("resave j.mes k.mes", {"k.mes"}).status, 0);
    ASSERT_EQ(runBoth("resave j.cfg k.cfg", {"k.cfg"}).status, 0);
    EXPECT_TRUE(read("j.mes") == read("k.mes"));
    EXPECT_TRUE(read("j.cfg") == read("k.cfg"));
    EXPECT_EQ(runBoth("info j.mes").status, 0);
    EXPECT_EQ(runBoth("info j.cfg").status, 0);

    // A measurement file written at the documented offsets: every value reaches info.
    Bytes m(kMesSize, 0);
    putInt(m, 0, 123);
    putInt(m, 4, 4567);
    putInt(m, 8, 7);
    putInt(m, 12, 3);
    putInt(m, 16, 1500);
    putRecordTrailer(m, 2048, 2);
    putInt(m, 114812, 1); // slot 2 occupied
    putInt(m, 114824, 12);
    putTrailer(m, 123036, 1024, 3);
    putFloat(m, 197224 + 16384 * 4, 87.25f);
    putInt(m, 328304, 3);
    putFloat(m, 328308, 9.75f);
    const char user[] = "Gr\xF6\xDF"
                        "e\xB2";
    std::memcpy(m.data() + 328429 + 100, user, sizeof user);
    const char ts[] = "Fs = 45.5 Hz\r\n";
    std::memcpy(m.data() + 329424, ts, sizeof ts);
    write("w.mes", m);
    r = runBoth("info w.mes");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* part :
         {"\"snapshot\":{\"markerPos\":[123,4567],\"averages\":7,\"smoothing\":3,"
          "\"distanceMm\":1500,\"window\":3,\"referenceResistorOhm\":9.75}",
          "\"timeRecord\":{\"N\":2048,\"rate\":2}", "\"slotOccupied\":[0,0,1,0,0]",
          "\"overlayAxisIndex\":12", "\"impedanceMagnitude\":{\"N\":1024,\"rate\":3}",
          "\"csdMaxLevel\":87.25", "\"userText\":[\"\",\"Größe²\",\"\"",
          "\"tsResultText\":\"Fs = 45.5 Hz\\r\\n\"}"})
        EXPECT_TRUE(contains(r.out, part)) << part << "\n" << r.out.substr(0, 600);

    // Colours are whole numbers, whatever their top byte holds.
    Bytes cfg = read("x.cfg");
    putU32(cfg, 480 + 4 * 21, 0xFF123456u);
    write("c.cfg", cfg);
    r = run("info c.cfg");
    EXPECT_TRUE(contains(r.out, ",4279383126],\"lineWidth\"")) << r.out;

    // --set reaches the file; values are read with a decimal point whatever the locale.
    ASSERT_EQ(runBoth("new s.cfg --set fftLength=4096 --set 'markerPos[1]=9000' "
                      "--set addedMassG=12.5",
                      {"s.cfg"})
                  .status,
              0);
    r = run("info s.cfg");
    EXPECT_TRUE(contains(r.out, "\"fftLength\":4096")) << r.out;
    EXPECT_TRUE(contains(r.out, "\"markerPos\":[0,9000]"));
    EXPECT_TRUE(contains(r.out, "\"addedMassG\":12.5,"));
}

TEST_F(ToolTest, WrongLengthsAreRefusedWithTheGermanMessages)
{
    ASSERT_EQ(run("new x.mes").status, 0);
    ASSERT_EQ(run("new x.cfg").status, 0);
    Bytes mes = read("x.mes");
    for (std::size_t n : {kMesSize - 1, kMesSize + 1}) {
        mes.resize(n, 0);
        write("bad.mes", mes);
        Result r = runBoth("info bad.mes");
        EXPECT_EQ(r.status, 1) << n;
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(r.err, "Fehler Messdaten Datei: evt. Messdatei von anderer ORVO Version \n"
                         "Fehler beim lesen der Datei\n");
        r = run("resave bad.mes out.mes");
        EXPECT_EQ(r.status, 1);
        EXPECT_FALSE(fs::exists(path("out.mes")));
    }
    Bytes cfg = read("x.cfg");
    cfg.pop_back();
    write("bad.cfg", cfg);
    const Result r = runBoth("info bad.cfg");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Fehler Konfigurationsdatei : eventuell alte (ORVO<2.3) Konfiguraitonsdatei\n"
                     "Fehler beim lesen der Datei\n");
    // A configuration is no measurement file, whatever its name.
    fs::copy_file(path("x.cfg"), path("cfg-as.mes"));
    EXPECT_EQ(run("info cfg-as.mes").status, 1);
}

TEST_F(ToolTest, EveryExportKind)
{
    // Amplitude and phase at 3.2 kHz, N 1024 (bins 1..399, df 3.125 Hz), the first two
    // amplitude bins without value; impedance at 51.2 kHz, N 512 (bins 1..199, df 100 Hz).
    ASSERT_EQ(run("new x.mes").status, 0);
    Bytes m = read("x.mes");
    auto amp = [](int k) { return k == 1 || k == 2 ? kNoValue : -0.25f * static_cast<float>(k); };
    auto pha = [](int k) { return 90.0f - 0.5f * static_cast<float>(k); };
    auto mag = [](int k) { return 6.0f + 0.01f * static_cast<float>(k); };
    auto iph = [](int k) { return 45.0f - 0.1f * static_cast<float>(k); };
    putCurve(m, 73804, 1024, 3, amp);
    putCurve(m, 32804, 1024, 3, pha);
    putCurve(m, 123036, 512, 2, mag);
    putCurve(m, 114836, 512, 2, iph);
    const char ts[] = "Fs = 45.3 Hz\r\nQts = 0.35\r\n";
    std::memcpy(m.data() + 329424, ts, sizeof ts);
    write("m.mes", m);
    // A configuration whose amplitude axis is in dB (scale 48) rather than the default dB SPL.
    ASSERT_EQ(run("new db.cfg").status, 0);
    Bytes cfg = read("db.cfg");
    putU32(cfg, 80 + 44 + 32 + 4, 4481136u + 308u * 48u);
    write("db.cfg", cfg);

    struct Case {
        const char* kind;
        const char* out;
        bool dbConfig;
    };
    const Case cases[] = {{"amp", "own.amp", true},         {"amp", "spl.amp", false},
                          {"amp-ternovax", "t.amp", true},  {"pha-ternovax", "t.pha", true},
                          {"imp", "own.imp", false},        {"imp-ternovax", "t.imp", false},
                          {"phe-ternovax", "t.phe", false}, {"tsp", "t.tsp", false}};
    for (const Case& c : cases) {
        const std::string args = std::string("export ") + c.kind + " m.mes " + c.out +
                                 (c.dbConfig ? " --config db.cfg" : "");
        const Result r = runBoth(args, {c.out});
        ASSERT_EQ(r.status, 0) << args << ": " << r.err;
    }

    std::string want = "\"Freq[Hz]  Ampl[dB]  Phas[Deg]\" \r\n";
    for (int k = 3; k < 400; ++k)
        want += row({k * 3.125, amp(k), pha(k)});
    EXPECT_EQ(text("own.amp"), want);

    const auto spl = lines34(text("spl.amp"));
    ASSERT_EQ(spl.size(), 398u);
    EXPECT_EQ(spl[0], "\"Freq[Hz] Ampl[dBSPL] Phas[Deg]\"\r\n");
    EXPECT_EQ(spl[1].substr(0, 7), fixed1(9.375));
    EXPECT_NE(spl[1].substr(11, 7), fixed1(amp(3))); // converted to dB SPL
    EXPECT_EQ(spl[1].substr(22), fixed1(pha(3)) + "   \r\n");

    want.clear();
    for (int k = 3; k < 400; ++k)
        want += row({k * 3.125, amp(k)});
    EXPECT_EQ(text("t.amp"), want);
    want.clear();
    for (int k = 1; k < 400; ++k)
        want += row({k * 3.125, pha(k)});
    EXPECT_EQ(text("t.pha"), want);

    want = "\"Freq[Hz]  Imp[Ohm]  Phas[Deg]\" \r\n";
    for (int k = 1; k < 200; ++k)
        want += row({k * 100.0, mag(k), iph(k)});
    EXPECT_EQ(text("own.imp"), want);
    want.clear();
    for (int k = 1; k < 200; ++k)
        want += row({k * 100.0, mag(k)});
    EXPECT_EQ(text("t.imp"), want);
    want.clear();
    for (int k = 1; k < 200; ++k)
        want += row({k * 100.0, iph(k)});
    EXPECT_EQ(text("t.phe"), want);

    const std::string tsp = text("t.tsp");
    ASSERT_EQ(tsp.size(), 234u);
    EXPECT_EQ(tsp.substr(0, 34), "\"Thiele Small Parameter Set   \" \r\n");
    EXPECT_EQ(tsp.substr(34, sizeof ts - 1), ts);
    EXPECT_EQ(tsp.substr(34 + sizeof ts - 1), std::string(200 - (sizeof ts - 1), '\0'));

    // Failure: a missing measurement file.
    const Result r = run("export amp nothing.mes n.amp");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Fehler beim Öffnen der Datei: „nothing.mes“ (die Datei existiert nicht)\n"
                     "Fehler beim lesen der Datei\n");
    EXPECT_FALSE(fs::exists(path("n.amp")));
}

// The distortion block after the fixed image, written from the README's table: eleven curves
// of a count and float32 values each, the sweep before them, a CRC-32 after them.
std::uint32_t crc32Of(const Bytes& b, std::size_t from, std::size_t to)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = from; i < to; ++i) {
        c ^= b[i];
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}
void appendBlock(Bytes& file, const std::vector<std::vector<float>>& curves)
{
    const std::size_t start = file.size();
    auto u32 = [&](std::uint32_t v) {
        file.resize(file.size() + 4);
        putU32(file, file.size() - 4, v);
    };
    auto f64 = [&](double v) {
        std::uint64_t u;
        std::memcpy(&u, &v, 8);
        u32(static_cast<std::uint32_t>(u));
        u32(static_cast<std::uint32_t>(u >> 32));
    };
    for (char c : std::string("ORVOKLRF"))
        file.push_back(static_cast<unsigned char>(c));
    u32(1);
    u32(0); // the size, filled in below
    f64(20.0);
    f64(20000.0);
    f64(2.0);
    f64(0.5);
    u32(48000);
    u32(0);
    for (const std::vector<float>& c : curves) {
        u32(static_cast<std::uint32_t>(c.size()));
        for (float v : c) {
            file.resize(file.size() + 4);
            putFloat(file, file.size() - 4, v);
        }
    }
    putU32(file, start + 12, static_cast<std::uint32_t>(file.size() + 4 - start));
    u32(crc32Of(file, start, file.size()));
}

TEST_F(ToolTest, DistortionCurvesExportInfoAndResave)
{
    ASSERT_EQ(run("new plain.mes").status, 0);
    Bytes m = read("plain.mes");
    // Three points; H2 reaches the second, H3 only the first, H4 and H5 none. The noise of H2
    // is read, the others' not.
    appendBlock(m, {{1000.0f, 5000.0f, 10000.0f},
                    {-0.5f, 0.125f, -3.0f},
                    {1.5f, 0.25f, 0.0f},
                    {-40.0f, -42.25f},
                    {-60.5f},
                    {},
                    {},
                    {-90.0f, -91.0f},
                    {},
                    {},
                    {}});
    write("d.mes", m);

    Result r = runBoth("export thd d.mes d.csv", {"d.csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(text("d.csv"), "\"Frequenz [Hz]\",\"Grundwelle [dB]\",\"H2 [dB re Grundwelle]\","
                             "\"H3 [dB re Grundwelle]\",\"H4 [dB re Grundwelle]\","
                             "\"H5 [dB re Grundwelle]\",\"THD [%]\"\r\n"
                             "1000,-0.5,-40,-60.5,,,1.5\r\n"
                             "5000,0.125,-42.25,,,,0.25\r\n"
                             "10000,-3,,,,,0\r\n");

    r = runBoth("info d.mes");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "\"bytes\":" + std::to_string(m.size()))) << r.out;
    EXPECT_TRUE(contains(r.out, "\"distortion\":{\"present\":true,\"points\":3,\"fromHz\":1000,"
                                "\"toHz\":10000,\"harmonicPoints\":[2,1,0,0],"
                                "\"sweepStartHz\":20,\"sweepEndHz\":20000,\"sweepSeconds\":2,"
                                "\"sweepAmplitude\":0.5,\"sweepRateHz\":48000,"
                                "\"noiseCoversBand\":false}"))
        << r.out;
    r = run("info plain.mes");
    EXPECT_TRUE(contains(r.out, "\"distortion\":{\"present\":false,\"points\":0}")) << r.out;

    // A resave keeps the block byte for byte; one without curves has no block.
    ASSERT_EQ(run("resave d.mes again.mes").status, 0);
    EXPECT_TRUE(read("again.mes") == m);

    // Without curves: a German message, exit 1, no file.
    r = runBoth("export thd plain.mes p.csv");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "keine Klirrfaktordaten")) << r.err;
    EXPECT_FALSE(fs::exists(path("p.csv")));

    // A damaged block: the message of a file of another version, exit 1.
    Bytes bad = m;
    bad[m.size() - 1] ^= 0x40;
    write("bad.mes", bad);
    r = run("export thd bad.mes b.csv");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "evt. Messdatei von anderer ORVO Version")) << r.err;
    EXPECT_FALSE(fs::exists(path("b.csv")));

    r = run("export --help");
    EXPECT_TRUE(contains(r.out, "export thd FILE.mes OUT.csv")) << r.out;
}

// The distortion view of a file with curves, as SVG and PNG; a file without says how to measure.
TEST_F(ToolTest, DistortionViewRendersTheFilesCurves)
{
    ASSERT_EQ(run("new plain.mes").status, 0);
    Bytes m = read("plain.mes");
    appendBlock(m, {{100.0f, 1000.0f, 5000.0f},
                    {-10.0f, -8.0f, -9.0f},
                    {1.0f, 1.0f, 1.0f},
                    {-40.0f, -40.0f, -40.0f},
                    {-50.0f, -50.0f},
                    {-60.0f},
                    {},
                    {-90.0f, -90.0f, -90.0f},
                    {-90.0f, -90.0f},
                    {-90.0f},
                    {}});
    write("d.mes", m);

    Result r = runBoth("render 9 d.mes d.svg", {"d.svg"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string svg = text("d.svg");
    EXPECT_TRUE(contains(svg, "Klirrfaktor")) << svg.substr(0, 400);
    EXPECT_TRUE(contains(svg, "Grundton"));
    EXPECT_TRUE(contains(svg, "Rauschgrenze"));
    EXPECT_FALSE(contains(svg, "Keine Klirrfaktor-Messung"));
    EXPECT_TRUE(contains(svg, "Sweep 20 Hz")) << svg.substr(0, 400);
    // The block says the capture had no noise up to the top of the band.
    EXPECT_TRUE(contains(svg, "Rauschgrenze oben unsicher"));

    ASSERT_EQ(run("render 9 plain.mes plain.svg").status, 0);
    EXPECT_TRUE(contains(text("plain.svg"), "Keine Klirrfaktor-Messung"));
    EXPECT_LT(text("plain.svg").size() + 500, svg.size());

    r = run("render 9 d.mes d.png --size 400x300");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string png = text("d.png");
    ASSERT_GT(png.size(), 1000u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
}

TEST_F(ToolTest, ImportsOfBothOlderLayouts)
{
    // Version 1.33: one slot, the later blocks packed after it; junk in the last 300 bytes.
    Bytes v133(kV133Size, 0);
    putInt(v133, 0, 777);
    putInt(v133, 4, 888);
    putInt(v133, 8, 5);
    putInt(v133, 12, 2);
    putInt(v133, 16, 1500);
    putFloat(v133, 20, 0.125f);
    putRecordTrailer(v133, 4096, 1);
    putTrailer(v133, 32804, 2048, 2);
    putCurve(v133, 41004, 2048, 2, [](int k) { return -0.5f * static_cast<float>(k); });
    putTrailer(v133, 49204, 512, 3);
    putTrailer(v133, 57404, 1024, 1);
    putFloat(v133, 66052 + 65540 + 16384 * 4, 87.25f);
    putInt(v133, 262672, 2);
    putFloat(v133, 262676, 8.5f);
    for (std::size_t i = 262712; i < kV133Size; ++i)
        v133[i] = 0xAB;
    write("old133.mes", v133);

    Result r = runBoth("import 1.33 old133.mes a.mes", {"a.mes"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<const char*> want133 = {
        "\"snapshot\":{\"markerPos\":[0,10000],\"averages\":5,\"smoothing\":2,"
        "\"distanceMm\":1500,\"window\":2,\"referenceResistorOhm\":8.5}",
        "\"timeRecord\":{\"N\":4096,\"rate\":1}",
        "\"amplitudeSlots\":[{\"N\":2048,\"rate\":2},",
        "\"phaseSlots\":[{\"N\":2048,\"rate\":2},",
        "\"slotOccupied\":[1,0,0,0,0]",
        "\"overlayAxisIndex\":-1",
        "\"impedanceMagnitude\":{\"N\":1024,\"rate\":1}",
        "\"impedancePhase\":{\"N\":512,\"rate\":3}",
        "\"csdMaxLevel\":87.25"};
    r = run("info a.mes");
    for (const char* part : want133)
        EXPECT_TRUE(contains(r.out, part)) << part << "\n" << r.out.substr(0, 700);
    // info reads the older layout directly, by its length.
    r = runBoth("info old133.mes");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "\"bytes\":263012,\"layout\":\"1.33\""));
    for (const char* part : want133)
        EXPECT_TRUE(contains(r.out, part)) << part;
    // The amplitude curve lies where the 1.33 table puts it: export it.
    ASSERT_EQ(run("export amp-ternovax a.mes a.amp --config a.cfg").status, 1); // no a.cfg
    ASSERT_EQ(run("new db.cfg").status, 0);
    Bytes cfg = read("db.cfg");
    putU32(cfg, 80 + 44 + 32 + 4, 4481136u + 308u * 48u);
    write("db.cfg", cfg);
    ASSERT_EQ(run("export amp-ternovax a.mes a.amp --config db.cfg").status, 0);
    EXPECT_EQ(lines34(text("a.amp"))[9], row({10 * 25.0, -5.0}));

    // Version 2.1: five slots, occupied flags of its own; the overlay axis keeps the value it
    // has after start-up.
    Bytes v21(kV21Size, 0);
    putInt(v21, 8, 9);
    for (int k = 0; k < 5; ++k) {
        putTrailer(v21, 32804 + 8200 * k, 4096, k % 3 + 1);
        putTrailer(v21, 73804 + 8200 * k, 512 << (k % 4), 2);
    }
    putInt(v21, 131204, 1);
    putInt(v21, 131208, 1);
    putTrailer(v21, 131240, 2048, 1);
    putTrailer(v21, 139440, 4096, 2);
    putFloat(v21, 148088 + 65540 + 16384 * 4, 77.5f);
    putInt(v21, 344708, 1);
    putFloat(v21, 344712, 10.5f);
    write("old21.mes", v21);
    r = runBoth("import 2.1 old21.mes b.mes", {"b.mes"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run("info b.mes");
    for (const char* part :
         {"\"snapshot\":{\"markerPos\":[0,10000],\"averages\":9,",
          "\"window\":1,\"referenceResistorOhm\":10.5}",
          "\"amplitudeSlots\":[{\"N\":512,\"rate\":2},{\"N\":1024,\"rate\":2},{\"N\":2048,"
          "\"rate\":2},{\"N\":4096,\"rate\":2},{\"N\":512,\"rate\":2}]",
          "\"phaseSlots\":[{\"N\":4096,\"rate\":1},{\"N\":4096,\"rate\":2},{\"N\":4096,\"rate\":3}"
          ",",
          "\"slotOccupied\":[1,1,0,0,0]", "\"overlayAxisIndex\":-1",
          "\"impedanceMagnitude\":{\"N\":4096,\"rate\":2}",
          "\"impedancePhase\":{\"N\":2048,\"rate\":1}", "\"csdMaxLevel\":77.5"})
        EXPECT_TRUE(contains(r.out, part)) << part << "\n" << r.out.substr(0, 900);
    r = run("info old21.mes");
    EXPECT_TRUE(contains(r.out, "\"layout\":\"2.1\"")) << r.out.substr(0, 200);
    EXPECT_TRUE(contains(r.out, "\"slotOccupied\":[1,1,0,0,0]"));

    // Each importer refuses the other's file and a current one (caption 28 with the file and
    // its length, then 116).
    ASSERT_EQ(run("new x.mes").status, 0);
    for (const char* args : {"import 2.1 old133.mes c.mes", "import 1.33 old21.mes c.mes",
                             "import 1.33 x.mes c.mes", "import 2.1 x.mes c.mes"}) {
        r = runBoth(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_TRUE(r.err.rfind("Fehler beim Lesen der Datei: „", 0) == 0) << args << r.err;
        EXPECT_TRUE(contains(r.err, " Bytes statt ")) << args << r.err;
        EXPECT_TRUE(contains(r.err, "\nFehler beim lesen der Datei\n")) << args << r.err;
    }
    EXPECT_FALSE(fs::exists(path("c.mes")));
    r = run("import 2.1 missing.mes c.mes");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Fehler beim Öffnen der Datei: „missing.mes“ (die Datei existiert nicht)\n"
                     "Fehler beim lesen der Datei\n");
}

TEST_F(ToolTest, MicrophoneFileIntoAConfiguration)
{
    write("m.mic", std::string("\"Mikrofon 4711\"\r\n 20.0 1.5 -3.0\r\n 1000.0 0.5 2.0\r\n"
                               " 20000.0 -2.0 4.0\r\n"));
    Result r = runBoth("mic m.mic m.cfg", {"m.cfg"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Anzeige erste und letzte Zeile\n"
                     "Freq=   20.0  Amp=1.50  Phase=-3.00 \n"
                     "Freq=20000.0  Amp=-2.00  Phase=4.00 \n"
                     "Zeilen=3\n");
    const Bytes c = read("m.cfg");
    ASSERT_EQ(c.size(), kCfgSize);
    // Tables in the file: amplitude and phase at 3.2, 6.4 and 51.2 kHz.
    auto amp = [&](int group, int bin) { return getFloat(c, 98892 + 2 * group * 8196 + 4 * bin); };
    auto pha = [&](int group, int bin) {
        return getFloat(c, 98892 + (2 * group + 1) * 8196 + 4 * bin);
    };
    // 3.2 kHz, h = 0.78125: 20 Hz is bin 25, 1000 Hz bin 1280, 20 kHz far beyond the table,
    // so the pair 1000/20000 Hz writes nothing and bins 1280..1799 keep their zeros.
    for (int k = 1; k < 1280; ++k)
        ASSERT_EQ(amp(0, k), 1.5f) << k;
    EXPECT_EQ(pha(0, 1), -3.0f);
    EXPECT_EQ(amp(0, 1280), 0.0f);
    EXPECT_EQ(amp(0, 1799), 0.0f);
    // 51.2 kHz, h = 12.5: bins 1, 80 and 1600; every bin 1..1799 written, bin 0 never.
    for (int k = 1; k < 1800; ++k)
        ASSERT_EQ(amp(2, k), k < 80 ? 1.5f : k < 1600 ? 0.5f : -2.0f) << k;
    EXPECT_EQ(pha(2, 1600), 4.0f);
    EXPECT_EQ(amp(2, 0), 0.0f);
    EXPECT_EQ(amp(2, 1800), 0.0f);
    // 6.4 kHz, h = 1.5625: 1000 Hz is bin 640; from there on nothing is written.
    EXPECT_EQ(amp(1, 12), 1.5f);
    EXPECT_EQ(amp(1, 639), 1.5f);
    EXPECT_EQ(amp(1, 640), 0.0f);
    EXPECT_EQ(amp(1, 1799), 0.0f);
    // Without --config the configuration is the one the program has after start-up.
    r = run("info m.cfg");
    EXPECT_TRUE(contains(r.out, "\"method\":1,")) << r.out.substr(0, 400);

    // With --config the other settings come from that file.
    ASSERT_EQ(run("new base.cfg --set fftLength=2048").status, 0);
    ASSERT_EQ(run("mic m.mic n.cfg --config base.cfg").status, 0);
    EXPECT_TRUE(contains(run("info n.cfg").out, "\"fftLength\":2048"));
    const Bytes n = read("n.cfg");
    ASSERT_EQ(n.size(), kCfgSize);
    EXPECT_TRUE(std::equal(n.begin() + 98892, n.end(), c.begin() + 98892));

    // LF-only line ends and tabs give the same tables.
    write("lf.mic", std::string("\"Mikrofon 4711\"\n20.0\t1.5\t-3.0\n1000.0 0.5 2.0\n"
                                "20000.0\t-2.0\t4.0\n"));
    ASSERT_EQ(run("mic lf.mic lf.cfg").status, 0);
    EXPECT_TRUE(read("lf.cfg") == read("m.cfg"));

    r = runBoth("mic missing.mic x.cfg");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Fehler Mikrofondaten Datei nicht vorhanden\n");
    EXPECT_FALSE(fs::exists(path("x.cfg")));
}

TEST_F(ToolTest, MeasureRenderAndAnalyzeOnTheSimulatedBox)
{
    // Response at 51.2 kHz, N 4096, MLS, measured on the internal reference path.
    const std::string rate = " --set sampleRate=2 --set fftLength=4096";
    Result r =
        runBoth("measure response --set measuringInput=4 --set method=1" + rate + " --out resp.mes",
                {"resp.mes"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(read("resp.mes").size(), kMesSize);
    r = run("info resp.mes");
    EXPECT_TRUE(contains(r.out, "\"amplitudeSlots\":[{\"N\":4096,\"rate\":2}")) << r.out;
    EXPECT_TRUE(contains(r.out, "\"slotOccupied\":[1,0,0,0,0]"));
    EXPECT_TRUE(contains(r.out, "\"timeRecord\":{\"N\":4096,\"rate\":2}"));

    // Every view as SVG, the same under both locales.
    for (int view : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11}) {
        const std::string out = "v" + std::to_string(view) + ".svg";
        r = runBoth("render " + std::to_string(view) + " resp.mes " + out, {out});
        ASSERT_EQ(r.status, 0) << view << ": " << r.err;
        const std::string svg = text(out);
        EXPECT_GT(svg.size(), 200u) << view;
        EXPECT_TRUE(contains(svg, "<svg")) << view;
        EXPECT_TRUE(contains(svg, "</svg>")) << view;
    }
    // The amplitude view carries the measured curve: more than the empty diagram.
    ASSERT_EQ(run("new empty.mes").status, 0);
    ASSERT_EQ(run("render 2 empty.mes empty.svg").status, 0);
    EXPECT_GT(read("v2.svg").size(), read("empty.svg").size() + 10000);

    r = runBoth("measure reference" + rate + " --out ref.mes", {"ref.mes"});
    EXPECT_EQ(r.status, 0) << r.err;

    // Impedance at 6.4 kHz of the simulated driver (Re 6.2 Ohm, fs 38 Hz): the peak of the
    // exported magnitude lies at the resonance and well above Re.
    r = runBoth("measure impedance --answers yes,yes,ok,ok --set sampleRate=1 "
                "--set fftLength=4096 --out imp.mes",
                {"imp.mes"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(runBoth("export imp-ternovax imp.mes imp.txt", {"imp.txt"}).status, 0);
    double peakHz = 0, peakOhm = 0, lowest = 1e9;
    for (const std::string& l : lines34(text("imp.txt"))) {
        std::istringstream s(l);
        s.imbue(std::locale::classic());
        double f = 0, z = 0;
        s >> f >> z;
        if (f < 10 || f > 400)
            continue;
        lowest = std::min(lowest, z);
        if (z > peakOhm)
            peakOhm = z, peakHz = f;
    }
    EXPECT_NEAR(peakHz, 38.0, 4.0);
    EXPECT_GT(peakOhm, 3 * lowest);
    EXPECT_NEAR(lowest, 6.2, 1.5);

    r = runBoth("measure level --passes 2 --set sampleRate=2 --out level.mes", {"level.mes"});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(runBoth("render 5 level.mes level.svg", {"level.svg"}).status, 0);

    r = runBoth("measure csd" + rate + " --out csd.mes", {"csd.mes"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run("info csd.mes");
    const auto at = r.out.find("\"csdMaxLevel\":");
    ASSERT_NE(at, std::string::npos);
    EXPECT_NE(r.out.compare(at, 16, "\"csdMaxLevel\":0,"), 0) << r.out.substr(at, 40);
    ASSERT_EQ(runBoth("render 6 csd.mes csd.svg", {"csd.svg"}).status, 0);
    // With the default markers M1 lies before the sound arrives: the slices start at the
    // arrival, the view says so, and the level at 1 kHz falls by 6 dB or more within the
    // first eight slices (before, it stood still while the slices held the whole impulse).
    EXPECT_TRUE(contains(text("csd.svg"), "Beginn bei Ankunft des Impulses: ")) << text("csd.svg");
    ASSERT_EQ(run("export csv csd.mes csd.csv --view 6").status, 0);
    std::vector<double> at1k;
    {
        std::istringstream rows(text("csd.csv"));
        rows.imbue(std::locale::classic());
        std::string l;
        std::getline(rows, l); // the names
        while (std::getline(rows, l)) {
            std::istringstream row(l);
            row.imbue(std::locale::classic());
            double ms = 0, hz = 0, db = 0;
            char comma = 0;
            if (row >> ms >> comma >> hz >> comma >> db && hz == 1000.0)
                at1k.push_back(db);
        }
    }
    ASSERT_GE(at1k.size(), 8u);
    EXPECT_GE(at1k[0] - at1k[7], 6.0) << at1k[0] << " " << at1k[7];
    // The waterfall needs 51.2 kHz.
    r = run("measure csd --set sampleRate=1 --out no.mes");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(path("no.mes")));

    // analyze: the stored record again, the older curve moves to slot 1.
    r = runBoth("analyze response resp.mes again.mes", {"again.mes"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(run("info again.mes").out, "\"slotOccupied\":[1,1,0,0,0]"));
    r = runBoth("analyze csd resp.mes wf.mes", {"wf.mes"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run("analyze csd imp.mes wf2.mes"); // a 6.4 kHz record
    EXPECT_EQ(r.status, 1);

    // The T/S procedure with an added mass: the result text on stdout, in the file and in
    // the T/S export, with decimal points.
    r = runBoth("measure ts --answers yes,yes,ok,ok,ok --dc-ohm 6.0 "
                "--sim-driver 6.0,0.5,35,3.0,0.45,40 --set sampleRate=1 --set addedMassG=20 "
                "--out ts.mes",
                {"ts.mes"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto fsAt = r.out.find("fs= ");
    ASSERT_NE(fsAt, std::string::npos) << r.out;
    EXPECT_EQ(r.out.compare(fsAt + 4, 2, "35") == 0 || r.out.compare(fsAt + 4, 2, "34") == 0, true)
        << r.out;
    EXPECT_EQ(r.out[fsAt + 6], '.') << r.out;
    ASSERT_EQ(runBoth("export tsp ts.mes ts.tsp", {"ts.tsp"}).status, 0);
    const std::string tsp = text("ts.tsp");
    ASSERT_EQ(tsp.size(), 234u);
    // The file holds the text in Windows-1252 with CR LF, then zeros up to 200 bytes.
    std::string stored;
    for (std::size_t i = 0; i < r.out.size(); ++i) {
        if (r.out[i] == '\n')
            stored += "\r\n";
        else if (r.out.compare(i, 2, "\xC2\xB2") == 0)
            stored += '\xB2', ++i;
        else
            stored += r.out[i];
    }
    ASSERT_LT(stored.size(), 200u);
    EXPECT_EQ(tsp.substr(34), stored + std::string(200 - stored.size(), '\0'));

    // A box that is not there: the run fails and nothing is saved.
    r = run("measure response --sim-fault absent --out absent.mes");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(path("absent.mes")));
}

TEST_F(ToolTest, FailedSavesKeepTheEarlierFileAndNameWhatFailed)
{
    ASSERT_EQ(run("new x.mes").status, 0);
    ASSERT_EQ(run("render 2 x.mes v.svg").status, 0);
    const Bytes picture = read("v.svg");
    ASSERT_GT(picture.size(), 8192u);

    // A file system that takes no more than 8 KiB (a file size limit stands in for a full
    // disk): the earlier picture stays whole, and the failure names the file.
    Result r = run("render 3 x.mes v.svg", "C.UTF-8", "trap '' XFSZ; ulimit -f 8; ");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "v.svg")) << r.err;
    EXPECT_TRUE(read("v.svg") == picture);

    // Saves into a folder that does not exist.
    r = run("measure response --out nofolder/m.mes");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "Fehler beim Speichern der Datei")) << r.err;
    EXPECT_TRUE(contains(r.err, "nofolder/m.mes")) << r.err;
    r = run("analyze response x.mes nofolder/a.mes");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "nofolder/a.mes")) << r.err;
    r = run("render 2 x.mes nofolder/v.svg");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "nofolder/v.svg")) << r.err;
    EXPECT_FALSE(fs::exists(path("nofolder")));
}
