#include "tests/fuzz/FuzzSupport.h"

#include "core/Display.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Store.h"
#include "core/Ui.h"
#include "files/ConfigurationFile.h"
#include "files/Exchange.h"
#include "files/Export.h"
#include "files/Import.h"
#include "files/MeasurementFile.h"
#include "files/MicFile.h"
#include "plot/Render.h"
#include "plot/SvgCanvas.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace fuzz {

namespace {

// Answers every message with its first button and cancels every dialog, without keeping
// anything: a fuzzing run shows millions of messages.
class SilentUi : public core::Ui {
public:
    core::Answer messageBox(const std::string&, const std::string&, core::Icon,
                            core::Buttons buttons) override
    {
        return buttons == core::Buttons::YesNo ? core::Answer::Yes : core::Answer::Ok;
    }
    bool fileDialog(const core::FileDialogRequest&, std::string&) override { return false; }
    bool askDcResistance(float, float&) override { return false; }
};

} // namespace

void freshRecords()
{
    static SilentUi silent;
    core::resetSettings();
    core::resetStore();
    core::resetDisplaySettings();
    core::setSettingsStore(nullptr);
    core::setUi(&silent);
    files::resetFileExtras();
}

InputFile::InputFile(const std::uint8_t* data, std::size_t size, const char* extension)
    : path_((std::filesystem::temp_directory_path() /
             ("orvo-fuzz-" + std::to_string(::getpid()) + "." + extension))
                .string())
{
    std::ofstream f(path_, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

InputFile::~InputFile() { std::remove(path_.c_str()); }

namespace {

// Images of a few hundred kilobytes, made millions of times: the buffers are kept, so a run
// is not mostly the sanitizer's allocator mapping and unmapping pages.
enum class Buffer { Loaded, FirstSave, SecondSave };
files::Bytes& buffer(Buffer which)
{
    static files::Bytes buffers[3];
    return buffers[static_cast<int>(which)];
}

void fitInto(files::Bytes& image, const std::uint8_t* data, std::size_t size, std::size_t wanted)
{
    image.assign(wanted, 0);
    if (size > 0)
        std::copy(data, data + std::min(size, wanted), image.begin());
}

void writeImage(SavedFile kind, files::Bytes& b)
{
    if (kind == SavedFile::Configuration)
        files::writeConfigurationImage(b);
    else
        files::writeMeasurementImage(b);
}

std::size_t imageSize(Reader reader)
{
    switch (reader) {
    case Reader::Measurement: return files::kMeasurementFileSize;
    case Reader::Configuration: return files::kConfigurationFileSize;
    case Reader::Version133: return files::kVersion133FileSize;
    case Reader::Version21: return files::kVersion21FileSize;
    case Reader::Microphone: break;
    }
    return 0;
}

// The binary layouts from an image of their exact length.
void applyImage(Reader reader, const files::Bytes& image)
{
    switch (reader) {
    case Reader::Measurement:
        files::applyMeasurementImage(image.data());
        core::restoreSnapshot();
        break;
    case Reader::Configuration: files::applyConfigurationImage(image.data()); break;
    case Reader::Version133:
        files::applyVersion133Image(image.data());
        core::restoreSnapshot();
        break;
    case Reader::Version21:
        files::applyVersion21Image(image.data());
        core::restoreSnapshot();
        break;
    case Reader::Microphone: break;
    }
}

} // namespace

void loadWith(Reader reader, const std::uint8_t* data, std::size_t size)
{
    if (reader == Reader::Microphone) {
        const InputFile file(data, size, "mic");
        files::readMicFile(file.path(), true);
        return;
    }
    files::Bytes& image = buffer(Buffer::Loaded);
    // A measurement file longer than the fixed block is taken whole when its distortion block
    // is valid, as the program takes it; otherwise its first bytes are the fixed block, so
    // that the fixed layout's fields are fuzzed with inputs of any length.
    if (reader == Reader::Measurement && size > files::kMeasurementFileSize) {
        image.assign(data, data + size);
        if (files::applyMeasurementFile(image.data(), image.size())) {
            core::restoreSnapshot();
            return;
        }
    }
    fitInto(image, data, size, imageSize(reader));
    applyImage(reader, image);
}

void requireSame(const files::Bytes& loaded, const files::Bytes& saved, const char* what)
{
    if (loaded == saved)
        return;
    std::size_t at = 0;
    while (at < loaded.size() && at < saved.size() && loaded[at] == saved[at])
        ++at;
    std::fprintf(stderr, "%s: the save after a load differs at byte %zu (%zu vs %zu bytes)\n",
                 what, at, loaded.size(), saved.size());
    std::abort();
}

void requireStableResave(SavedFile kind)
{
    files::Bytes& first = buffer(Buffer::FirstSave);
    files::Bytes& second = buffer(Buffer::SecondSave);
    writeImage(kind, first);
    freshRecords();
    if (kind == SavedFile::Configuration)
        files::applyConfigurationImage(first.data());
    else if (!files::applyMeasurementFile(first.data(), first.size()))
        std::abort(); // the program refuses a file it saved itself
    writeImage(kind, second);
    requireSame(first, second, "second save");
}

void loadAndResave(Reader reader, const std::uint8_t* data, std::size_t size)
{
    freshRecords();
    loadWith(reader, data, size);
    // The program's own layouts must come back as they were loaded (the image loadWith
    // applied); that the save of the save is the same then follows.
    if (reader == Reader::Measurement || reader == Reader::Configuration) {
        const SavedFile kind =
            reader == Reader::Measurement ? SavedFile::Measurement : SavedFile::Configuration;
        files::Bytes& saved = buffer(Buffer::FirstSave);
        writeImage(kind, saved);
        requireSame(buffer(Buffer::Loaded), saved,
                    kind == SavedFile::Measurement ? "measurement file" : "configuration");
        return;
    }
    requireStableResave(reader == Reader::Microphone ? SavedFile::Configuration
                                                     : SavedFile::Measurement);
}

namespace {

// Aborts when an exchange text is neither built nor refused with a reason.
std::size_t exchangeSize(const files::ExchangeText& t)
{
    if (t.ok ? t.text.empty() : t.message.empty())
        std::abort();
    return t.ok ? t.text.size() : t.message.size();
}

} // namespace

void useLikeAUser()
{
    // As after a load in the program: every picture is rendered anew.
    plot::renderView(100);
    std::size_t total = 0;
    for (int kind : {0, 1, 2, 3, 4, 5, 6, 7, 8, 11}) {
        plot::SvgCanvas svg(640, 480);
        plot::replayView(svg, kind, 0, 0, 640, 480);
        total += svg.finish().size();
    }
    for (files::ExportKind kind :
         {files::ExportKind::AmplitudePhase, files::ExportKind::AmplitudeTernovax,
          files::ExportKind::PhaseTernovax, files::ExportKind::ImpedanceTernovax,
          files::ExportKind::ImpedancePhaseTernovax, files::ExportKind::Impedance,
          files::ExportKind::TsParameters})
        total += files::buildExport(kind).size();
    // The exchange files: every curve slot, both amplitude units, every view as CSV. A text
    // that can't be built (no curve) says why; either way something comes back.
    for (bool dbspl : {false, true}) {
        for (int slot = 0; slot <= 5; ++slot)
            total += exchangeSize(files::buildFrd(slot, dbspl));
        for (int view : {1, 2, 3, 4, 5, 6, 7, 8, 11})
            total += exchangeSize(files::buildViewCsv(view, dbspl));
    }
    total += exchangeSize(files::buildZma());
    total += exchangeSize(files::buildThdCsv(core::store().distortion));
    if (total == 0)
        std::abort(); // an SVG always has its frame: nothing at all means a broken build
}

} // namespace fuzz
