#include "files/Import.h"

#include "files/FileDialogs.h"

#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"

namespace files
{

namespace
{

constexpr std::size_t kCurveBytes = 8200;
constexpr std::size_t kRecordBytes = 16392;
constexpr std::size_t kLevelBytes = 112;
constexpr std::size_t kCsdBytes = 65540;

// Where the blocks after the step response lie in an older layout.
struct OldLayout {
    std::size_t slotCount; // overlay slots the layout carries
    std::size_t phaseSlots;
    std::size_t amplitudeSlots;
    std::size_t slotOccupied; // 0: the layout has no occupied flags
    std::size_t impedancePhase;
    std::size_t impedanceMagnitude;
    std::size_t levels;
    std::size_t csd;
    std::size_t window;
};

constexpr OldLayout kLayout133{1, 32804, 41004, 0, 49204, 57404, 65604, 66052, 262672};
constexpr OldLayout kLayout21{5, 32804, 73804, 131204, 131240, 139440, 147640, 148088, 344708};

static_assert(kLayout133.csd + 3 * kCsdBytes == kLayout133.window);
static_assert(kLayout21.csd + 3 * kCsdBytes == kLayout21.window);
static_assert(kLayout133.window + 25 + 15 == kVersion133ReadSize);
static_assert(kLayout21.window + 25 + 315 == kVersion21FileSize);

void copyImage(const unsigned char* b, const OldLayout& l)
{
    core::MeasurementStore& st = core::store();
    core::AcquisitionSnapshot& sn = core::snapshot();
    sn.markerPos = {0, 10000};
    sn.averages = getI32(b, 8);
    sn.smoothing = getI32(b, 12);
    sn.distanceMm = getI32(b, 16);
    getF32s(b, 20, st.timeRecord.data(), st.timeRecord.v.size());
    getF32s(b, 20 + kRecordBytes, st.stepResponseCurve.data(), st.stepResponseCurve.v.size());
    for (std::size_t k = 0; k < l.slotCount; ++k) {
        getF32s(b, l.phaseSlots + k * kCurveBytes, st.phaseSlots[k].data(),
                st.phaseSlots[k].v.size());
        getF32s(b, l.amplitudeSlots + k * kCurveBytes, st.amplitudeSlots[k].data(),
                st.amplitudeSlots[k].v.size());
    }
    if (l.slotOccupied != 0)
        getI32s(b, l.slotOccupied, st.slotOccupied.data(), 5);
    getF32s(b, l.impedancePhase, st.impedancePhase.data(), st.impedancePhase.v.size());
    getF32s(b, l.impedanceMagnitude, st.impedanceMagnitude.data(), st.impedanceMagnitude.v.size());
    getF32s(b, l.levels, st.levelBandFrequency.data(), core::kLevelBands);
    getF32s(b, l.levels + kLevelBytes, st.levelMeanPeak.data(), core::kLevelBands);
    getF32s(b, l.levels + 2 * kLevelBytes, st.levelBandFrequencyView.data(), core::kLevelBands);
    getF32s(b, l.levels + 3 * kLevelBytes, st.levelCurrent.data(), core::kLevelBands);
    getF32s(b, l.csd, st.csdFrequency.data(), st.csdFrequency.size());
    getF32s(b, l.csd + kCsdBytes, st.csdLevel.data(), st.csdLevel.size());
    getF32s(b, l.csd + 2 * kCsdBytes, st.csdTime.data(), st.csdTime.size());
    sn.window = getI32(b, l.window);
    sn.referenceResistorOhm = getF32(b, l.window + 4);
    getI32s(b, l.window + 8, st.importReserved.data(), 4);
    st.importReservedByte = b[l.window + 24];
    // The older layouts had no sweep: curves of an earlier measurement do not belong here.
    st.distortion = core::DistortionRecord{};
}

FileStatus importFile(const std::string& path, std::size_t fileSize, std::size_t readSize,
                      void (*apply)(const unsigned char*))
{
    long long length = 0;
    if (!fileLength(path, length)) {
        showOpenFailure(path);
        return FileStatus::CannotOpen;
    }
    Bytes scratch;
    const ReadStatus r = readFileStart(path, readSize, scratch);
    if (r == ReadStatus::CannotOpen) {
        showOpenFailure(path);
        return FileStatus::CannotOpen;
    }
    if (length != static_cast<long long>(fileSize)) {
        core::messageText("„" + path + "“ (die Datei hat " + std::to_string(length) +
                              " Bytes statt " + std::to_string(fileSize) + ")",
                          core::str(28), core::Icon::Error);
        return FileStatus::ReadError;
    }
    if (r != ReadStatus::Ok || scratch.size() != readSize) {
        showOpenFailure(path, 28);
        return FileStatus::ReadError;
    }
    apply(scratch.data());
    return FileStatus::Loaded;
}

LoadOutcome importWithDialog(int titleId, FileStatus (*import)(const std::string&))
{
    std::string path;
    if (!openDialog(titleId, "mes", path))
        return LoadOutcome::Cancelled;
    return import(path) == FileStatus::Loaded ? LoadOutcome::Loaded : LoadOutcome::Failed;
}

} // namespace

void applyVersion133Image(const unsigned char* image)
{
    copyImage(image, kLayout133);
    core::MeasurementStore& st = core::store();
    st.slotOccupied = {1, 0, 0, 0, 0};
    st.overlayAxisIndex = -1;
    st.overlayReserved = {-1, -1};
}

// The overlay axis index and its reserved words keep their values.
void applyVersion21Image(const unsigned char* image)
{
    copyImage(image, kLayout21);
}

FileStatus importVersion133File(const std::string& path)
{
    return importFile(path, kVersion133FileSize, kVersion133ReadSize, applyVersion133Image);
}

FileStatus importVersion21File(const std::string& path)
{
    return importFile(path, kVersion21FileSize, kVersion21FileSize, applyVersion21Image);
}

LoadOutcome importVersion133()
{
    return importWithDialog(93, importVersion133File);
}
LoadOutcome importVersion21()
{
    return importWithDialog(111, importVersion21File);
}

} // namespace files
