#include "box/SoundCardImpl.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace box::soundcard_detail
{

namespace
{

// The libraries behind PortAudio (ALSA's configuration, JACK's client) print their probing
// diagnostics on stderr. None of that is for the user: ALSA's go to a silent handler, and
// stderr is closed for the duration of the calls that probe.
void silentAlsaHandler(const char*, int, const char*, int, const char*, ...) {}

} // namespace

QuietStderr::QuietStderr()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(silentAlsaHandler); });
    std::fflush(stderr);
    saved_ = ::dup(2);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && devNull >= 0)
        ::dup2(devNull, 2);
    if (devNull >= 0)
        ::close(devNull);
}

QuietStderr::~QuietStderr()
{
    if (saved_ >= 0) {
        ::dup2(saved_, 2);
        ::close(saved_);
    }
}

PortAudioSession::PortAudioSession()
{
    QuietStderr quiet;
    ok_ = Pa_Initialize() == paNoError;
}

PortAudioSession::~PortAudioSession()
{
    if (ok_) {
        QuietStderr quiet;
        Pa_Terminate();
    }
}

} // namespace box::soundcard_detail
