// Measurement file: layout at the documented offsets, round trips, the loader's messages
// and the safe save.
#include "tests/files/FilesTestSupport.h"

#include "files/MeasurementFile.h"

#include "core/Display.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/Store.h"
#include "core/Strings.h"

#include <cmath>
#include <filesystem>
#include <limits>

#include <unistd.h>

using namespace filestest;

namespace
{

constexpr std::size_t kSize = 331448;

// A measurement file as another program would write it: a distinct value in every field,
// junk in the unused stretches and after the texts' terminating zeros.
Image foreignMeasurementImage()
{
    Image b(kSize, 0);
    leInt(b, 0, 1111);
    leInt(b, 4, 8888);
    leInt(b, 8, 7);
    leInt(b, 12, 3);
    leInt(b, 16, 2345);
    for (int i = 0; i < 4096; ++i) {
        leFloat(b, 20 + 4 * i, 1000.0f + i);
        leFloat(b, 16412 + 4 * i, -2000.0f - i);
    }
    leFloat(b, 20 + 4 * 4096, 4096.0f);
    leFloat(b, 20 + 4 * 4097, 2.0f);
    leFloat(b, 16412 + 4 * 4096, 2048.0f);
    leFloat(b, 16412 + 4 * 4097, 3.0f);
    const float slotN[5] = {512, 1024, 2048, 4096, 512};
    for (int k = 0; k < 5; ++k) {
        for (int i = 0; i < 2048; ++i) {
            leFloat(b, 32804 + 8200 * k + 4 * i, 10000.0f * k + 0.25f * i);
            leFloat(b, 73804 + 8200 * k + 4 * i, -10000.0f * k - 0.5f * i);
        }
        for (std::size_t base : {32804u, 73804u}) {
            leFloat(b, base + 8200 * k + 8192, slotN[k]);
            leFloat(b, base + 8200 * k + 8196, static_cast<float>(1 + k % 3));
        }
    }
    const int occupied[5] = {1, 0, 1, 0, 1};
    for (int k = 0; k < 5; ++k)
        leInt(b, 114804 + 4 * k, occupied[k]);
    leInt(b, 114824, 42);
    leInt(b, 114828, 77);
    leInt(b, 114832, 78);
    for (int i = 0; i < 2048; ++i) {
        leFloat(b, 114836 + 4 * i, 3000.0f + 0.125f * i);
        leFloat(b, 123036 + 4 * i, 4.0f + i);
    }
    leFloat(b, 114836 + 8192, 1024.0f);
    leFloat(b, 114836 + 8196, 2.0f);
    leFloat(b, 123036 + 8192, 4096.0f);
    leFloat(b, 123036 + 8196, 3.0f);
    for (int i = 0; i < 28; ++i) {
        leFloat(b, 131236 + 4 * i, 10.0f + i);
        leFloat(b, 131348 + 4 * i, 50.0f + i);
        leFloat(b, 131460 + 4 * i, 20.0f + i);
        leFloat(b, 131572 + 4 * i, 60.0f + i);
    }
    for (int i = 0; i < 16384; ++i) {
        leFloat(b, 131684 + 4 * i, 1.5f * i);
        leFloat(b, 197224 + 4 * i, -0.01f * i);
        leFloat(b, 262764 + 4 * i, 1e-4f * i);
    }
    leFloat(b, 131684 + 65536, 100000.0f);
    leFloat(b, 197224 + 65536, 93.5f);
    leFloat(b, 262764 + 65536, 100000.0f);
    leInt(b, 328304, 4);
    leFloat(b, 328308, 8.2f);
    for (int k = 0; k < 4; ++k)
        leInt(b, 328312 + 4 * k, 91 + k);
    b[328328] = 0x5A;
    for (std::size_t i = 328329; i < 328429; ++i)
        b[i] = static_cast<unsigned char>(i * 7 + 3);
    for (int t = 0; t < 7; ++t) {
        const std::string text =
            core::utf8ToCp1252("Text " + std::to_string(t) + " \xC3\xBC\xC2\xB2");
        std::memcpy(&b[328429 + 100 * t], text.data(), text.size());
        b[328429 + 100 * t + 98] = 'j'; // junk after the terminating zero
    }
    for (int i = 0; i < 100; ++i)
        b[328429 + 700 + i] = 'x'; // user text 7 without a terminating zero
    for (std::size_t i = 329229; i < 329424; ++i)
        b[i] = static_cast<unsigned char>(i * 13 + 1);
    const char ts[] = "Fs = 45.3 Hz\r\nQts = 0.35\r\n";
    std::memcpy(&b[329424], ts, sizeof ts);
    b[kSize - 1] = 'z';
    return b;
}

} // namespace

