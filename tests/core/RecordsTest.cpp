#include "core/Display.h"
#include "core/SettingsStore.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "tests/support/TestSupport.h"

using namespace core;

class RecordsTest : public testsupport::RecordsTest
{
};

TEST_F(RecordsTest, StoreBuffersHaveTheirFixedSizes)
{
    MeasurementStore& s = store();
    EXPECT_EQ(s.timeRecord.v.size(), 4098u);
    EXPECT_EQ(s.amplitudeSlots[0].v.size(), 2050u);
    EXPECT_EQ(s.csdLevel.size(), 16385u);
    EXPECT_EQ(s.tsResultText.size(), 2024u);
    EXPECT_EQ(s.micCorrectionAmplitude[0].size(), 2049u);
    for (int o : s.slotOccupied)
        EXPECT_EQ(o, 0);
}

TEST_F(RecordsTest, TrailerGuards)
{
    EXPECT_EQ(safeTrailerN(0.0f), 512);
    EXPECT_EQ(safeTrailerN(2048.0f), 2048);
    EXPECT_EQ(safeTrailerN(1e30f), 512);
    EXPECT_EQ(safeTrailerRate(-1.0f), 1);
    EXPECT_EQ(safeTrailerRate(3.0f), 3);
    EXPECT_FALSE(isValidTrailer(256.0f, 1.0f));
    EXPECT_EQ(rateTableIndex(3), 2);
}

TEST_F(RecordsTest, TsTextIsCutAndTerminated)
{
    std::string longText(5000, 'x');
    setTsResultText(longText.c_str());
    EXPECT_EQ(store().tsResultText[2022], 'x');
    EXPECT_EQ(store().tsResultText[2023], '\0');
}

