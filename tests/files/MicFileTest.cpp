// Microphone correction files: header rule, row parser, summary and the zero-order hold.
#include "tests/files/FilesTestSupport.h"

#include "files/MicFile.h"

#include "core/Store.h"

#include <cmath>

using namespace filestest;

namespace {

constexpr float kUntouched = -99.0f;

// Third-octave centre frequencies 20 Hz .. 20 kHz; amplitude i/10, phase -i.
const double kThirds[] = {20,   25,   31.5, 40,   50,   63,   80,    100,   125,   160,   200,
                          250,  315,  400,  500,  630,  800,  1000,  1250,  1600,  2000,  2500,
                          3150, 4000, 5000, 6300, 8000, 10000, 12500, 16000, 20000};

std::string thirdsFile(const char* lineEnd, const char* separator)
{
    std::string s = std::string("\"Kalibrierung Mikrofon 4711\"") + lineEnd;
    int i = 0;
    for (double f : kThirds) {
        char row[96];
        std::snprintf(row, sizeof row, "%s%.1f%s%.2f%s%.1f%s", separator, f, separator, i / 10.0,
                      separator, static_cast<double>(-i), lineEnd);
        s += row;
        ++i;
    }
    return s;
}

const auto& table(bool amplitude, int rateCode)
{
    const core::MeasurementStore& st = core::store();
    const int t = core::rateTableIndex(rateCode);
    return amplitude ? st.micCorrectionAmplitude[t] : st.micCorrectionPhase[t];
}

// The zero-order hold written out directly for one grid: for each bin the row that holds
// it, or -1 when the bin keeps its value.
std::vector<int> expectedRows(const std::vector<double>& f, double h)
{
    std::vector<int> row(2049, -1);
    auto bin = [&](double x) { return static_cast<int>(std::trunc(x / h)); };
    const int n = static_cast<int>(f.size());
    for (int k = 1; k <= bin(f[0]) && bin(f[0]) < 1800; ++k)
        row[k] = 0;
    for (int i = 0; i + 1 < n; ++i)
        if (bin(f[i + 1]) < 1800)
            for (int k = std::max(1, bin(f[i])); k < bin(f[i + 1]); ++k)
                row[k] = i;
    if (bin(f[n - 1]) < 1800)
        for (int k = std::max(1, bin(f[n - 1])); k < 1800; ++k)
            row[k] = n - 1;
    return row;
}

} // namespace

class MicFileTest : public FilesTest {
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        core::MeasurementStore& st = core::store();
        for (auto* tables : {&st.micCorrectionAmplitude, &st.micCorrectionPhase})
            for (auto& t : *tables)
                t.fill(kUntouched);
    }
    std::vector<files::MicRow> parse(const std::string& s)
    {
        return files::parseMicData(s.data(), s.size());
    }
};

TEST_F(MicFileTest, ThirdOctaveFileWithQuotedTitle)
{
    writeText(path("m.mic"), thirdsFile("\r\n", " "));
    ui.queuePath(path("m.mic"));
    EXPECT_EQ(files::importMicFile(), 1);
    EXPECT_EQ(ui.fileRequests()[0].title, "Mikrofonkorekturdatei laden");
    EXPECT_EQ(ui.fileRequests()[0].filter, "(*.mic)");
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].text, "Anzeige erste und letzte Zeile\n"
                                     "Freq=   20.0  Amp=0.00  Phase=0.00 \n"
                                     "Freq=20000.0  Amp=3.00  Phase=-30.00 \n"
                                     "Zeilen=31");
    EXPECT_EQ(ui.messages()[0].caption, " ");
    EXPECT_EQ(ui.messages()[0].icon, core::Icon::Information);

    const std::vector<double> f(std::begin(kThirds), std::end(kThirds));
    const struct {
        int rate;
        double h;
    } grids[] = {{3, 0.78125}, {1, 1.5625}, {2, 12.5}};
    for (const auto& g : grids) {
        const std::vector<int> rows = expectedRows(f, g.h);
        for (int k = 0; k < 2049; ++k) {
            const float want = rows[k] < 0 ? kUntouched : rows[k] / 10.0f;
            ASSERT_FLOAT_EQ(table(true, g.rate)[k], want) << g.rate << " bin " << k;
            const float wantPhase = rows[k] < 0 ? kUntouched : -static_cast<float>(rows[k]);
            ASSERT_FLOAT_EQ(table(false, g.rate)[k], wantPhase) << g.rate << " bin " << k;
        }
    }
    // The Part's own examples: bins 1..25 at 3.2 kHz hold the 20 Hz row; the pair
    // 1250/1600 Hz straddles 1405.5 Hz and writes nothing, so bins 1600..1799 keep their value.
    EXPECT_EQ(table(true, 3)[25], 0.0f);
    EXPECT_EQ(table(true, 3)[31], 0.0f); // the pair 20/25 Hz holds up to bin 31
    EXPECT_FLOAT_EQ(table(true, 3)[32], 0.1f);
    EXPECT_FLOAT_EQ(table(true, 3)[1599], 1.7f); // the 1000 Hz row
    EXPECT_EQ(table(true, 3)[1600], kUntouched);
    EXPECT_EQ(table(true, 3)[1799], kUntouched);
    // At 51.2 kHz every bin 1..1799 is written; bin 0 and 1800.. never.
    for (int k = 1; k < 1800; ++k)
        ASSERT_NE(table(true, 2)[k], kUntouched) << k;
    EXPECT_EQ(table(true, 2)[0], kUntouched);
    EXPECT_EQ(table(true, 2)[1800], kUntouched);
}

