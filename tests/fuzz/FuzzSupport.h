// What the fuzz harnesses share: fresh records for every input, the program's readers fed
// from memory, the check that a save after a load gives the loaded bytes back, and what a
// user does after a load. Each harness is one small file defining LLVMFuzzerTestOneInput;
// the same file runs under libFuzzer (scripts/fuzz.sh) and, with FuzzReplayMain.cpp, as a
// test that replays the harness's corpus.
#pragma once

#include "files/ByteImage.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

enum class Reader { Measurement, Configuration, Version133, Version21, Microphone };

// The records as after start-up, the file extras cleared, messages answered in silence.
void freshRecords();

// The input as a file, for readers that take a path (and the file's length into account);
// removed again at the end of the scope.
class InputFile {
public:
    InputFile(const std::uint8_t* data, std::size_t size, const char* extension);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Loads `data` with `reader` as the program does after choosing a file (the snapshot is
// restored where the shell restores it). The microphone file goes through a file, as its
// reader takes the file's length into account.
void loadWith(Reader reader, const std::uint8_t* data, std::size_t size);

// Aborts, naming the first differing byte, when `saved` is not `loaded` byte for byte.
void requireSame(const files::Bytes& loaded, const files::Bytes& saved, const char* what);

enum class SavedFile { Measurement, Configuration };
// Saves the records as that file, loads the save into fresh records and saves again: the
// two saves must be the same bytes. For readers that bring in foreign data (importers).
void requireStableResave(SavedFile kind);

// Loads with `reader` and saves: the program's own layouts must give the loaded bytes back;
// for the importers and the microphone file the save is loaded and saved again, and must
// give the same bytes.
void loadAndResave(Reader reader, const std::uint8_t* data, std::size_t size);

// What a user does after a load: every view rendered and drawn as SVG, every text export,
// every FRD/ZMA/CSV exchange file.
void useLikeAUser();

} // namespace fuzz
