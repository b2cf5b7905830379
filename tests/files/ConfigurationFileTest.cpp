// Configuration file: layout at the documented offsets, round trips, messages, registry.
#include "tests/files/FilesTestSupport.h"

#include "files/ConfigurationFile.h"
#include "files/Import.h"
#include "files/MicFile.h"

#include "core/Display.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Startup.h"
#include "core/Store.h"

using namespace filestest;

namespace {

constexpr std::size_t kSize = 148068;
constexpr std::uint32_t scaleRef(int k) { return 4481136u + 308u * static_cast<std::uint32_t>(k); }

Image foreignConfigurationImage()
{
    Image b(kSize, 0);
    // Settings and display fields in file order, each a distinct value.
    const std::pair<std::size_t, int> ints[] = {
        {0, 3},     {4, 2},     {8, 4},     {12, 17},   {16, 1234}, {20, 9876}, {24, 1},
        {28, 1},    {32, 3},    {40, 2048}, {44, 3},    {48, 1},    {52, 4321}, {56, 0},
        {60, 3},    {72, 1},    {388, 0},   {392, 11},  {396, 12},  {400, 13},  {404, 14},
        {408, 15},  {412, 1},   {416, 1},   {420, 0},   {424, 2},   {444, 42},  {448, 2},
        {452, 4},   {456, 3},   {460, 3},   {464, -5},  {468, 7000}, {472, 8000}, {476, 333},
        {568, 40},  {572, 1},   {576, 1},   {580, 3},   {584, 2},
    };
    for (const auto& [o, v] : ints)
        leInt(b, o, v);
    const std::pair<std::size_t, float> floats[] = {
        {36, 4.5f}, {64, 8.25f}, {68, -12.0f}, {76, 45.0f},
        {428, 12.5f}, {432, 210.0f}, {436, 12.25f}, {440, 33.5f},
    };
    for (const auto& [o, v] : floats)
        leFloat(b, o, v);
    for (int f = 0; f < 7; ++f) {
        const std::string name = "Familie " + std::to_string(f);
        std::memcpy(&b[80 + 44 * f], name.data(), name.size());
        b[80 + 44 * f + 31] = 'n'; // junk after the name's zero
        le32(b, 80 + 44 * f + 32, scaleRef(10 * f + 1));
        le32(b, 80 + 44 * f + 36, scaleRef(10 * f + 2));
        le32(b, 80 + 44 * f + 40, scaleRef(10 * f + 3));
    }
    le32(b, 80 + 44 * 6 + 40, scaleRef(5) + 7); // off the table's grid
    for (int c = 0; c < 22; ++c)
        le32(b, 480 + 4 * c, 0x00010203u * static_cast<std::uint32_t>(c + 1));
    // Reference groups 3.2, 6.4, 51.2 kHz; microphone tables in the same order.
    for (int g = 0; g < 3; ++g) {
        const std::size_t o = 588 + 32768 * static_cast<std::size_t>(g);
        for (int i = 0; i < 2048; ++i) {
            leFloat(b, o + 4 * i, 1000.0f * (g + 1) + i);
            leFloat(b, o + 8192 + 4 * i, -1000.0f * (g + 1) - i);
        }
        for (std::size_t i = 0; i < 16384; ++i)
            b[o + 16384 + i] = static_cast<unsigned char>(i * 5 + g);
        for (int i = 0; i < 2049; ++i) {
            leFloat(b, 98892 + 8196 * (2 * g) + 4 * i, 0.5f * i + 100.0f * g);
            leFloat(b, 98892 + 8196 * (2 * g + 1) + 4 * i, -0.5f * i - 100.0f * g);
        }
    }
    return b;
}

} // namespace

