#include "files/MeasurementFile.h"

#include "files/DistortionBlock.h"
#include "files/FileDialogs.h"
#include "files/FileExtras.h"

#include "core/Display.h"
#include "core/Settings.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"

#include <memory>
#include <utility>

namespace files
{

namespace detail
{
FileExtras& extras()
{
    static std::unique_ptr<FileExtras> e = std::make_unique<FileExtras>();
    return *e;
}
} // namespace detail

void resetFileExtras()
{
    detail::extras() = detail::FileExtras{};
}

namespace
{

using namespace mes;

void putCurve(Bytes& b, std::size_t offset, const core::CurveBuffer& c)
{
    putF32s(b, offset, c.data(), c.v.size());
}
void getCurve(const unsigned char* b, std::size_t offset, core::CurveBuffer& c)
{
    getF32s(b, offset, c.data(), c.v.size());
}
void putRecord(Bytes& b, std::size_t offset, const core::TimeRecord& r)
{
    putF32s(b, offset, r.data(), r.v.size());
}
void getRecord(const unsigned char* b, std::size_t offset, core::TimeRecord& r)
{
    getF32s(b, offset, r.data(), r.v.size());
}

static_assert(sizeof(core::CurveBuffer{}.v) == kCurveBytes);
static_assert(sizeof(core::TimeRecord{}.v) == kRecordBytes);
static_assert(sizeof(core::MeasurementStore{}.csdFrequency) == kCsdBytes);
static_assert(sizeof(core::MeasurementStore{}.levelCurrent) == kLevelBytes);
static_assert(sizeof(core::MeasurementStore{}.tsResultText) == 2024);
static_assert(sizeof(core::DisplaySettings{}.userText[0]) == kUserTextSize);

// A text field is kept NUL-terminated in the records; the byte the file had at its end is
// remembered and written back as long as the record still ends in NUL.
template <std::size_t N>
void putText(Bytes& b, std::size_t offset, const std::array<char, N>& text, unsigned char lastByte)
{
    putRaw(b, offset, text.data(), N);
    if (text[N - 1] == '\0')
        b[offset + N - 1] = lastByte;
}
template <std::size_t N>
void getText(const unsigned char* b, std::size_t offset, std::array<char, N>& text,
             unsigned char& lastByte)
{
    getRaw(b, offset, text.data(), N);
    lastByte = static_cast<unsigned char>(text[N - 1]);
    text[N - 1] = '\0';
}

} // namespace

void writeMeasurementImage(Bytes& b)
{
    const core::MeasurementStore& st = core::store();
    const core::AcquisitionSnapshot& sn = core::snapshot();
    const core::DisplaySettings& d = core::displaySettings();
    const detail::FileExtras& x = detail::extras();

    b.assign(kMeasurementFileSize, 0);
    putI32(b, kMarker1, sn.markerPos[0]);
    putI32(b, kMarker2, sn.markerPos[1]);
    putI32(b, kAverages, sn.averages);
    putI32(b, kSmoothing, sn.smoothing);
    putI32(b, kDistance, sn.distanceMm);
    putRecord(b, kTimeRecord, st.timeRecord);
    putRecord(b, kStepResponse, st.stepResponseCurve);
    for (std::size_t k = 0; k < 5; ++k) {
        putCurve(b, kPhaseSlots + k * kCurveBytes, st.phaseSlots[k]);
        putCurve(b, kAmplitudeSlots + k * kCurveBytes, st.amplitudeSlots[k]);
    }
    putI32s(b, kSlotOccupied, st.slotOccupied.data(), 5);
    putI32(b, kOverlayAxisIndex, st.overlayAxisIndex);
    putI32s(b, kOverlayReserved, st.overlayReserved.data(), 2);
    putCurve(b, kImpedancePhase, st.impedancePhase);
    putCurve(b, kImpedanceMagnitude, st.impedanceMagnitude);
    putF32s(b, kLevelBandFrequency, st.levelBandFrequency.data(), core::kLevelBands);
    putF32s(b, kLevelMeanPeak, st.levelMeanPeak.data(), core::kLevelBands);
    putF32s(b, kLevelBandFrequencyView, st.levelBandFrequencyView.data(), core::kLevelBands);
    putF32s(b, kLevelCurrent, st.levelCurrent.data(), core::kLevelBands);
    putF32s(b, kCsdFrequency, st.csdFrequency.data(), st.csdFrequency.size());
    putF32s(b, kCsdLevel, st.csdLevel.data(), st.csdLevel.size());
    putF32s(b, kCsdTime, st.csdTime.data(), st.csdTime.size());
    putI32(b, kWindow, sn.window);
    putF32(b, kReferenceResistor, sn.referenceResistorOhm);
    putI32s(b, kImportReserved, st.importReserved.data(), 4);
    b[kImportReservedByte] = st.importReservedByte;
    putRaw(b, kUnused1, x.mesUnused1.data(), kUnused1Size);
    for (std::size_t t = 0; t < 8; ++t)
        putText(b, kUserTexts + t * kUserTextSize, d.userText[t], x.userTextLastByte[t]);
    putRaw(b, kUnused2, x.mesUnused2.data(), kUnused2Size);
    putText(b, kTsResultText, st.tsResultText, x.tsTextLastByte);
    appendDistortionBlock(b, st.distortion);
}

Bytes measurementImage()
{
    Bytes b;
    writeMeasurementImage(b);
    return b;
}

void applyMeasurementImage(const unsigned char* b)
{
    core::MeasurementStore& st = core::store();
    core::AcquisitionSnapshot& sn = core::snapshot();
    core::DisplaySettings& d = core::displaySettings();
    detail::FileExtras& x = detail::extras();

    sn.markerPos[0] = getI32(b, kMarker1);
    sn.markerPos[1] = getI32(b, kMarker2);
    sn.averages = getI32(b, kAverages);
    sn.smoothing = getI32(b, kSmoothing);
    sn.distanceMm = getI32(b, kDistance);
    getRecord(b, kTimeRecord, st.timeRecord);
    getRecord(b, kStepResponse, st.stepResponseCurve);
    for (std::size_t k = 0; k < 5; ++k) {
        getCurve(b, kPhaseSlots + k * kCurveBytes, st.phaseSlots[k]);
        getCurve(b, kAmplitudeSlots + k * kCurveBytes, st.amplitudeSlots[k]);
    }
    getI32s(b, kSlotOccupied, st.slotOccupied.data(), 5);
    st.overlayAxisIndex = getI32(b, kOverlayAxisIndex);
    getI32s(b, kOverlayReserved, st.overlayReserved.data(), 2);
    getCurve(b, kImpedancePhase, st.impedancePhase);
    getCurve(b, kImpedanceMagnitude, st.impedanceMagnitude);
    getF32s(b, kLevelBandFrequency, st.levelBandFrequency.data(), core::kLevelBands);
    getF32s(b, kLevelMeanPeak, st.levelMeanPeak.data(), core::kLevelBands);
    getF32s(b, kLevelBandFrequencyView, st.levelBandFrequencyView.data(), core::kLevelBands);
    getF32s(b, kLevelCurrent, st.levelCurrent.data(), core::kLevelBands);
    getF32s(b, kCsdFrequency, st.csdFrequency.data(), st.csdFrequency.size());
    getF32s(b, kCsdLevel, st.csdLevel.data(), st.csdLevel.size());
    getF32s(b, kCsdTime, st.csdTime.data(), st.csdTime.size());
    sn.window = getI32(b, kWindow);
    sn.referenceResistorOhm = getF32(b, kReferenceResistor);
    getI32s(b, kImportReserved, st.importReserved.data(), 4);
    st.importReservedByte = b[kImportReservedByte];
    getRaw(b, kUnused1, x.mesUnused1.data(), kUnused1Size);
    for (std::size_t t = 0; t < 8; ++t)
        getText(b, kUserTexts + t * kUserTextSize, d.userText[t], x.userTextLastByte[t]);
    getRaw(b, kUnused2, x.mesUnused2.data(), kUnused2Size);
    getText(b, kTsResultText, st.tsResultText, x.tsTextLastByte);
    st.distortion = core::DistortionRecord{};
}

bool isMeasurementFileLength(long long length)
{
    const long long fixed = static_cast<long long>(kMeasurementFileSize);
    return length == fixed ||
           (length >= fixed + static_cast<long long>(distortion_block::kMinBytes) &&
            length <= fixed + static_cast<long long>(distortion_block::kMaxBytes));
}

bool applyMeasurementFile(const unsigned char* data, std::size_t size)
{
    if (size == kMeasurementFileSize) {
        applyMeasurementImage(data);
        return true;
    }
    if (size < kMeasurementFileSize)
        return false;
    // The block is checked before anything is applied, so a damaged file changes nothing.
    core::DistortionRecord distortion;
    if (!parseDistortionBlock(data + kMeasurementFileSize, size - kMeasurementFileSize, distortion))
        return false;
    applyMeasurementImage(data);
    core::store().distortion = std::move(distortion);
    return true;
}

std::vector<std::string> implausibleSnapshotNames(const core::AcquisitionSnapshot& snapshot)
{
    std::vector<std::string> names;
    for (core::SnapshotField f : core::implausibleSnapshotFields(snapshot)) {
        switch (f) {
        case core::SnapshotField::Markers:
            names.push_back("Marker M1/M2");
            break;
        case core::SnapshotField::Averages:
            names.push_back("Mittlungen");
            break;
        case core::SnapshotField::Smoothing:
            names.push_back("Smoothing");
            break;
        case core::SnapshotField::Distance:
            names.push_back("Abstand Lautsprecher-Mikrofon");
            break;
        case core::SnapshotField::Window:
            names.push_back("Fenster");
            break;
        case core::SnapshotField::ReferenceResistor:
            names.push_back("Referenzwiderstand");
            break;
        }
    }
    return names;
}

FileStatus readMeasurementFile(const std::string& path)
{
    long long length = 0;
    if (!fileLength(path, length)) {
        showOpenFailure(path);
        return FileStatus::CannotOpen;
    }
    if (!isMeasurementFileLength(length)) {
        core::message(114, 113, core::Icon::Error);
        return FileStatus::WrongLength;
    }
    const std::size_t size = static_cast<std::size_t>(length);
    Bytes image;
    if (readFileStart(path, size, image) != ReadStatus::Ok || image.size() != size) {
        showOpenFailure(path, 28);
        return FileStatus::ReadError;
    }
    if (!applyMeasurementFile(image.data(), image.size())) {
        core::message(114, 113, core::Icon::Error);
        return FileStatus::WrongLength;
    }
    const std::vector<std::string> repaired = implausibleSnapshotNames(core::snapshot());
    if (!repaired.empty()) {
        std::string text = core::str(147);
        for (const std::string& name : repaired)
            text += "\n  " + name;
        core::messageText(text, core::str(113), core::Icon::Information);
    }
    return FileStatus::Loaded;
}

WriteStatus writeMeasurementFile(const std::string& path)
{
    const SaveResult s = saveReplacing(path, measurementImage());
    // Nothing is passed over in silence: a file that could not be created is a failed save
    // as much as a short write.
    showSaveFailure(path, s);
    return s.status;
}

LoadOutcome loadMeasurementFile()
{
    std::string path;
    if (!openDialog(41, "mes", path))
        return LoadOutcome::Cancelled;
    return readMeasurementFile(path) == FileStatus::Loaded ? LoadOutcome::Loaded
                                                           : LoadOutcome::Failed;
}

int saveMeasurementFile()
{
    std::string path;
    if (!saveDialog(42, "mes", path))
        return 0;
    if (fileExists(path) &&
        core::message(26, 0, core::Icon::Question, core::Buttons::YesNo) != core::Answer::Yes)
        return 1;
    return writeMeasurementFile(path) == WriteStatus::Written ? 1 : 0;
}

void showReadFailure()
{
    core::message(116, 0, core::Icon::Error);
}

} // namespace files