TEST_F(FilesTest, ForeignMeasurementFileIsReadAtTheDocumentedOffsetsAndResavedByteForByte)
{
    const Image original = foreignMeasurementImage();
    writeFile(path("foreign.mes"), original);
    ASSERT_EQ(files::readMeasurementFile(path("foreign.mes")), files::FileStatus::Loaded);
    EXPECT_TRUE(ui.messages().empty());

    const core::AcquisitionSnapshot& sn = core::snapshot();
    EXPECT_EQ(sn.markerPos[0], 1111);
    EXPECT_EQ(sn.markerPos[1], 8888);
    EXPECT_EQ(sn.averages, 7);
    EXPECT_EQ(sn.smoothing, 3);
    EXPECT_EQ(sn.distanceMm, 2345);
    EXPECT_EQ(sn.window, 4);
    EXPECT_FLOAT_EQ(sn.referenceResistorOhm, 8.2f);
    // The live settings change only when the shell restores the snapshot.
    EXPECT_EQ(core::settings().averages, 1);

    const core::MeasurementStore& st = core::store();
    EXPECT_EQ(st.timeRecord[0], 1000.0f);
    EXPECT_EQ(st.timeRecord[4095], 5095.0f);
    EXPECT_EQ(st.timeRecord.trailerN(), 4096.0f);
    EXPECT_EQ(st.timeRecord.trailerRate(), 2.0f);
    EXPECT_EQ(st.stepResponseCurve[17], -2017.0f);
    EXPECT_EQ(st.stepResponseCurve.trailerN(), 2048.0f);
    EXPECT_EQ(st.stepResponseCurve.trailerRate(), 3.0f);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(st.phaseSlots[k][2047], 10000.0f * k + 0.25f * 2047) << k;
        EXPECT_EQ(st.amplitudeSlots[k][1], -10000.0f * k - 0.5f) << k;
        EXPECT_EQ(st.amplitudeSlots[k].trailerRate(), static_cast<float>(1 + k % 3)) << k;
    }
    EXPECT_EQ(st.phaseSlots[3].trailerN(), 4096.0f);
    EXPECT_EQ(st.slotOccupied, (std::array<int, 5>{1, 0, 1, 0, 1}));
    EXPECT_EQ(st.overlayAxisIndex, 42);
    EXPECT_EQ(st.overlayReserved, (std::array<int, 2>{77, 78}));
    EXPECT_EQ(st.impedancePhase[8], 3001.0f);
    EXPECT_EQ(st.impedancePhase.trailerN(), 1024.0f);
    EXPECT_EQ(st.impedanceMagnitude[2047], 2051.0f);
    EXPECT_EQ(st.impedanceMagnitude.trailerRate(), 3.0f);
    EXPECT_EQ(st.levelBandFrequency[27], 37.0f);
    EXPECT_EQ(st.levelMeanPeak[0], 50.0f);
    EXPECT_EQ(st.levelBandFrequencyView[1], 21.0f);
    EXPECT_EQ(st.levelCurrent[27], 87.0f);
    EXPECT_EQ(st.csdFrequency[16383], 1.5f * 16383);
    EXPECT_EQ(st.csdFrequency[16384], 100000.0f);
    EXPECT_EQ(st.csdLevel[16384], 93.5f);
    EXPECT_EQ(st.csdTime[2], 2e-4f);
    EXPECT_EQ(st.importReserved, (std::array<int, 4>{91, 92, 93, 94}));
    EXPECT_EQ(st.importReservedByte, 0x5A);

    const core::DisplaySettings& d = core::displaySettings();
    EXPECT_EQ(core::cp1252ToUtf8(d.userText[2].data(), 100), "Text 2 \xC3\xBC\xC2\xB2");
    // A text without its terminating zero is cut inside the record, never read past.
    EXPECT_EQ(d.userText[7][99], '\0');
    EXPECT_EQ(std::string(d.userText[7].data()), std::string(99, 'x'));
    EXPECT_STREQ(st.tsResultText.data(), "Fs = 45.3 Hz\r\nQts = 0.35\r\n");
    EXPECT_EQ(st.tsResultText[2023], '\0');

    ASSERT_EQ(files::writeMeasurementFile(path("again.mes")), files::WriteStatus::Written);
    EXPECT_EQ(readFile(path("again.mes")), original);
}

