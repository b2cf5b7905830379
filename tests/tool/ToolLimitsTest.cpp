// What orvo-tool refuses and how it says so: saves over what is not a regular file, settings
// outside the ranges of their dialogs, work beyond its bounds; and a long run stopped with
// Ctrl+C that leaves nothing behind. Device nodes and FIFOs live in the test's own folder.
#include "tests/tool/ToolRunner.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using namespace tooltest;

class ToolLimitsTest : public ToolRunner
{
protected:
    mode_t typeOf(const std::string& name) const
    {
        struct stat st {
        };
        return ::lstat(path(name).c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
    }
    std::vector<std::string> names() const
    {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename().string()[0] != '.' ||
                e.path().filename().string().rfind(".~orvo", 0) == 0)
                out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

bool contains(const std::string& s, const std::string& part)
{
    return s.find(part) != std::string::npos;
}

} // namespace

TEST_F(ToolLimitsTest, SavesOverDevicesFifosAndFoldersAreRefused)
{
    ASSERT_EQ(run("measure response --out a.mes").status, 0);
    fs::create_directory(path("d"));
    const bool device = ::mknod(path("d/n").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    ASSERT_EQ(::mkfifo(path("d/f").c_str(), 0644), 0);
    fs::create_directory(path("d/folder.svg"));

    struct Case {
        std::string args;
        std::string target;
        mode_t type;
        std::string why;
    };
    std::vector<Case> cases = {
        {"export frd a.mes d/f", "d/f", S_IFIFO, "benannte Pipe (FIFO)"},
        {"resave a.mes d/f", "d/f", S_IFIFO, "benannte Pipe (FIFO)"},
        {"render 2 a.mes d/folder.svg", "d/folder.svg", S_IFDIR, "ein Ordner"},
        {"export tsp a.mes d/folder.svg", "d/folder.svg", S_IFDIR, "ein Ordner"},
    };
    if (device) {
        cases.push_back({"resave a.mes d/n", "d/n", S_IFCHR, "ein Gerät"});
        // Through a link that names a measurement file: the device at its end counts.
        fs::create_symlink("n", path("d/null.mes"));
        cases.push_back({"new d/null.mes --set averages=2", "d/null.mes", S_IFLNK, "ein Gerät"});
    }
    for (const Case& c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_TRUE(contains(r.err, "„" + c.target + "“")) << c.args << ": " << r.err;
        EXPECT_TRUE(contains(r.err, c.why)) << c.args << ": " << r.err;
        EXPECT_TRUE(contains(r.err, "nicht überschrieben")) << c.args << ": " << r.err;
        EXPECT_EQ(typeOf(c.target), c.type) << c.args;
    }
    EXPECT_TRUE(fs::is_empty(path("d/folder.svg")));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(path("d")))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left.size(), device ? 4u : 2u) << "nothing of the saves is left beside them";
    if (device) {
        EXPECT_EQ(typeOf("d/n"), static_cast<mode_t>(S_IFCHR));
    }
    if (!device)
        GTEST_SKIP() << "no device node could be made here (no CAP_MKNOD)";
}