TEST_F(FilesTest, ForeignConfigurationFileIsReadAtTheDocumentedOffsetsAndResavedByteForByte)
{
    core::MemorySettingsStore registry;
    core::setSettingsStore(&registry);
    const Image original = foreignConfigurationImage();
    writeFile(path("foreign.cfg"), original);
    ASSERT_EQ(files::readConfigurationFile(path("foreign.cfg")), files::FileStatus::Loaded);
    EXPECT_TRUE(ui.messages().empty());
    EXPECT_EQ(registry.value("LPT_PORT"), std::optional<std::string>("3"));
    core::setSettingsStore(nullptr);

    const core::MeasurementSettings& s = core::settings();
    EXPECT_EQ(s.parallelPort, 3);
    EXPECT_EQ(s.window, 2);
    EXPECT_EQ(s.smoothing, 4);
    EXPECT_EQ(s.averages, 17);
    EXPECT_EQ(s.markerPos, (std::array<int, 2>{1234, 9876}));
    EXPECT_EQ(s.markerDragging, (std::array<int, 2>{1, 1}));
    EXPECT_EQ(s.sampleRate, 3);
    EXPECT_EQ(s.dbsplSpeakerImpedanceOhm, 4.5f);
    EXPECT_EQ(s.fftLength, 2048);
    EXPECT_EQ(s.measuringInput, 3);
    EXPECT_EQ(s.referenceInput, 1);
    EXPECT_EQ(s.distanceMm, 4321);
    EXPECT_EQ(s.dbsplRealDistance, 0);
    EXPECT_EQ(s.phaseMode, 3);
    EXPECT_EQ(s.referenceResistorOhm, 8.25f);
    EXPECT_EQ(s.preampGainDb, -12.0f);
    EXPECT_EQ(s.referenceComputation, 1);
    EXPECT_EQ(s.phaseOffsetDeg, 45.0f);
    EXPECT_EQ(s.stepResponse, 1);
    EXPECT_EQ(s.micCorrection, 1);
    EXPECT_EQ(s.micPhase0Deg, 0);
    EXPECT_EQ(s.method, 2);
    EXPECT_EQ(s.addedMassG, 12.5f);
    EXPECT_EQ(s.diaphragmDiameterMm, 210.0f);
    EXPECT_EQ(s.micSensitivityMvPerPa, 12.25f);
    EXPECT_EQ(s.boxVolumeL, 33.5f);
    EXPECT_EQ(s.levelCount, 42);
    EXPECT_EQ(s.levelCalculation, 2);
    EXPECT_EQ(s.levelWindow, 4);
    EXPECT_EQ(s.levelWeighting, 3);
    EXPECT_EQ(s.levelMethod, 3);
    EXPECT_EQ(s.levelCountLimited, 1);
    EXPECT_EQ(s.sumMode, 1);
    EXPECT_EQ(s.levelAveraging, 3);

    const core::DisplaySettings& d = core::displaySettings();
    EXPECT_EQ(d.showPhase, 0);
    EXPECT_EQ(d.showAmplitude, 11);
    EXPECT_EQ(d.showImpedancePhase, 12);
    EXPECT_EQ(d.showImpedance, 13);
    EXPECT_EQ(d.showStepResponse, 14);
    EXPECT_EQ(d.showTimeSignal, 15);
    EXPECT_EQ(d.observer, (std::array<int, 3>{-5, 7000, 8000}));
    EXPECT_EQ(d.projectionPlaneZ, 333);
    EXPECT_EQ(d.colors[0], 0x00010203u);
    EXPECT_EQ(d.colors[21], 0x00010203u * 22);
    EXPECT_EQ(d.lineWidth, 40);
    EXPECT_EQ(d.levelDisplayMode, 2);
    EXPECT_STREQ(d.axisSets[4].name.data(), "Familie 4");
    EXPECT_EQ(d.axisSets[4].x, 41);
    EXPECT_EQ(d.axisSets[4].y, 42);
    EXPECT_EQ(d.axisSets[4].z, 43);
    EXPECT_EQ(d.axisSets[0].x, 1);

    const core::MeasurementStore& st = core::store();
    const int t32 = core::rateTableIndex(3), t64 = core::rateTableIndex(1), t512 = core::rateTableIndex(2);
    EXPECT_EQ(st.referencePhase[t32][5], 1005.0f);
    EXPECT_EQ(st.referenceAmplitude[t32][2047], -3047.0f);
    EXPECT_EQ(st.referencePhase[t64][0], 2000.0f);
    EXPECT_EQ(st.referenceAmplitude[t512][1], -3001.0f);
    EXPECT_EQ(st.micCorrectionAmplitude[t32][2048], 1024.0f);
    EXPECT_EQ(st.micCorrectionPhase[t64][2], -101.0f);
    EXPECT_EQ(st.micCorrectionAmplitude[t512][4], 202.0f);
    EXPECT_EQ(st.micCorrectionPhase[t512][2048], -1224.0f);

    ASSERT_EQ(files::writeConfigurationFile(path("again.cfg")), files::WriteStatus::Written);
    EXPECT_EQ(readFile(path("again.cfg")), original);

    // A changed scale choice is written with the table's encoding.
    core::displaySettings().axisSets[6].z = 33;
    ASSERT_EQ(files::writeConfigurationFile(path("changed.cfg")), files::WriteStatus::Written);
    EXPECT_EQ(rd32(readFile(path("changed.cfg")), 80 + 44 * 6 + 40), scaleRef(33));
}