TEST_F(MicFileTest, TwoRowsFillEveryBin)
{
    writeText(path("m.mic"), " 100.0 1.0 2.0\r\n 1000.0 3.0 4.0\r\n");
    ASSERT_EQ(files::readMicFile(path("m.mic"), false), files::MicStatus::Read);
    for (int rate : {1, 2, 3}) {
        const double h = rate == 3 ? 0.78125 : rate == 1 ? 1.5625 : 12.5;
        const int b1 = static_cast<int>(1000.0 / h);
        for (int k = 1; k < 1800; ++k)
            ASSERT_EQ(table(true, rate)[k], k < b1 ? 1.0f : 3.0f) << rate << " " << k;
        EXPECT_EQ(table(false, rate)[b1], 4.0f);
        EXPECT_EQ(table(true, rate)[0], kUntouched);
    }
}

TEST_F(MicFileTest, LineEndsAndSeparatorsGiveTheSameTable)
{
    const auto reference = parse(thirdsFile("\r\n", " "));
    ASSERT_EQ(reference.size(), 31u);
    for (const auto& variant : {thirdsFile("\n", " "), thirdsFile("\r\n", "\t"),
                                thirdsFile("\n", " \t "), thirdsFile("\r\n", "   ")}) {
        const auto rows = parse(variant);
        ASSERT_EQ(rows.size(), reference.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].frequencyHz, reference[i].frequencyHz);
            EXPECT_EQ(rows[i].amplitudeDb, reference[i].amplitudeDb);
            EXPECT_EQ(rows[i].phaseDeg, reference[i].phaseDeg);
        }
    }
}

TEST_F(MicFileTest, ParserEdgeCases)
{
    // No header: parsing starts at byte 1, as fixed-width files begin with a blank.
    auto rows = parse(" 20.0 1.5 -2.5\r\n 40.0 1.0 3.0");
    ASSERT_EQ(rows.size(), 2u); // the last row has no CR LF
    EXPECT_EQ(rows[1].frequencyHz, 40.0f);
    EXPECT_EQ(rows[1].phaseDeg, 3.0f);
    EXPECT_EQ(parse("120.0 1 2\r\n")[0].frequencyHz, 20.0f); // byte 0 is skipped

    // Only blanks: one row of zeros (the summary shows it; the tables stay as they are).
    rows = parse("          ");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].frequencyHz, 0.0f);

    // A header that ends the file leaves no rows; a comma is no decimal point.
    EXPECT_TRUE(parse("\"Titel\"").empty());
    EXPECT_TRUE(parse("").empty());
    rows = parse("\"x\"\r\n 1,5 2 3\r\n");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].frequencyHz, 1.0f);

    // Binary junk of every byte value, including quotes and line ends at the very end.
    std::string junk;
    for (int i = 0; i < 5000; ++i)
        junk += static_cast<char>((i * 37 + 11) & 0xFF);
    for (std::size_t n = 0; n < 600; ++n)
        EXPECT_LE(parse(junk.substr(n)).size(), junk.size());
    EXPECT_LE(parse(junk + "\"").size(), 0u);
    EXPECT_EQ(parse(std::string(3, '\n')).size(), 2u);

    // At most 4096 rows.
    std::string many;
    for (int i = 0; i < 5000; ++i)
        many += " 1 2 3\r\n";
    EXPECT_EQ(parse(many).size(), 4096u);
}