TEST_F(ToolLimitsTest, EverySetValueIsCheckedAgainstItsDialogsRange)
{
    // Values no dialog takes: a usage error naming the field and what it takes; nothing saved.
    struct Case {
        const char* set;
        const char* says;
    };
    for (const Case c : {
             Case{"fftLength=-1", "512, 1024, 2048 oder 4096"},
             Case{"fftLength=2147483647", "512, 1024, 2048 oder 4096"},
             Case{"fftLength=1000", "512, 1024, 2048 oder 4096"},
             Case{"sampleRate=7", "1 (6,4 kHz), 2 (51,2 kHz) oder 3 (3,2 kHz)"},
             Case{"sampleRate=51200", "für 51200 Hz ist es 2"},
             Case{"averages=-5", "1 bis 30"},
             Case{"averages=2000000000", "1 bis 30"},
             Case{"averages=2.5", "1 bis 30"},
             Case{"method=4", "0 (Impuls), 1 (MLS), 2 (FFT-Analyzer) oder 3 (Sweep)"},
             Case{"sweepSeconds=12", "eine Dauer in Sekunden von 0,5 bis 10"},
             Case{"preampGainDb=1e39", "-50 bis 50"},
             Case{"preampGainDb=51", "-50 bis 50"},
             Case{"phaseOffsetDeg=-181", "-180 bis 180"},
             Case{"addedMassG=0.05", "über 0,1 bis 100"},
             Case{"boxVolumeL=1e39", "über 0,1 bis 200"},
             Case{"referenceResistorOhm=0.5", "1 bis 10000"},
             Case{"micSensitivityMvPerPa=0", "über 0 bis 100"},
             Case{"markerPos[1]=10001", "0 bis 10000"},
             Case{"levelCount=100", "1 bis 99"},
             Case{"distanceMm=0", "1 bis 5000"},
             Case{"window=0", "Blackman"},
             Case{"levelAveraging=4", "träge"},
             Case{"fftLength=0x200", "ist keine Zahl"},
             Case{"averages=", "ist keine Zahl"},
         }) {
        const std::string field = std::string(c.set).substr(0, std::string(c.set).find('='));
        const Result r = run(std::string("new s.mes --set '") + c.set + "'");
        EXPECT_EQ(r.status, 2) << c.set;
        EXPECT_TRUE(contains(r.err, "--set " + field + "=")) << c.set << ": " << r.err;
        EXPECT_TRUE(contains(r.err, c.says)) << c.set << ": " << r.err;
    }
    EXPECT_FALSE(fs::exists(path("s.mes")));

    // The ends of each range are taken, as the dialogs take them.
    for (const char* set :
         {"fftLength=4096", "sampleRate=3", "averages=30", "averages=1", "method=2",
          "preampGainDb=-50", "phaseOffsetDeg=180", "addedMassG=0.1", "addedMassG=100",
          "boxVolumeL=200", "referenceResistorOhm=10000", "micSensitivityMvPerPa=0.05",
          "markerPos[0]=0", "levelCount=99", "distanceMm=5000", "dbsplSpeakerImpedanceOhm=1"}) {
        const Result r = run(std::string("new s.cfg --set '") + set + "'");
        EXPECT_EQ(r.status, 0) << set << ": " << r.err;
    }
    // analyze checks its --set values before it loads anything.
    ASSERT_EQ(run("new a.mes").status, 0);
    const Result r = run("analyze response a.mes b.mes --set fftLength=1000");
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(fs::exists(path("b.mes")));
}

TEST_F(ToolLimitsTest, ALongLevelSeriesShowsProgressAndStopsOnCtrlCSavingNothing)
{
    const pid_t pid = start({"measure", "level", "--passes", "100000", "--out", "l.mes"});
    ASSERT_GT(pid, 0);
    // Wait for the first progress line (a busy machine may take a while to start the run).
    bool progress = false;
    for (int i = 0; i < 1200 && !progress; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        progress = contains(text(".stderr-bg"), "Durchgang");
    }
    ::kill(pid, SIGINT);
    const int status = finish(pid);
    ASSERT_TRUE(progress) << text(".stderr-bg");
    EXPECT_EQ(status, 128 + SIGINT);
    EXPECT_TRUE(contains(text(".stderr-bg"), "abgebrochen")) << text(".stderr-bg");
    EXPECT_TRUE(contains(text(".stderr-bg"), "von 100000")) << text(".stderr-bg");
    EXPECT_TRUE(names().empty()) << "no file and no temporary file";
}

TEST_F(ToolLimitsTest, PicturesAndEveryReaderAreBounded)
{
    ASSERT_EQ(run("new a.mes").status, 0);
    // Pictures: at most 8192 pixels a side; beyond is a usage error and writes nothing.
    for (const char* size : {"8193x100", "100x16000", "16000x16000", "15x100", "100x"}) {
        const Result r = run(std::string("render 2 a.mes big.svg --size ") + size);
        EXPECT_EQ(r.status, 2) << size;
        EXPECT_TRUE(contains(r.err, "16 bis 8192")) << size << ": " << r.err;
    }
    EXPECT_FALSE(fs::exists(path("big.svg")));
    EXPECT_EQ(run("render 2 a.mes wide.svg --size 8192x16").status, 0);

    // Every reader looks at no more than its bound of a file far beyond it (1 GiB, sparse):
    // measurement, configuration and old measurement files have one length, a microphone
    // file is read to 64 KiB, an FRD or ZMA file to 16 MiB.
    for (const char* name : {"huge.mes", "huge.cfg", "huge.mic", "huge.frd", "huge.zma"}) {
        {
            std::ofstream(path(name)) << "20 80 0\n";
        }
        fs::resize_file(path(name), std::uintmax_t(1) << 30);
    }
    struct Case {
        const char* args;
        const char* says;
    };
    for (const Case c :
         {Case{"info huge.mes", "Messdatei"}, Case{"info huge.cfg", "Konfiguraitonsdatei"},
          Case{"import 1.33 huge.mes c.mes", "1073741824 Bytes statt 263012"},
          Case{"import 2.1 huge.mes c.mes", "1073741824 Bytes statt 345048"},
          Case{"import frd huge.frd c.mes", "zu groß"},
          Case{"import zma huge.zma c.mes", "zu groß"}}) {
        const Result r = run(c.args);
        EXPECT_EQ(r.status, 1) << c.args << ": " << r.err;
        EXPECT_TRUE(contains(r.err, c.says)) << c.args << ": " << r.err;
    }
    EXPECT_FALSE(fs::exists(path("c.mes")));
    // The microphone file's rows up to 64 KiB are taken, and the summary says it was cut.
    const Result r = run("mic huge.mic c.cfg");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "nach 65536 Bytes abgeschnitten")) << r.out;
}