TEST_F(FilesTest, ConfigurationAfterStartUpHoldsTheDefaults)
{
    core::prepareRecordsForStart();
    ASSERT_EQ(files::writeConfigurationFile(path("new.cfg")), files::WriteStatus::Written);
    const Image b = readFile(path("new.cfg"));
    ASSERT_EQ(b.size(), kSize);
    EXPECT_EQ(rdInt(b, 0), 1);
    EXPECT_EQ(rdInt(b, 20), 10000);
    EXPECT_EQ(rdFloat(b, 36), 8.0f);
    EXPECT_EQ(rdInt(b, 40), 512);
    EXPECT_EQ(rdFloat(b, 64), 22.0f);
    EXPECT_EQ(rdInt(b, 424), 1); // method after start-up
    EXPECT_EQ(rdInt(b, 460), 2);
    EXPECT_EQ(rdInt(b, 580), 2);
    EXPECT_EQ(rdInt(b, 584), 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[80 + 44 * 6])), "Waserfall (CSD)");
    const int defaults[7][3] = {{0, 57, 0}, {11, 27, 0}, {11, 19, 0}, {10, 17, 0},
                                {10, 19, 0}, {29, 27, 0}, {31, 56, 33}};
    for (int f = 0; f < 7; ++f)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(rd32(b, 80 + 44 * f + 32 + 4 * c), scaleRef(defaults[f][c])) << f << c;
    EXPECT_EQ(rd32(b, 480 + 4), 0x00C0C0C0u); // background colour
    for (std::size_t i = 588; i < kSize; ++i)
        ASSERT_EQ(b[i], 0) << i;
}

TEST_F(FilesTest, ConfigurationWrongLengthAndFailures)
{
    for (std::size_t length : {148067u, 148069u, 331448u}) {
        ui.clear();
        writeFile(path("x.cfg"), Image(length, 0));
        core::settings().averages = 5;
        ui.queuePath(path("x.cfg"));
        EXPECT_EQ(files::loadConfigurationFile(), 0);
        EXPECT_EQ(messageLog(), (std::vector<std::string>{
                                    "eventuell alte (ORVO<2.3) Konfiguraitonsdatei|"
                                    "Fehler Konfigurationsdatei "}));
        EXPECT_EQ(ui.messages()[0].icon, core::Icon::Error);
        EXPECT_EQ(core::settings().averages, 5);
    }
    ui.clear();
    EXPECT_EQ(files::loadConfigurationFile(), 1); // cancelled
    EXPECT_EQ(ui.fileRequests()[0].title, "Konfigurationsdatei laden");
    EXPECT_EQ(ui.fileRequests()[0].filter, "(*.cfg)");
    ui.queuePath(path("missing.cfg"));
    EXPECT_EQ(files::loadConfigurationFile(), 0); // the shell adds its own message
    EXPECT_EQ(messageLog(), (std::vector<std::string>{"„" + path("missing.cfg") +
                                                      "“ (die Datei existiert nicht)|Fehler beim "
                                                      "Öffnen der Datei"}));
}