TEST_F(MicFileTest, OnlyTheFirst65536BytesAreRead)
{
    std::string s = " 10.0 1.0 1.0\r\n";
    while (s.size() < 65536 - 20)
        s += " 10.0 1.0 1.0\r\n";
    s.resize(65536, ' ');
    s += "\r\n 9999.0 7.0 7.0\r\n";
    writeText(path("big.mic"), s);
    std::string summary;
    ASSERT_EQ(files::readMicFile(path("big.mic"), false, &summary), files::MicStatus::Read);
    EXPECT_EQ(summary.find("9999"), std::string::npos);
}

// Rows 20, 20.5, 21 ... Hz (1 dB, 5 degrees) up to `rowStart` bytes, then " 1900.0 2.00 9.00"
// starting there, then more rows past the 65536-byte limit.
std::string fileCutAt(std::size_t rowStart)
{
    std::string s;
    for (int k = 0; s.size() + 40 < rowStart; ++k) {
        char row[64];
        std::snprintf(row, sizeof row, " %.1f 1.00 5.00\r\n", 20.0 + 0.5 * k);
        s += row;
    }
    s.resize(rowStart, ' ');
    s += " 1900.0 2.00 9.00\r\n";
    while (s.size() < 70000)
        s += " 2500.0 3.00 7.00\r\n";
    return s;
}

TEST_F(MicFileTest, ARowCutByTheSizeLimitIsDroppedAndTheSummarySaysSo)
{
    // The limit falls behind "1900.0": the row's amplitude and phase are not in what is read.
    writeText(path("cut.mic"), fileCutAt(65536 - 7));
    std::string summary;
    ASSERT_EQ(files::readMicFile(path("cut.mic"), true, &summary), files::MicStatus::Read);
    EXPECT_EQ(summary.find("1900"), std::string::npos) << summary;
    EXPECT_NE(summary.find("abgeschnitten"), std::string::npos) << summary;
    EXPECT_EQ(ui.messages().back().text, summary);
    // The last whole row is held to the end of the 6.4 and 51.2 kHz tables, not a row of
    // zeros (at 3.2 kHz these rows lie beyond the table).
    for (int rate : {1, 2}) {
        EXPECT_FLOAT_EQ(table(true, rate)[1799], 1.0f) << rate;
        EXPECT_FLOAT_EQ(table(false, rate)[1799], 5.0f) << rate;
    }

    // The limit falls on the row's line end: the row is whole and stays.
    writeText(path("whole.mic"), fileCutAt(65536 - 17));
    ASSERT_EQ(files::readMicFile(path("whole.mic"), false, &summary), files::MicStatus::Read);
    EXPECT_NE(summary.find("Freq= 1900.0  Amp=2.00  Phase=9.00"), std::string::npos) << summary;
    EXPECT_NE(summary.find("abgeschnitten"), std::string::npos) << summary;
    EXPECT_FLOAT_EQ(table(true, 1)[1799], 2.0f);
    EXPECT_FLOAT_EQ(table(false, 1)[1799], 9.0f);

    // A file within the limit says nothing of the sort.
    writeText(path("small.mic"), fileCutAt(1000).substr(0, 2000));
    ASSERT_EQ(files::readMicFile(path("small.mic"), false, &summary), files::MicStatus::Read);
    EXPECT_EQ(summary.find("abgeschnitten"), std::string::npos) << summary;
}

TEST_F(MicFileTest, SingleRowCancelAndMissingFile)
{
    writeText(path("one.mic"), " 100.0 5.0 6.0\r\n");
    ui.queuePath(path("one.mic"));
    EXPECT_EQ(files::importMicFile(), 1);
    EXPECT_EQ(ui.messages().back().text.substr(ui.messages().back().text.size() - 8), "Zeilen=1");
    EXPECT_EQ(table(true, 1)[64], kUntouched);

    ui.clear();
    EXPECT_EQ(files::importMicFile(), 0); // cancelled
    EXPECT_TRUE(ui.messages().empty());
    ui.queuePath(path("missing.mic"));
    EXPECT_EQ(files::importMicFile(), 0);
    EXPECT_EQ(messageLog(), (std::vector<std::string>{"Fehler Mikrofondaten Datei nicht vorhanden|"}));
}

