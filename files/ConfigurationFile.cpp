#include "files/ConfigurationFile.h"

#include "files/FileDialogs.h"
#include "files/FileExtras.h"

#include "core/Display.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Store.h"
#include "core/Strings.h"
#include "core/Ui.h"

namespace files {

namespace {

using namespace cfg;

// File group k (3.2, 6.4, 51.2 kHz) -> per-rate table index of the store.
constexpr int kGroupRateCode[3] = {3, 1, 2};

std::size_t micAmplitudeOffset(int group) { return kMicTables + (2 * group) * kMicTableBytes; }
std::size_t micPhaseOffset(int group) { return kMicTables + (2 * group + 1) * kMicTableBytes; }

static_assert(sizeof(core::MeasurementStore{}.micCorrectionAmplitude[0]) == kMicTableBytes);
static_assert(sizeof(core::AxisSet{}.name) == kAxisSetNameBytes);

} // namespace

void writeConfigurationImage(Bytes& b)
{
    const core::MeasurementSettings& s = core::settings();
    const core::DisplaySettings& d = core::displaySettings();
    const core::MeasurementStore& st = core::store();
    const detail::FileExtras& x = detail::extras();

    b.assign(kConfigurationFileSize, 0);
    putI32(b, kParallelPort, s.parallelPort);
    putI32(b, kWindow, s.window);
    putI32(b, kSmoothing, s.smoothing);
    putI32(b, kAverages, s.averages);
    putI32s(b, kMarkerPos, s.markerPos.data(), 2);
    putI32s(b, kMarkerDragging, s.markerDragging.data(), 2);
    putI32(b, kSampleRate, s.sampleRate);
    putF32(b, kDbsplSpeakerImpedance, s.dbsplSpeakerImpedanceOhm);
    putI32(b, kFftLength, s.fftLength);
    putI32(b, kMeasuringInput, s.measuringInput);
    putI32(b, kReferenceInput, s.referenceInput);
    putI32(b, kDistance, s.distanceMm);
    putI32(b, kDbsplRealDistance, s.dbsplRealDistance);
    putI32(b, kPhaseMode, s.phaseMode);
    putF32(b, kReferenceResistor, s.referenceResistorOhm);
    putF32(b, kPreampGain, s.preampGainDb);
    putI32(b, kReferenceComputation, s.referenceComputation);
    putF32(b, kPhaseOffset, s.phaseOffsetDeg);
    for (std::size_t f = 0; f < 7; ++f) {
        const core::AxisSet& a = d.axisSets[f];
        const std::size_t o = kAxisSets + f * kAxisSetBytes;
        putRaw(b, o, a.name.data(), kAxisSetNameBytes);
        const int idx[3] = {a.x, a.y, a.z};
        for (std::size_t c = 0; c < 3; ++c) {
            const std::uint32_t raw = x.cfgScaleRefs[f][c];
            const bool keepRaw = x.cfgScaleRefsLoaded && core::decodeScaleRef(raw) == idx[c];
            putU32(b, o + kAxisSetNameBytes + 4 * c, keepRaw ? raw : core::encodeScaleRef(idx[c]));
        }
    }
    putI32(b, kShowPhase, d.showPhase);
    putI32(b, kShowAmplitude, d.showAmplitude);
    putI32(b, kShowImpedancePhase, d.showImpedancePhase);
    putI32(b, kShowImpedance, d.showImpedance);
    putI32(b, kShowStepResponse, d.showStepResponse);
    putI32(b, kShowTimeSignal, d.showTimeSignal);
    putI32(b, kStepResponse, s.stepResponse);
    putI32(b, kMicCorrection, s.micCorrection);
    putI32(b, kMicPhase0, s.micPhase0Deg);
    putI32(b, kMethod, s.method);
    putF32(b, kAddedMass, s.addedMassG);
    putF32(b, kDiaphragmDiameter, s.diaphragmDiameterMm);
    putF32(b, kMicSensitivity, s.micSensitivityMvPerPa);
    putF32(b, kBoxVolume, s.boxVolumeL);
    putI32(b, kLevelCount, s.levelCount);
    putI32(b, kLevelCalculation, s.levelCalculation);
    putI32(b, kLevelWindow, s.levelWindow);
    putI32(b, kLevelWeighting, s.levelWeighting);
    putI32(b, kLevelMethod, s.levelMethod);
    putI32s(b, kObserver, d.observer.data(), 3);
    putI32(b, kProjectionPlaneZ, d.projectionPlaneZ);
    for (std::size_t c = 0; c < core::kColorCount; ++c)
        putU32(b, kColors + 4 * c, d.colors[c]);
    putI32(b, kLineWidth, d.lineWidth);
    putI32(b, kLevelCountLimited, s.levelCountLimited);
    putI32(b, kSumMode, s.sumMode);
    putI32(b, kLevelAveraging, s.levelAveraging);
    putI32(b, kLevelDisplayMode, d.levelDisplayMode);
    for (int g = 0; g < 3; ++g) {
        const int t = core::rateTableIndex(kGroupRateCode[g]);
        const std::size_t o = kReferenceGroups + static_cast<std::size_t>(g) * kReferenceGroupBytes;
        putF32s(b, o, st.referencePhase[t].data(), core::kCurveBins);
        putF32s(b, o + 4 * core::kCurveBins, st.referenceAmplitude[t].data(), core::kCurveBins);
        putRaw(b, o + 8 * core::kCurveBins, x.cfgReferenceUnused[g].data(), kReferenceUnusedBytes);
        putF32s(b, micAmplitudeOffset(g), st.micCorrectionAmplitude[t].data(), core::kMicTableSize);
        putF32s(b, micPhaseOffset(g), st.micCorrectionPhase[t].data(), core::kMicTableSize);
    }
}

Bytes configurationImage()
{
    Bytes b;
    writeConfigurationImage(b);
    return b;
}

void applyConfigurationImage(const unsigned char* b)
{
    core::MeasurementSettings& s = core::settings();
    core::DisplaySettings& d = core::displaySettings();
    core::MeasurementStore& st = core::store();
    detail::FileExtras& x = detail::extras();

    s.parallelPort = getI32(b, kParallelPort);
    s.window = getI32(b, kWindow);
    s.smoothing = getI32(b, kSmoothing);
    s.averages = getI32(b, kAverages);
    getI32s(b, kMarkerPos, s.markerPos.data(), 2);
    getI32s(b, kMarkerDragging, s.markerDragging.data(), 2);
    s.sampleRate = getI32(b, kSampleRate);
    s.dbsplSpeakerImpedanceOhm = getF32(b, kDbsplSpeakerImpedance);
    s.fftLength = getI32(b, kFftLength);
    s.measuringInput = getI32(b, kMeasuringInput);
    s.referenceInput = getI32(b, kReferenceInput);
    s.distanceMm = getI32(b, kDistance);
    s.dbsplRealDistance = getI32(b, kDbsplRealDistance);
    s.phaseMode = getI32(b, kPhaseMode);
    s.referenceResistorOhm = getF32(b, kReferenceResistor);
    s.preampGainDb = getF32(b, kPreampGain);
    s.referenceComputation = getI32(b, kReferenceComputation);
    s.phaseOffsetDeg = getF32(b, kPhaseOffset);
    for (std::size_t f = 0; f < 7; ++f) {
        core::AxisSet& a = d.axisSets[f];
        const std::size_t o = kAxisSets + f * kAxisSetBytes;
        getRaw(b, o, a.name.data(), kAxisSetNameBytes);
        int* idx[3] = {&a.x, &a.y, &a.z};
        for (std::size_t c = 0; c < 3; ++c) {
            const std::uint32_t raw = getU32(b, o + kAxisSetNameBytes + 4 * c);
            x.cfgScaleRefs[f][c] = raw;
            *idx[c] = core::decodeScaleRef(raw);
        }
    }
    x.cfgScaleRefsLoaded = true;
    d.showPhase = getI32(b, kShowPhase);
    d.showAmplitude = getI32(b, kShowAmplitude);
    d.showImpedancePhase = getI32(b, kShowImpedancePhase);
    d.showImpedance = getI32(b, kShowImpedance);
    d.showStepResponse = getI32(b, kShowStepResponse);
    d.showTimeSignal = getI32(b, kShowTimeSignal);
    s.stepResponse = getI32(b, kStepResponse);
    s.micCorrection = getI32(b, kMicCorrection);
    s.micPhase0Deg = getI32(b, kMicPhase0);
    s.method = getI32(b, kMethod);
    s.addedMassG = getF32(b, kAddedMass);
    s.diaphragmDiameterMm = getF32(b, kDiaphragmDiameter);
    s.micSensitivityMvPerPa = getF32(b, kMicSensitivity);
    s.boxVolumeL = getF32(b, kBoxVolume);
    s.levelCount = getI32(b, kLevelCount);
    s.levelCalculation = getI32(b, kLevelCalculation);
    s.levelWindow = getI32(b, kLevelWindow);
    s.levelWeighting = getI32(b, kLevelWeighting);
    s.levelMethod = getI32(b, kLevelMethod);
    getI32s(b, kObserver, d.observer.data(), 3);
    d.projectionPlaneZ = getI32(b, kProjectionPlaneZ);
    for (std::size_t c = 0; c < core::kColorCount; ++c)
        d.colors[c] = getU32(b, kColors + 4 * c);
    d.lineWidth = getI32(b, kLineWidth);
    s.levelCountLimited = getI32(b, kLevelCountLimited);
    s.sumMode = getI32(b, kSumMode);
    s.levelAveraging = getI32(b, kLevelAveraging);
    d.levelDisplayMode = getI32(b, kLevelDisplayMode);
    for (int g = 0; g < 3; ++g) {
        const int t = core::rateTableIndex(kGroupRateCode[g]);
        const std::size_t o = kReferenceGroups + static_cast<std::size_t>(g) * kReferenceGroupBytes;
        getF32s(b, o, st.referencePhase[t].data(), core::kCurveBins);
        getF32s(b, o + 4 * core::kCurveBins, st.referenceAmplitude[t].data(), core::kCurveBins);
        getRaw(b, o + 8 * core::kCurveBins, x.cfgReferenceUnused[g].data(), kReferenceUnusedBytes);
        getF32s(b, micAmplitudeOffset(g), st.micCorrectionAmplitude[t].data(), core::kMicTableSize);
        getF32s(b, micPhaseOffset(g), st.micCorrectionPhase[t].data(), core::kMicTableSize);
    }
}

FileStatus readConfigurationFile(const std::string& path)
{
    long long length = 0;
    if (!fileLength(path, length)) {
        showOpenFailure(path);
        return FileStatus::CannotOpen;
    }
    if (length != static_cast<long long>(kConfigurationFileSize)) {
        core::message(107, 106, core::Icon::Error);
        return FileStatus::WrongLength;
    }
    Bytes image;
    if (readFileStart(path, kConfigurationFileSize, image) != ReadStatus::Ok ||
        image.size() != kConfigurationFileSize) {
        showOpenFailure(path, 116);
        return FileStatus::ReadError;
    }
    applyConfigurationImage(image.data());
    core::writePortToRegistry(core::settings().parallelPort);
    return FileStatus::Loaded;
}

WriteStatus writeConfigurationFile(const std::string& path)
{
    const SaveResult s = saveReplacing(path, configurationImage());
    // Nothing is passed over in silence: a file that could not be created is a failed save
    // as much as a short write.
    showSaveFailure(path, s, 117);
    return s.status;
}

int loadConfigurationFile()
{
    std::string path;
    if (!openDialog(47, "cfg", path))
        return 1;
    return readConfigurationFile(path) == FileStatus::Loaded ? 1 : 0;
}

int saveConfigurationFile()
{
    std::string path;
    if (!saveDialog(48, "cfg", path))
        return 0;
    if (fileExists(path) &&
        core::messageText(core::str(26), "Warnung", core::Icon::Question, core::Buttons::YesNo) !=
            core::Answer::Yes)
        return 1;
    return writeConfigurationFile(path) == WriteStatus::Written ? 1 : 0;
}

} // namespace files