TEST_F(FilesTest, MeasurementFileAfterStartUpHoldsTheStartValues)
{
    core::prepareRecordsForStart();
    ASSERT_EQ(files::writeMeasurementFile(path("new.mes")), files::WriteStatus::Written);
    const Image b = readFile(path("new.mes"));
    ASSERT_EQ(b.size(), kSize);
    EXPECT_EQ(rdInt(b, 0), 0);
    EXPECT_EQ(rdInt(b, 4), 10000);
    EXPECT_EQ(rdInt(b, 8), 1);
    EXPECT_EQ(rdInt(b, 16), 1000);
    EXPECT_EQ(rdInt(b, 114824), -1);
    EXPECT_EQ(rdInt(b, 114828), -1);
    EXPECT_EQ(rdInt(b, 114832), -1);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(rdInt(b, 114804 + 4 * k), 0);
        EXPECT_EQ(rdFloat(b, 32804 + 8200 * k + 8192), 512.0f);
        EXPECT_EQ(rdFloat(b, 73804 + 8200 * k + 8196), 1.0f);
    }
    EXPECT_EQ(rdFloat(b, 123036 + 8192), 512.0f);
    EXPECT_EQ(rdInt(b, 328304), 1);
    EXPECT_EQ(rdFloat(b, 328308), 22.0f);

    // Loading it back and saving again changes nothing.
    core::resetStore();
    ASSERT_EQ(files::readMeasurementFile(path("new.mes")), files::FileStatus::Loaded);
    ASSERT_EQ(files::writeMeasurementFile(path("again.mes")), files::WriteStatus::Written);
    EXPECT_EQ(readFile(path("again.mes")), b);
}

TEST_F(FilesTest, Windows1252TextsRoundTrip)
{
    const std::string text = "Gehäuse 2 m\xC2\xB2 \xC3\xBC";
    const std::string stored = core::utf8ToCp1252(text);
    std::memcpy(core::displaySettings().userText[1].data(), stored.data(), stored.size());
    ASSERT_EQ(files::writeMeasurementFile(path("t.mes")), files::WriteStatus::Written);
    const Image b = readFile(path("t.mes"));
    const std::size_t o = 328429 + 100;
    EXPECT_EQ(b[o + 3], 0xE4);  // ä
    EXPECT_EQ(b[o + 11], 0xB2); // ²
    EXPECT_EQ(b[o + 13], 0xFC); // ü
    core::resetDisplaySettings();
    ASSERT_EQ(files::readMeasurementFile(path("t.mes")), files::FileStatus::Loaded);
    EXPECT_EQ(core::cp1252ToUtf8(core::displaySettings().userText[1].data(), 100), text);
}

class MeasurementWrongLength : public FilesTest, public ::testing::WithParamInterface<std::size_t>
{
};