TEST_F(ToolLimitsTest, TheToolsOwnMessagesAreGermanAndEmptyNamesAreUsageErrors)
{
    ASSERT_EQ(run("measure response --out full.mes").status, 0);
    Result r = run("export frd full.mes \"\"");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "Argument 3 ist leer")) << r.err;
    r = run("resave \"\" x.mes");
    EXPECT_EQ(r.status, 2);

    // Usage errors in German, each naming what is wrong.
    struct Case {
        const char* args;
        const char* says;
    };
    for (const Case c : {Case{"frobnicate", "unbekannter Befehl „frobnicate“"},
                         Case{"export bogus full.mes y.txt", "unbekannte ART „bogus“"},
                         Case{"render 10 full.mes v.svg", "ANSICHT muss 0 bis 9 oder 11 sein"},
                         Case{"new y.mes --bogus 1", "unbekannte Option --bogus"},
                         Case{"measure nosuchrun --out m.mes", "unbekannte Messung „nosuchrun“"},
                         Case{"measure response --out m.mes --sim-noise 5", "außerhalb"},
                         Case{"new y.mes --config", "braucht einen Wert"},
                         Case{"measure response --config \"\" --out m.mes",
                              "Option --config ist leer"},
                         Case{"measure response --out=", "Option --out ist leer"},
                         Case{"info --in \"\" full.mes", "Option --in ist leer"}}) {
        r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_TRUE(contains(r.err, c.says)) << c.args << ": " << r.err;
    }
    // A failed save says why: a folder that is not there, a name that is too long.
    r = run("export frd full.mes nofolder/x.frd");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "„nofolder/x.frd“ (die Datei oder der Ordner existiert nicht)"))
        << r.err;
    r = run("export frd full.mes " + std::string(300, 'n') + ".frd");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "der Name ist zu lang")) << r.err;
    EXPECT_FALSE(contains(r.err, "cannot")) << r.err;
}

TEST_F(ToolLimitsTest, TheToolLoadsNoQtAndStillWritesPngAndPdf)
{
    // Text commands start without the GUI libraries and without the sound card's (those are
    // loaded when a sound card is first used); PNG and PDF come from the image helper beside
    // the program. (Its speed is measured outside the tests.)
    const std::string lddCommand =
        std::string("ldd '") + ORVO_TOOL_PATH + "' > '" + path("libs.txt") + "' 2>/dev/null";
    if (std::system(lddCommand.c_str()) != 0)
        GTEST_SKIP() << "no ldd here";
    const std::string libs = text("libs.txt");
    ASSERT_TRUE(contains(libs, "libc.so")) << libs;
    EXPECT_FALSE(contains(libs, "libQt6")) << libs;
    for (const char* sound : {"libportaudio", "libpulse", "libasound", "libjack"})
        EXPECT_FALSE(contains(libs, sound)) << libs;
    ASSERT_EQ(run("new a.mes").status, 0);
    Result r = run("render 2 a.mes v.png --size 300x200");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string png = text("v.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    // Width and height in the header, big-endian.
    auto be32 = [&](std::size_t o) {
        return (unsigned(static_cast<unsigned char>(png[o])) << 24) |
               (unsigned(static_cast<unsigned char>(png[o + 1])) << 16) |
               (unsigned(static_cast<unsigned char>(png[o + 2])) << 8) |
               unsigned(static_cast<unsigned char>(png[o + 3]));
    };
    EXPECT_EQ(be32(16), 300u);
    EXPECT_EQ(be32(20), 200u);
    r = run("render 3 a.mes v.pdf --set fftLength=1024");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(text("v.pdf").substr(0, 5), "%PDF-");
    // The helper checks as orvo-tool does.
    r = run("render 2 a.mes w.png --set fftLength=1000");
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(fs::exists(path("w.png")));
}