// An empty file, random bytes, a header alone, 1e30 or NaN: refused with an error icon and the
// reason, and the microphone table the program had stays (it used to show "Zeilen=0/2/3" as an
// information and take the file).
TEST_F(MicFileTest, FilesWithoutUsableRowsAreRefused)
{
    std::string random;
    unsigned state = 12345;
    for (int i = 0; i < 3000; ++i) {
        state = state * 1103515245u + 12345u;
        random += static_cast<char>((state >> 16) & 0xFF);
    }
    struct Case {
        const char* what;
        std::string content;
        files::MicRowsProblem problem;
        const char* reason;
    };
    const Case cases[] = {
        {"empty", "", files::MicRowsProblem::NoRows, "keine Datenzeilen"},
        {"header only", "\"Kalibrierung\"\r\n", files::MicRowsProblem::NoRows, "keine Datenzeilen"},
        {"blank lines", " \r\n\r\n  \r\n", files::MicRowsProblem::NoRows, "keine Datenzeilen"},
        {"random bytes", random, files::MicRowsProblem::NotNumbers,
         "Datenzeile 1: keine gültigen Zahlen"},
        {"text for a number", " 20 abc 1\r\n 40 1 2\r\n", files::MicRowsProblem::NotNumbers,
         "Datenzeile 1: keine gültigen Zahlen"},
        {"1e30", " 20 0 0\r\n 40 1e30 0\r\n", files::MicRowsProblem::ValueOutOfRange,
         "Datenzeile 2: ungültiger Wert"},
        {"NaN", " 20 0 0\r\n 40 nan 0\r\n", files::MicRowsProblem::NotNumbers,
         "Datenzeile 2: keine gültigen Zahlen"},
        {"overflow", " 20 0 0\r\n 40 0 1e999\r\n", files::MicRowsProblem::ValueOutOfRange,
         "Datenzeile 2: ungültiger Wert"},
        {"-201 dB", " 20 -201 0\r\n", files::MicRowsProblem::ValueOutOfRange,
         "Datenzeile 1: ungültiger Wert"},
        {"negative frequency", " -20 1 0\r\n 40 1 0\r\n", files::MicRowsProblem::ValueOutOfRange,
         "Datenzeile 1: ungültiger Wert"},
    };
    for (const Case& c : cases) {
        ui.clear();
        writeText(path("bad.mic"), c.content);
        auto rows = parse(c.content);
        EXPECT_EQ(files::checkMicRows(rows).problem, c.problem) << c.what;
        ui.queuePath(path("bad.mic"));
        EXPECT_EQ(files::importMicFile(), 0) << c.what;
        const auto msgs = ui.messages();
        ASSERT_EQ(msgs.size(), 1u) << c.what;
        EXPECT_EQ(msgs[0].icon, core::Icon::Error) << c.what;
        EXPECT_EQ(msgs[0].caption, "Fehler Mikrofondatei") << c.what;
        EXPECT_NE(msgs[0].text.find(c.reason), std::string::npos) << c.what << ": " << msgs[0].text;
        EXPECT_NE(msgs[0].text.find("bisherige Mikrofonkorrektur bleibt erhalten"),
                  std::string::npos);
        for (int rate : {1, 2, 3})
            for (int k = 0; k < 2049; ++k)
                ASSERT_EQ(table(true, rate)[k], kUntouched) << c.what << " " << rate << " " << k;
    }

    {
        // One number alone is no row either.
        std::vector<files::MicRow> rows = parse(" 20\r\n");
        EXPECT_EQ(files::checkMicRows(rows).problem, files::MicRowsProblem::NotNumbers);
    }

    // Frequency and amplitude without a phase: taken, the phase is 0.
    ui.clear();
    writeText(path("two.mic"), " 100.0 1.0\r\n 1000.0 3.0\r\n");
    ASSERT_EQ(files::readMicFile(path("two.mic"), false), files::MicStatus::Read);
    EXPECT_EQ(table(true, 1)[2000 / 3], 3.0f);
    EXPECT_EQ(table(false, 1)[2000 / 3], 0.0f);

    // A good file with an empty line at its end is taken; the empty line is no row.
    ui.clear();
    writeText(path("good.mic"), " 100.0 1.0 2.0\r\n 1000.0 3.0 4.0\r\n\r\n");
    std::string summary;
    ASSERT_EQ(files::readMicFile(path("good.mic"), false, &summary), files::MicStatus::Read);
    EXPECT_NE(summary.find("Zeilen=2"), std::string::npos) << summary;
    EXPECT_EQ(table(true, 1)[2000 / 3], 3.0f);
    EXPECT_TRUE(ui.messages().empty());
}