TEST_F(FilesTest, ConfigurationSaveStepsAndFailedWrite)
{
    EXPECT_EQ(files::saveConfigurationFile(), 0);
    EXPECT_EQ(ui.fileRequests()[0].title, "Konfigurationsdatei speichern unter..");

    const Image earlier = foreignConfigurationImage();
    writeFile(path("keep.cfg"), earlier);
    ui.queuePath(path("keep.cfg"));
    ui.queueAnswer(core::Answer::No);
    EXPECT_EQ(files::saveConfigurationFile(), 1);
    EXPECT_EQ(messageLog(), (std::vector<std::string>{
                                "Wollen Sie die bestehende Datei überschreiben?|Warnung"}));

    ui.clear();
    files::simulateShortWrite(0);
    ui.queuePath(path("keep.cfg"));
    ui.queueAnswer(core::Answer::Yes);
    EXPECT_EQ(files::saveConfigurationFile(), 0);
    EXPECT_EQ(messageLog(), (std::vector<std::string>{
                                "Wollen Sie die bestehende Datei überschreiben?|Warnung",
                                "„" + path("keep.cfg") +
                                    "“ (der Datenträger ist voll)|Fehler beim speichern der Datei"}));
    EXPECT_EQ(readFile(path("keep.cfg")), earlier);
}

// Every message of the file operations with its icon and buttons: failures with the error
// icon and an OK button, questions with the question icon and Yes/No.
TEST_F(FilesTest, FileMessagesCarryTheirIconsAndButtons)
{
    struct Want {
        std::string textAndCaption;
        core::Icon icon;
        core::Buttons buttons;
    };
    auto expectLog = [&](const std::vector<Want>& want, const char* what) {
        const auto got = ui.messages();
        ASSERT_EQ(got.size(), want.size()) << what;
        for (std::size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].text + "|" + got[i].caption, want[i].textAndCaption) << what;
            EXPECT_EQ(got[i].icon, want[i].icon) << what << " " << i;
            EXPECT_EQ(got[i].buttons, want[i].buttons) << what << " " << i;
        }
        ui.clear();
    };
    using core::Buttons;
    using core::Icon;

    EXPECT_EQ(files::readMeasurementFile(path("none.mes")), files::FileStatus::CannotOpen);
    files::showReadFailure();
    const std::string missing = "„" + path("none.mes") + "“ (die Datei existiert nicht)";
    expectLog({{missing + "|Fehler beim Öffnen der Datei", Icon::Error, Buttons::Ok},
               {"Fehler beim lesen der Datei|", Icon::Error, Buttons::Ok}},
              "measurement file missing");

    writeFile(path("short.mes"), Image(100, 0));
    EXPECT_EQ(files::importVersion21File(path("short.mes")), files::FileStatus::ReadError);
    EXPECT_EQ(files::importVersion133File(path("none.mes")), files::FileStatus::CannotOpen);
    expectLog({{"„" + path("short.mes") + "“ (die Datei hat 100 Bytes statt 345048)|Fehler beim "
                "Lesen der Datei",
                Icon::Error, Buttons::Ok},
               {missing + "|Fehler beim Öffnen der Datei", Icon::Error, Buttons::Ok}},
              "imports");

    EXPECT_EQ(files::readMicFile(path("none.mic"), true), files::MicStatus::CannotOpen);
    expectLog({{"Fehler Mikrofondaten Datei nicht vorhanden|", Icon::Error, Buttons::Ok}},
              "microphone file missing");

    writeFile(path("c.cfg"), Image{1});
    ui.queuePath(path("c.cfg"));
    ui.queueAnswer(core::Answer::Yes);
    files::simulateShortWrite(10);
    EXPECT_EQ(files::saveConfigurationFile(), 0);
    writeFile(path("m.mes"), Image{1});
    ui.queuePath(path("m.mes"));
    ui.queueAnswer(core::Answer::Yes);
    EXPECT_EQ(files::saveMeasurementFile(), 0);
    files::simulateShortWrite(-1);
    expectLog({{"Wollen Sie die bestehende Datei überschreiben?|Warnung", Icon::Question,
                Buttons::YesNo},
               {"„" + path("c.cfg") + "“ (der Datenträger ist voll)|Fehler beim speichern der Datei",
                Icon::Error, Buttons::Ok},
               {"Wollen Sie die bestehende Datei überschreiben?|", Icon::Question, Buttons::YesNo},
               {"„" + path("m.mes") + "“ (der Datenträger ist voll)|Fehler beim Speichern der Datei",
                Icon::Error, Buttons::Ok}},
              "saves");
}
