// Structure-aware harness for the binary layouts (measurement file, configuration, the 1.33
// and 2.1 measurement files). The input is an image of one of them, told by its length; the
// mutator changes fields (codes, numbers, curve trailers, markers, texts, curve values)
// rather than bytes, so the inputs stay loadable and reach the consumers: every input is
// loaded, saved and loaded again, then drawn and exported as a user would.
#include "tests/fuzz/FuzzSupport.h"

#include "files/ConfigurationFile.h"
#include "files/Import.h"
#include "files/MeasurementFile.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace {

enum class Kind { Code, Number, Word, TrailerN, TrailerRate, Marker, Text, Values };

// `count` fields of `kind`, `stride` bytes apart, from `offset` on. Text: `length` bytes;
// Values: `length` floats.
struct Field {
    std::size_t offset;
    Kind kind;
    std::size_t count = 1;
    std::size_t stride = 0;
    std::size_t length = 0;
};

struct Layout {
    fuzz::Reader reader;
    std::size_t size;
    std::vector<Field> fields;
};

constexpr std::size_t kCurveValues = 2048;
constexpr std::size_t kRecordValues = 4096;
constexpr std::size_t kCurveBytes = 8200;
constexpr std::size_t kRecordBytes = 16392;
constexpr std::size_t kLevelBytes = 112;
constexpr std::size_t kCsdBytes = 65540;

// Values and the two trailing floats (FFT length, rate code) of `count` curves.
void addCurves(std::vector<Field>& f, std::size_t offset, std::size_t count, bool record)
{
    const std::size_t values = record ? kRecordValues : kCurveValues;
    const std::size_t stride = record ? kRecordBytes : kCurveBytes;
    f.push_back({offset, Kind::Values, count, stride, values});
    f.push_back({offset + 4 * values, Kind::TrailerN, count, stride});
    f.push_back({offset + 4 * values + 4, Kind::TrailerRate, count, stride});
}

// The blocks after the step response, shared by the measurement file and the older layouts.
void addCommonBlocks(std::vector<Field>& f, std::size_t levels, std::size_t csd)
{
    f.push_back({levels, Kind::Values, 4, kLevelBytes, kLevelBytes / 4});
    f.push_back({csd, Kind::Values, 3, kCsdBytes, kCsdBytes / 4});
}

Layout measurementLayout()
{
    using namespace files::mes;
    Layout l{fuzz::Reader::Measurement, files::kMeasurementFileSize, {}};
    auto& f = l.fields;
    f.push_back({kMarker1, Kind::Marker, 2, 4});
    f.push_back({kAverages, Kind::Code, 3, 4});
    addCurves(f, kTimeRecord, 2, true);
    addCurves(f, kPhaseSlots, 5, false);
    addCurves(f, kAmplitudeSlots, 5, false);
    f.push_back({kSlotOccupied, Kind::Code, 5, 4});
    f.push_back({kOverlayAxisIndex, Kind::Code, 3, 4});
    addCurves(f, kImpedancePhase, 2, false);
    addCommonBlocks(f, kLevelBandFrequency, kCsdFrequency);
    f.push_back({kWindow, Kind::Code});
    f.push_back({kReferenceResistor, Kind::Number});
    f.push_back({kImportReserved, Kind::Code, 4, 4});
    f.push_back({kUserTexts, Kind::Text, 8, kUserTextSize, kUserTextSize});
    f.push_back({kTsResultText, Kind::Text, 1, 0, 2024});
    return l;
}

Layout configurationLayout()
{
    using namespace files::cfg;
    Layout l{fuzz::Reader::Configuration, files::kConfigurationFileSize, {}};
    auto& f = l.fields;
    f.push_back({0, Kind::Word, kAxisSets / 4, 4});
    f.push_back({kMarkerPos, Kind::Marker, 2, 4});
    f.push_back({kAxisSets, Kind::Text, 7, kAxisSetBytes, kAxisSetNameBytes});
    f.push_back({kAxisSets + kAxisSetNameBytes, Kind::Word, 7, kAxisSetBytes});
    f.push_back({kAxisSets + kAxisSetNameBytes + 4, Kind::Word, 7, kAxisSetBytes});
    f.push_back({kAxisSets + kAxisSetNameBytes + 8, Kind::Word, 7, kAxisSetBytes});
    f.push_back({kShowPhase, Kind::Word, (kReferenceGroups - kShowPhase) / 4, 4});
    // Each reference group: the phase and amplitude curves of one rate.
    f.push_back({kReferenceGroups, Kind::Values, 3, kReferenceGroupBytes, 2 * kCurveValues});
    f.push_back({kMicTables, Kind::Values, 6, kMicTableBytes, kMicTableBytes / 4});
    return l;
}