TEST_P(MeasurementWrongLength, IsRefusedWithTheVersionMessageAndNothingChanges)
{
    writeFile(path("x.mes"), Image(GetParam(), 0));
    core::store().timeRecord[5] = 1.25f;
    core::snapshot().averages = 9;
    ui.queuePath(path("x.mes"));
    EXPECT_EQ(files::loadMeasurementFile(), files::LoadOutcome::Failed);
    files::showReadFailure(); // what the shell adds after a failure
    EXPECT_EQ(messageLog(), (std::vector<std::string>{
                                "evt. Messdatei von anderer ORVO Version |Fehler Messdaten Datei",
                                "Fehler beim lesen der Datei|"}));
    for (const auto& m : ui.messages())
        EXPECT_EQ(m.icon, core::Icon::Error);
    EXPECT_EQ(core::store().timeRecord[5], 1.25f);
    EXPECT_EQ(core::snapshot().averages, 9);
}

INSTANTIATE_TEST_SUITE_P(Lengths, MeasurementWrongLength,
                         ::testing::Values(331447u, 331449u, 263012u, 345048u, 0u));

TEST_F(FilesTest, MeasurementLoadDialogCancelAndMissingFile)
{
    core::installFolder = dir;
    EXPECT_EQ(files::loadMeasurementFile(), files::LoadOutcome::Cancelled);
    EXPECT_TRUE(ui.messages().empty());
    ASSERT_EQ(ui.fileRequests().size(), 1u);
    const core::FileDialogRequest r = ui.fileRequests()[0];
    EXPECT_FALSE(r.save);
    EXPECT_EQ(r.title, "Messdatei laden");
    EXPECT_EQ(r.filter, "(*.mes)");
    EXPECT_EQ(r.pattern, "*.mes");
    EXPECT_EQ(r.initialFolder, dir);
    EXPECT_FALSE(r.createPrompt);

    ui.queuePath(path("missing.mes"));
    EXPECT_EQ(files::loadMeasurementFile(), files::LoadOutcome::Failed);
    EXPECT_EQ(messageLog(), (std::vector<std::string>{"„" + path("missing.mes") +
                                                      "“ (die Datei existiert nicht)|Fehler beim "
                                                      "Öffnen der Datei"}));
}

TEST_F(FilesTest, MeasurementSaveDialogSteps)
{
    EXPECT_EQ(files::saveMeasurementFile(), 0); // cancelled
    ASSERT_EQ(ui.fileRequests().size(), 1u);
    EXPECT_TRUE(ui.fileRequests()[0].save);
    EXPECT_TRUE(ui.fileRequests()[0].createPrompt);
    EXPECT_EQ(ui.fileRequests()[0].title, "Messdaten speichern unter..");

    ui.queuePath(path("a.mes"));
    EXPECT_EQ(files::saveMeasurementFile(), 1);
    EXPECT_TRUE(ui.messages().empty()); // a new file: no question
    EXPECT_EQ(readFile(path("a.mes")).size(), kSize);

    // Existing file, answer No: unchanged, result 1.
    writeFile(path("a.mes"), Image{1, 2, 3});
    ui.queuePath(path("a.mes"));
    ui.queueAnswer(core::Answer::No);
    EXPECT_EQ(files::saveMeasurementFile(), 1);
    EXPECT_EQ(readFile(path("a.mes")), (Image{1, 2, 3}));
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].text, "Wollen Sie die bestehende Datei überschreiben?");
    EXPECT_EQ(ui.messages()[0].caption, "");
    EXPECT_EQ(ui.messages()[0].icon, core::Icon::Question);
    EXPECT_EQ(ui.messages()[0].buttons, core::Buttons::YesNo);

    // A folder that does not exist: the file cannot be created, and the user is told so
    // (message 27, result 0) rather than left believing it was saved.
    ui.clear();
    ui.queuePath(path("nofolder/a.mes"));
    EXPECT_EQ(files::saveMeasurementFile(), 0);
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].caption, "Fehler beim Speichern der Datei");
    EXPECT_EQ(ui.messages()[0].text,
              "„" + path("nofolder/a.mes") + "“ (die Datei oder der Ordner existiert nicht)");
    EXPECT_EQ(ui.messages()[0].icon, core::Icon::Error);
    EXPECT_FALSE(std::filesystem::exists(path("nofolder")));
}