TEST_F(RecordsTest, DisplayDefaults)
{
    const DisplaySettings& d = displaySettings();
    EXPECT_EQ(d.colors[backgroundColor], rgb(192, 192, 192));
    EXPECT_EQ(d.colors[amplitudeColor0], rgb(0, 0, 128));
    EXPECT_EQ(d.colors[amplitudeColor0 + 4], rgb(128, 0, 192)); // readable on white
    EXPECT_EQ(d.colors[csdFaceColor], rgb(200, 100, 200));
    EXPECT_EQ(d.colors[stepResponseColor], 0x0014'8032u);
    EXPECT_EQ(d.lineWidth, 20);
    EXPECT_EQ(d.showStepResponse, 0);
    EXPECT_EQ(d.observer[1], 60000);
    EXPECT_STREQ(d.axisSets[6].name.data(), "Waserfall (CSD)");
    EXPECT_EQ(d.axisSets[6].x, 31);
    EXPECT_EQ(d.axisSets[6].y, 56);
    EXPECT_EQ(d.axisSets[6].z, 33);
    EXPECT_EQ(d.axisSets[0].y, 57);
    EXPECT_EQ(d.axisSets[5].x, 29);
}

TEST_F(RecordsTest, ScaleReferenceEncoding)
{
    EXPECT_EQ(encodeScaleRef(0), 4481136u);
    EXPECT_EQ(encodeScaleRef(10), 4481136u + 3080u);
    EXPECT_EQ(decodeScaleRef(encodeScaleRef(78)), 78);
    EXPECT_LT(decodeScaleRef(0), 0); // a foreign value decodes outside the table
}

TEST_F(RecordsTest, StringTableAndEncoding)
{
    EXPECT_STREQ(str(26), "Wollen Sie die bestehende Datei überschreiben?");
    EXPECT_STREQ(str(57), "\\HtmlHelpOrvo2.3.chm");
    EXPECT_STREQ(str(9999), "");
    EXPECT_TRUE(hasString(122));

    const std::string utf8 = "Gr\xC3\xBC\xC3\x9F m\xC2\xB2 \xE2\x82\xAC";
    const std::string cp = utf8ToCp1252(utf8);
    EXPECT_EQ(cp, "Gr\xFC\xDF m\xB2 \x80");
    EXPECT_EQ(cp1252ToUtf8(cp), utf8);
    EXPECT_EQ(utf8ToCp1252("\xE4\xB8\xAD"), "?");
    // A text without a terminating NUL is read only up to the given size.
    const char raw[3] = {'a', 'b', 'c'};
    EXPECT_EQ(cp1252ToUtf8(raw, 2), "ab");
}

TEST_F(RecordsTest, FormattingIgnoresTheDesktopLocale)
{
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    EXPECT_EQ(formatC("%4.2f", 3.5), "3.50");
    std::setlocale(LC_ALL, "C");
}

TEST_F(RecordsTest, PortGoesToTheSettingsStore)
{
    writePortToRegistry(3);
    EXPECT_EQ(settingsStore().value("LPT_PORT").value_or(""), "3");
}

TEST_F(RecordsTest, ScriptedUiAnswersAndRecords)
{
    ui.queueAnswer(Answer::No);
    EXPECT_EQ(message(26, 0, Icon::Question, Buttons::YesNo), Answer::No);
    EXPECT_EQ(message(20, 0, Icon::Question, Buttons::YesNo), Answer::Yes);
    ui.queueAnswer(Answer::Yes);
    EXPECT_EQ(message(21, 0, Icon::Question, Buttons::OkCancel), Answer::Ok);
    ASSERT_EQ(ui.messages().size(), 3u);
    EXPECT_EQ(ui.messages()[0].text, str(26));
    EXPECT_EQ(ui.messages()[0].caption, "");
}

#include "core/Settings.h"
#include "core/Startup.h"

TEST_F(RecordsTest, StartPreparationStampsAndClears)
{
    settings().sampleRate = 2;
    settings().fftLength = 1024;
    store().slotOccupied = {1, 1, 1, 1, 1};
    prepareRecordsForStart();
    EXPECT_EQ(settings().method, 1);
    EXPECT_EQ(store().overlayAxisIndex, -1);
    EXPECT_EQ(store().overlayReserved[1], -1);
    EXPECT_EQ(store().slotOccupied[4], 0);
    EXPECT_EQ(store().amplitudeSlots[3].trailerN(), 1024.0f);
    EXPECT_EQ(store().impedancePhase.trailerRate(), 2.0f);
    EXPECT_EQ(displaySettings().axisSets[0].x, 1);
    EXPECT_EQ(displaySettings().axisSets[2].x, 10);
    chooseInitialXScales(3);
    EXPECT_EQ(displaySettings().axisSets[0].x, 76);
    EXPECT_EQ(displaySettings().axisSets[1].x, 78);
}

TEST(BoxRateTest, OnlyBoxNineKeepsThreeKilohertz)
{
    const BoxRate nine = rateForBox(9, 3);
    EXPECT_TRUE(nine.threeKilohertzAllowed);
    EXPECT_EQ(nine.rateCode, 3);
    EXPECT_FALSE(nine.rateChanged);

    for (int hw : {0, 8, 10, 33, 99, 255}) {
        const BoxRate other = rateForBox(hw, 3);
        EXPECT_FALSE(other.threeKilohertzAllowed) << hw;
        EXPECT_EQ(other.rateCode, 2) << hw;
        EXPECT_TRUE(other.rateChanged) << hw;
    }
    // The other rates are every box's; an unknown code is left to the settings' own guards.
    for (int rate : {1, 2, 0, 7}) {
        EXPECT_EQ(rateForBox(7, rate).rateCode, rate);
        EXPECT_FALSE(rateForBox(7, rate).rateChanged);
        EXPECT_EQ(rateCodeForBox(rate, false), rate);
    }
    EXPECT_EQ(rateCodeForBox(3, true), 3);
    EXPECT_EQ(rateCodeForBox(3, false), 2);
}