// The older layouts: where their blocks lie (the importer's table).
Layout olderLayout(fuzz::Reader reader, std::size_t size, std::size_t slots, std::size_t phase,
                   std::size_t amplitude, std::size_t occupied, std::size_t impedancePhase,
                   std::size_t levels, std::size_t csd, std::size_t window)
{
    Layout l{reader, size, {}};
    auto& f = l.fields;
    f.push_back({8, Kind::Code, 3, 4});
    addCurves(f, 20, 2, true);
    addCurves(f, phase, slots, false);
    addCurves(f, amplitude, slots, false);
    if (occupied != 0)
        f.push_back({occupied, Kind::Code, 5, 4});
    addCurves(f, impedancePhase, 2, false);
    addCommonBlocks(f, levels, csd);
    f.push_back({window, Kind::Code});
    f.push_back({window + 4, Kind::Number});
    f.push_back({window + 8, Kind::Code, 4, 4});
    return l;
}

const std::vector<Layout>& layouts()
{
    static const std::vector<Layout> all = {
        measurementLayout(),
        configurationLayout(),
        olderLayout(fuzz::Reader::Version133, files::kVersion133FileSize, 1, 32804, 41004, 0,
                    49204, 65604, 66052, 262672),
        olderLayout(fuzz::Reader::Version21, files::kVersion21FileSize, 5, 32804, 73804, 131204,
                    131240, 147640, 148088, 344708),
    };
    return all;
}

const Layout* layoutOfSize(std::size_t size)
{
    for (const Layout& l : layouts())
        if (l.size == size)
            return &l;
    return nullptr;
}

using Rng = std::minstd_rand;

template <typename T, std::size_t N> T pick(Rng& rng, const T (&values)[N])
{
    return values[rng() % N];
}

void putU32(std::uint8_t* b, std::uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        b[k] = static_cast<std::uint8_t>(v >> (8 * k));
}
void putInt(std::uint8_t* b, int v) { putU32(b, static_cast<std::uint32_t>(v)); }
void putFloat(std::uint8_t* b, float v)
{
    std::uint32_t u = 0;
    std::memcpy(&u, &v, 4);
    putU32(b, u);
}

int interestingInt(Rng& rng)
{
    static const int values[] = {0,    1,     2,     3,       4,       5,       6,      7,
                                 8,    9,     10,    16,      20,      21,      22,     31,
                                 32,   99,    100,   255,     256,     1000,    2047,   2048,
                                 2049, 4095,  4096,  8192,    10000,   65535,   65536,  -1,
                                 -2,   -100,  -2048, INT_MIN, INT_MAX, INT_MIN + 1};
    return rng() % 8 == 0 ? static_cast<int>(rng() % 200) - 100 : pick(rng, values);
}

float interestingFloat(Rng& rng)
{
    constexpr float inf = std::numeric_limits<float>::infinity();
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    static const float values[] = {0.0f,    -0.0f,    1.0f,   -1.0f,   0.5f,     2.0f,
                                   3.0f,    100.0f,   1000.f, 20000.f, 1e10f,    -1e10f,
                                   FLT_MAX, -FLT_MAX, FLT_MIN, std::numeric_limits<float>::denorm_min(),
                                   nan,     -nan,     inf,    -inf,    -200.0f,  200.0f};
    if (rng() % 4 == 0)
        return (static_cast<float>(rng() % 2000001) - 1000000.0f) / 1000.0f;
    return pick(rng, values);
}