TEST_F(FilesTest, FailedMeasurementSaveLeavesTheEarlierFileIntact)
{
    const Image earlier = foreignMeasurementImage();
    writeFile(path("keep.mes"), earlier);
    files::simulateShortWrite(100000);
    ui.queuePath(path("keep.mes"));
    ui.queueAnswer(core::Answer::Yes);
    EXPECT_EQ(files::saveMeasurementFile(), 0);
    EXPECT_EQ(messageLog(),
              (std::vector<std::string>{
                  "Wollen Sie die bestehende Datei überschreiben?|",
                  "„" + path("keep.mes") +
                      "“ (der Datenträger ist voll)|Fehler beim Speichern der Datei"}));
    EXPECT_EQ(readFile(path("keep.mes")), earlier);
    // No temporary file is left behind.
    int count = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir))
        ++count;
    EXPECT_EQ(count, 1);

    // A directory in the way of the target: refused before anything is written, message 27
    // saying so, result 0.
    files::simulateShortWrite(-1);
    std::filesystem::create_directory(path("dir.mes"));
    std::filesystem::create_directory(path("dir.mes/inner"));
    ui.clear();
    ui.queuePath(path("dir.mes"));
    ui.queueAnswer(core::Answer::Yes);
    EXPECT_EQ(files::saveMeasurementFile(), 0);
    EXPECT_EQ(messageLog().back(), "„" + path("dir.mes") +
                                       "“ (das ist ein Ordner; sie wird nicht überschrieben)|"
                                       "Fehler beim Speichern der Datei");
    EXPECT_TRUE(std::filesystem::is_directory(path("dir.mes/inner")));
}

