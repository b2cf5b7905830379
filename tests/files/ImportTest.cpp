// Imports of the older measurement files, built at their documented offsets.
#include "tests/files/FilesTestSupport.h"

#include "files/Import.h"

#include "core/Display.h"
#include "core/Settings.h"
#include "core/Store.h"

using namespace filestest;

namespace
{

// Writes the blocks shared by both older layouts and the later blocks at the given offsets.
struct OldOffsets {
    std::size_t size, phase, amplitude, slots, occupied, impPhase, impMagnitude, levels, csd,
        window;
};
constexpr OldOffsets k133{263012, 32804, 41004, 1, 0, 49204, 57404, 65604, 66052, 262672};
constexpr OldOffsets k21{345048, 32804, 73804, 5, 131204, 131240, 139440, 147640, 148088, 344708};

Image oldImage(const OldOffsets& o)
{
    Image b(o.size, 0);
    leInt(b, 0, 4444); // not used: markers become 0 and 10000
    leInt(b, 4, 5555);
    leInt(b, 8, 12);
    leInt(b, 12, 2);
    leInt(b, 16, 777);
    for (int i = 0; i < 4098; ++i) {
        leFloat(b, 20 + 4 * i, 0.5f * i);
        leFloat(b, 16412 + 4 * i, -0.5f * i);
    }
    for (std::size_t k = 0; k < o.slots; ++k)
        for (int i = 0; i < 2050; ++i) {
            leFloat(b, o.phase + 8200 * k + 4 * i, 100.0f * k + i);
            leFloat(b, o.amplitude + 8200 * k + 4 * i, -100.0f * k - i);
        }
    if (o.occupied)
        for (int k = 0; k < 5; ++k)
            leInt(b, o.occupied + 4 * k, k < 2 ? 1 : 0);
    for (int i = 0; i < 2050; ++i) {
        leFloat(b, o.impPhase + 4 * i, 1.0f + i);
        leFloat(b, o.impMagnitude + 4 * i, 2.0f + i);
    }
    for (int i = 0; i < 4 * 28; ++i)
        leFloat(b, o.levels + 4 * i, 300.0f + i);
    for (int i = 0; i < 3 * 16385; ++i)
        leFloat(b, o.csd + 4 * i, 0.25f * i);
    leInt(b, o.window, 3);
    leFloat(b, o.window + 4, 6.8f);
    for (int k = 0; k < 4; ++k)
        leInt(b, o.window + 8 + 4 * k, 61 + k);
    b[o.window + 24] = 0xA5;
    return b;
}

void expectImportedBlocks(const OldOffsets& o)
{
    const core::AcquisitionSnapshot& sn = core::snapshot();
    EXPECT_EQ(sn.markerPos, (std::array<int, 2>{0, 10000}));
    EXPECT_EQ(sn.averages, 12);
    EXPECT_EQ(sn.smoothing, 2);
    EXPECT_EQ(sn.distanceMm, 777);
    EXPECT_EQ(sn.window, 3);
    EXPECT_EQ(sn.referenceResistorOhm, 6.8f);
    const core::MeasurementStore& st = core::store();
    EXPECT_EQ(st.timeRecord[4097], 0.5f * 4097);
    EXPECT_EQ(st.stepResponseCurve[3], -1.5f);
    for (std::size_t k = 0; k < o.slots; ++k) {
        EXPECT_EQ(st.phaseSlots[k][2049], 100.0f * k + 2049);
        EXPECT_EQ(st.amplitudeSlots[k][7], -100.0f * k - 7);
    }
    EXPECT_EQ(st.impedancePhase[2048], 2049.0f);
    EXPECT_EQ(st.impedanceMagnitude[0], 2.0f);
    EXPECT_EQ(st.levelBandFrequency[0], 300.0f);
    EXPECT_EQ(st.levelMeanPeak[0], 328.0f);
    EXPECT_EQ(st.levelBandFrequencyView[0], 356.0f);
    EXPECT_EQ(st.levelCurrent[27], 411.0f);
    EXPECT_EQ(st.csdFrequency[0], 0.0f);
    EXPECT_EQ(st.csdLevel[16384], 0.25f * (2 * 16385 - 1));
    EXPECT_EQ(st.csdTime[16384], 0.25f * (3 * 16385 - 1));
    EXPECT_EQ(st.importReserved, (std::array<int, 4>{61, 62, 63, 64}));
    EXPECT_EQ(st.importReservedByte, 0xA5);
}

} // namespace