float trailerN(Rng& rng)
{
    static const float values[] = {256.f, 512.f, 1024.f, 2048.f, 4096.f, 8192.f, 0.f,    -1.f,
                                   1.f,   3.f,   4095.f, 1e9f,   -1e9f,  2048.5f, 16384.f};
    return rng() % 4 == 0 ? interestingFloat(rng) : pick(rng, values);
}

float trailerRate(Rng& rng)
{
    static const float values[] = {0.f, 1.f, 2.f, 3.f, 4.f, -1.f, 1.5f, 5.f, 255.f, 1e9f};
    return rng() % 4 == 0 ? interestingFloat(rng) : pick(rng, values);
}

void mutateText(Rng& rng, std::uint8_t* b, std::size_t length)
{
    switch (rng() % 4) {
    case 0: // no terminating NUL at all
        std::fill(b, b + length, static_cast<std::uint8_t>(pick(rng, {0x41, 0xFF, 0x80, 0xE4, 0x25})));
        break;
    case 1: // empty
        b[0] = 0;
        break;
    case 2: // the terminator somewhere else
        b[rng() % length] = 0;
        break;
    default: // a few bytes of anything, with format characters among them
        for (int k = 0; k < 4; ++k)
            b[rng() % length] =
                static_cast<std::uint8_t>(rng() % 3 == 0 ? pick(rng, {'%', 's', 'n', '\n'}) : rng());
        break;
    }
}

void mutateField(Rng& rng, std::uint8_t* data, const Field& field)
{
    std::uint8_t* b = data + field.offset + (rng() % field.count) * field.stride;
    switch (field.kind) {
    case Kind::Code:
        putInt(b, interestingInt(rng));
        break;
    case Kind::Number:
        putFloat(b, interestingFloat(rng));
        break;
    case Kind::Word:
        if (rng() % 2 == 0)
            putInt(b, interestingInt(rng));
        else
            putFloat(b, interestingFloat(rng));
        break;
    case Kind::TrailerN:
        putFloat(b, trailerN(rng));
        break;
    case Kind::TrailerRate:
        putFloat(b, trailerRate(rng));
        break;
    case Kind::Marker:
        putInt(b, rng() % 3 == 0 ? static_cast<int>(rng() % 10001) : interestingInt(rng));
        break;
    case Kind::Text:
        mutateText(rng, b, field.length);
        break;
    case Kind::Values: {
        // One value, or a run of equal values (a flat stretch, a run of NaN).
        const std::size_t first = rng() % field.length;
        const std::size_t run = rng() % 2 == 0 ? 1 : 1 + rng() % (field.length - first);
        const float v = interestingFloat(rng);
        for (std::size_t k = first; k < first + run; ++k)
            putFloat(b + 4 * k, v);
        break;
    }
    }
}

} // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                              std::size_t maxSize, unsigned int seed)
{
    Rng rng(seed);
    const Layout* layout = layoutOfSize(size);
    if (layout == nullptr) {
        // Not a layout's length (a seed of another kind): made one, the seed decides which.
        const Layout& l = layouts()[rng() % layouts().size()];
        if (l.size > maxSize)
            return LLVMFuzzerMutate(data, size, maxSize);
        if (size < l.size)
            std::fill(data + size, data + l.size, 0);
        size = l.size;
        layout = &l;
    }
    const int changes = 1 + static_cast<int>(rng() % 3);
    for (int c = 0; c < changes; ++c) {
        if (rng() % 5 == 0) {
            // Now and then a few bytes by libFuzzer's own mutations, in a window that keeps
            // the length.
            const std::size_t at = rng() % size;
            const std::size_t window = std::min<std::size_t>(64, size - at);
            LLVMFuzzerMutate(data + at, window, window);
        } else {
            mutateField(rng, data, layout->fields[rng() % layout->fields.size()]);
        }
    }
    return size;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Layout* layout = layoutOfSize(size);
    const fuzz::Reader reader = layout ? layout->reader : fuzz::Reader::Measurement;
    fuzz::loadAndResave(reader, data, size);
    fuzz::freshRecords();
    fuzz::loadWith(reader, data, size);
    fuzz::useLikeAUser();
    return 0;
}