TEST_F(FilesTest, SavingOverAFileKeepsItsLinkAndPermissionsAndSparesReadOnlyFiles)
{
    namespace fs = std::filesystem;
    // Permissions of the replaced file survive the replacing write.
    writeFile(path("p.mes"), Image{1});
    fs::permissions(path("p.mes"), fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(files::writeMeasurementFile(path("p.mes")), files::WriteStatus::Written);
    EXPECT_EQ(readFile(path("p.mes")).size(), kSize);
    EXPECT_EQ(fs::status(path("p.mes")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // A symbolic link stays a link; the file it names gets the content.
    fs::create_directory(path("real"));
    writeFile(path("real/t.mes"), Image{2});
    fs::create_symlink("real/t.mes", path("link.mes"));
    ASSERT_EQ(files::writeMeasurementFile(path("link.mes")), files::WriteStatus::Written);
    EXPECT_TRUE(fs::is_symlink(path("link.mes")));
    EXPECT_EQ(readFile(path("real/t.mes")).size(), kSize);

    // A file the user may not write cannot be opened for writing: nothing is replaced, and
    // message 27 says so. (The super-user may write anything, so this part needs a normal
    // user.)
    if (::geteuid() == 0)
        return;
    writeFile(path("ro.mes"), Image{3});
    fs::permissions(path("ro.mes"), fs::perms::owner_read);
    EXPECT_EQ(files::writeMeasurementFile(path("ro.mes")), files::WriteStatus::CannotCreate);
    EXPECT_EQ(readFile(path("ro.mes")), Image{3});
    EXPECT_EQ(messageLog().back(),
              "„" + path("ro.mes") + "“ (keine Berechtigung)|Fehler beim Speichern der Datei");
}

// Random bytes of exactly the file's length still load (the layout has no checksum), but the
// settings they would bring in are defaults where the values can't be right, the user is told
// once, and the file is still saved back byte for byte.
TEST_F(FilesTest, ImpossibleSnapshotValuesAreNotTakenAndReportedOnce)
{
    Image b = foreignMeasurementImage();
    leInt(b, 0, 9000); // M1 behind M2
    leInt(b, 4, 20);
    leInt(b, 8, -7);     // averages
    leInt(b, 328304, 9); // window code
    leFloat(b, 328308, std::numeric_limits<float>::quiet_NaN());
    writeFile(path("bad.mes"), b);
    ASSERT_EQ(files::readMeasurementFile(path("bad.mes")), files::FileStatus::Loaded);
    const auto msgs = ui.messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].icon, core::Icon::Information);
    for (const char* name : {"Marker", "Mittlungen", "Fenster", "Referenzwiderstand"})
        EXPECT_NE(msgs[0].text.find(name), std::string::npos) << name << "\n" << msgs[0].text;
    EXPECT_EQ(msgs[0].text.find("Smoothing"), std::string::npos);
    EXPECT_EQ(msgs[0].text.find("Abstand"), std::string::npos);

    // What the shell does after a load: the settings take defaults for the impossible values
    // and the file's values for the others.
    core::restoreSnapshot();
    const core::MeasurementSettings& s = core::settings();
    EXPECT_EQ(s.markerPos, (std::array<int, 2>{0, 10000}));
    EXPECT_EQ(s.averages, 1);
    EXPECT_EQ(s.smoothing, 3);
    EXPECT_EQ(s.distanceMm, 2345);
    EXPECT_EQ(s.window, 1);
    EXPECT_FLOAT_EQ(s.referenceResistorOhm, 22.0f);
    // Nothing of the file is lost.
    ASSERT_EQ(files::writeMeasurementFile(path("again.mes")), files::WriteStatus::Written);
    EXPECT_TRUE(readFile(path("again.mes")) == b);

    // Infinite resistor, zero distance.
    ui.clear();
    b = foreignMeasurementImage();
    leFloat(b, 328308, std::numeric_limits<float>::infinity());
    leInt(b, 16, 0);
    writeFile(path("inf.mes"), b);
    ASSERT_EQ(files::readMeasurementFile(path("inf.mes")), files::FileStatus::Loaded);
    EXPECT_EQ(ui.messages().size(), 1u);
    core::restoreSnapshot();
    EXPECT_FLOAT_EQ(s.referenceResistorOhm, 22.0f);
    EXPECT_EQ(s.distanceMm, 1000);
    EXPECT_EQ(s.window, 4);

    // Random bytes: loaded, one notice, nothing impossible reaches the settings.
    ui.clear();
    Image noise(kSize);
    unsigned state = 4711;
    for (auto& byte : noise) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<unsigned char>(state >> 24);
    }
    writeFile(path("noise.mes"), noise);
    ASSERT_EQ(files::readMeasurementFile(path("noise.mes")), files::FileStatus::Loaded);
    EXPECT_EQ(ui.messages().size(), 1u);
    core::restoreSnapshot();
    core::AcquisitionSnapshot live;
    live.markerPos = s.markerPos;
    live.averages = s.averages;
    live.smoothing = s.smoothing;
    live.distanceMm = s.distanceMm;
    live.window = s.window;
    live.referenceResistorOhm = s.referenceResistorOhm;
    EXPECT_TRUE(core::implausibleSnapshotFields(live).empty());

    // A plausible file loads without a word.
    ui.clear();
    writeFile(path("good.mes"), foreignMeasurementImage());
    ASSERT_EQ(files::readMeasurementFile(path("good.mes")), files::FileStatus::Loaded);
    EXPECT_TRUE(ui.messages().empty());
    core::restoreSnapshot();
    EXPECT_EQ(s.window, 4);
    EXPECT_FLOAT_EQ(s.referenceResistorOhm, 8.2f);
}