class ImportTest : public FilesTest
{
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        core::MeasurementStore& st = core::store();
        st.overlayAxisIndex = 5;
        st.overlayReserved = {8, 9};
        st.slotOccupied = {0, 0, 0, 1, 1};
        st.amplitudeSlots[4][0] = 55.0f;
        core::setTsResultText("T/S");
        core::displaySettings().userText[3][0] = 'U';
        core::snapshot().markerPos = {300, 400};
    }
    void expectUntouchedTexts()
    {
        EXPECT_STREQ(core::store().tsResultText.data(), "T/S");
        EXPECT_EQ(core::displaySettings().userText[3][0], 'U');
    }
};

TEST_F(ImportTest, Version133)
{
    Image b = oldImage(k133);
    for (std::size_t i = 262712; i < b.size(); ++i)
        b[i] = 0xEE; // the last 300 bytes may hold anything
    writeFile(path("old.mes"), b);
    ASSERT_EQ(files::importVersion133File(path("old.mes")), files::FileStatus::Loaded);
    EXPECT_TRUE(ui.messages().empty());
    expectImportedBlocks(k133);
    const core::MeasurementStore& st = core::store();
    EXPECT_EQ(st.slotOccupied, (std::array<int, 5>{1, 0, 0, 0, 0}));
    EXPECT_EQ(st.overlayAxisIndex, -1);
    EXPECT_EQ(st.overlayReserved, (std::array<int, 2>{-1, -1}));
    EXPECT_EQ(st.amplitudeSlots[4][0], 55.0f); // older slots are left as they were
    expectUntouchedTexts();
}

TEST_F(ImportTest, Version21)
{
    writeFile(path("old.mes"), oldImage(k21));
    ui.queuePath(path("old.mes"));
    ASSERT_EQ(files::importVersion21(), files::LoadOutcome::Loaded);
    EXPECT_EQ(ui.fileRequests()[0].title, "Messdatei (ORVO 1.1) importieren");
    EXPECT_EQ(ui.fileRequests()[0].filter, "(*.mes)");
    expectImportedBlocks(k21);
    const core::MeasurementStore& st = core::store();
    EXPECT_EQ(st.slotOccupied, (std::array<int, 5>{1, 1, 0, 0, 0}));
    EXPECT_EQ(st.overlayAxisIndex, 5);
    EXPECT_EQ(st.overlayReserved, (std::array<int, 2>{8, 9}));
    expectUntouchedTexts();
}

TEST_F(ImportTest, WrongLengthsAreRefusedAndChangeNothing)
{
    const std::pair<std::size_t, bool> cases[] = {
        {331448, true}, {331448, false}, {263011, true},  {263013, true},
        {345048, true}, {263012, false}, {345047, false}, {0, true},
    };
    for (const auto& [length, v133] : cases) {
        ui.clear();
        writeFile(path("x.mes"), Image(length, 0x11));
        ui.queuePath(path("x.mes"));
        const auto r = v133 ? files::importVersion133() : files::importVersion21();
        EXPECT_EQ(r, files::LoadOutcome::Failed) << length;
        EXPECT_EQ(messageLog(),
                  (std::vector<std::string>{"„" + path("x.mes") + "“ (die Datei hat " +
                                            std::to_string(length) + " Bytes statt " +
                                            (v133 ? "263012" : "345048") +
                                            ")|Fehler beim Lesen der Datei"}))
            << length;
        EXPECT_EQ(core::snapshot().markerPos, (std::array<int, 2>{300, 400}));
        EXPECT_EQ(core::store().slotOccupied, (std::array<int, 5>{0, 0, 0, 1, 1}));
    }
    ui.clear();
    ui.queuePath(path("missing.mes"));
    EXPECT_EQ(files::importVersion133(), files::LoadOutcome::Failed);
    EXPECT_EQ(ui.fileRequests()[0].title, "Messdatei (ORVO 1.33) importieren");
    EXPECT_EQ(messageLog(), (std::vector<std::string>{"„" + path("missing.mes") +
                                                      "“ (die Datei existiert nicht)|Fehler beim "
                                                      "Öffnen der Datei"}));
    EXPECT_EQ(files::importVersion133(), files::LoadOutcome::Cancelled);
}
