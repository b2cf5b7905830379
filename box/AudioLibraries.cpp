// The sound card's system libraries (PortAudio, the sound server's client library, ALSA) are
// loaded when the sound card is first used, not when a program starts. Linked directly they
// bring some thirty libraries with them (codecs, X11, D-Bus, JACK), and every start of
// orvo-tool or the window paid for loading them, although most runs never touch a sound card.
//
// The functions the sound card calls are defined here with the libraries' own signatures and
// forward to the library loaded on first use, so the code that uses them reads as ordinary
// PortAudio and client-library code. Where a library is missing, each function answers as
// the library does when it has nothing to offer (an error code, no device, no main loop), and
// the sound card reports "Hardware nicht vorhanden" as for a missing device.
//
// Each forwarder looks its function up once (a function-local static); the handles are those
// of the dynamic linker, which holds the libraries for the life of the process anyway.

#include <dlfcn.h>

#include <alsa/asoundlib.h>
#include <portaudio.h>

#ifdef ORVO_HAVE_PULSE
#include <pulse/pulseaudio.h>
#endif

namespace box
{
namespace
{

enum class AudioLibrary { PortAudio, Alsa, Pulse };

void* libraryHandle(AudioLibrary which)
{
    // The sonames of the runtime packages (libportaudio2, libasound2, libpulse0).
    static void* const portAudio = ::dlopen("libportaudio.so.2", RTLD_NOW | RTLD_LOCAL);
    static void* const alsa = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    static void* const pulse = ::dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
    switch (which) {
    case AudioLibrary::PortAudio:
        return portAudio;
    case AudioLibrary::Alsa:
        return alsa;
    case AudioLibrary::Pulse:
        return pulse;
    }
    return nullptr;
}

template <typename Function> Function librarySymbol(AudioLibrary which, const char* name)
{
    void* handle = libraryHandle(which);
    return handle ? reinterpret_cast<Function>(::dlsym(handle, name)) : nullptr;
}

} // namespace
} // namespace box

// Hidden, so that no library loaded later (ALSA's plugin for the sound server links the
// client library itself) ever finds these in place of its own.
#define ORVO_AUDIO_FORWARDER __attribute__((visibility("hidden")))

// One forwarder: looks NAME up in LIB once and calls it, or answers FALLBACK without it (for a
// function without a result, FALLBACK is `void()`).
#define ORVO_FORWARD(LIB, RESULT, NAME, PARAMETERS, ARGUMENTS, FALLBACK)                           \
    extern "C" ORVO_AUDIO_FORWARDER RESULT NAME PARAMETERS                                         \
    {                                                                                              \
        static const auto function =                                                               \
            box::librarySymbol<decltype(&NAME)>(box::AudioLibrary::LIB, #NAME);                    \
        return function ? function ARGUMENTS : (FALLBACK);                                         \
    }

// PortAudio. Without the library nothing initialises, so the rest is never reached; the
// answers below only keep a stray call harmless.
ORVO_FORWARD(PortAudio, PaError, Pa_Initialize, (void), (), paNotInitialized)
ORVO_FORWARD(PortAudio, PaError, Pa_Terminate, (void), (), paNotInitialized)
ORVO_FORWARD(PortAudio, const char*, Pa_GetErrorText, (PaError error), (error),
             "PortAudio (libportaudio.so.2) ist nicht installiert")
ORVO_FORWARD(PortAudio, const PaHostErrorInfo*, Pa_GetLastHostErrorInfo, (void), (), nullptr)
ORVO_FORWARD(PortAudio, PaDeviceIndex, Pa_GetDeviceCount, (void), (), paNotInitialized)
ORVO_FORWARD(PortAudio, PaDeviceIndex, Pa_GetDefaultInputDevice, (void), (), paNoDevice)
ORVO_FORWARD(PortAudio, PaDeviceIndex, Pa_GetDefaultOutputDevice, (void), (), paNoDevice)
ORVO_FORWARD(PortAudio, const PaDeviceInfo*, Pa_GetDeviceInfo, (PaDeviceIndex device), (device),
             nullptr)
ORVO_FORWARD(PortAudio, const PaHostApiInfo*, Pa_GetHostApiInfo, (PaHostApiIndex hostApi),
             (hostApi), nullptr)
ORVO_FORWARD(PortAudio, PaError, Pa_IsFormatSupported,
             (const PaStreamParameters* input, const PaStreamParameters* output, double sampleRate),
             (input, output, sampleRate), paNotInitialized)
ORVO_FORWARD(PortAudio, PaError, Pa_OpenStream,
             (PaStream * *stream, const PaStreamParameters* input, const PaStreamParameters* output,
              double sampleRate, unsigned long framesPerBuffer, PaStreamFlags flags,
              PaStreamCallback* callback, void* user),
             (stream, input, output, sampleRate, framesPerBuffer, flags, callback, user),
             paNotInitialized)
ORVO_FORWARD(PortAudio, PaError, Pa_CloseStream, (PaStream * stream), (stream), paNotInitialized)
ORVO_FORWARD(PortAudio, PaError, Pa_StartStream, (PaStream * stream), (stream), paNotInitialized)
ORVO_FORWARD(PortAudio, PaError, Pa_StopStream, (PaStream * stream), (stream), paNotInitialized)
ORVO_FORWARD(PortAudio, PaError, Pa_AbortStream, (PaStream * stream), (stream), paNotInitialized)
ORVO_FORWARD(PortAudio, PaError, Pa_IsStreamActive, (PaStream * stream), (stream), paNotInitialized)
ORVO_FORWARD(PortAudio, const PaStreamInfo*, Pa_GetStreamInfo, (PaStream * stream), (stream),
             nullptr)

// ALSA: only to keep its diagnostics off the terminal.
ORVO_FORWARD(Alsa, int, snd_lib_error_set_handler, (snd_lib_error_handler_t handler), (handler), 0)

#ifdef ORVO_HAVE_PULSE
// The sound server's client library, asked for the rate the server runs. Without it there
// is no main loop, and the rate is not known (as with no server).
ORVO_FORWARD(Pulse, pa_mainloop*, pa_mainloop_new, (void), (), nullptr)
ORVO_FORWARD(Pulse, void, pa_mainloop_free, (pa_mainloop * loop), (loop), void())
ORVO_FORWARD(Pulse, pa_mainloop_api*, pa_mainloop_get_api, (pa_mainloop * loop), (loop), nullptr)
ORVO_FORWARD(Pulse, int, pa_mainloop_iterate, (pa_mainloop * loop, int block, int* result),
             (loop, block, result), -1)
ORVO_FORWARD(Pulse, pa_context*, pa_context_new, (pa_mainloop_api * api, const char* name),
             (api, name), nullptr)
ORVO_FORWARD(Pulse, void, pa_context_unref, (pa_context * context), (context), void())
ORVO_FORWARD(Pulse, int, pa_context_connect,
             (pa_context * context, const char* server, pa_context_flags_t flags,
              const pa_spawn_api* api),
             (context, server, flags, api), -1)
ORVO_FORWARD(Pulse, void, pa_context_disconnect, (pa_context * context), (context), void())
ORVO_FORWARD(Pulse, pa_context_state_t, pa_context_get_state, (const pa_context* context),
             (context), PA_CONTEXT_FAILED)
ORVO_FORWARD(Pulse, pa_operation*, pa_context_get_server_info,
             (pa_context * context, pa_server_info_cb_t callback, void* user),
             (context, callback, user), nullptr)
ORVO_FORWARD(Pulse, pa_operation*, pa_context_get_source_info_by_name,
             (pa_context * context, const char* name, pa_source_info_cb_t callback, void* user),
             (context, name, callback, user), nullptr)
ORVO_FORWARD(Pulse, void, pa_operation_unref, (pa_operation * operation), (operation), void())
#endif

#undef ORVO_FORWARD
#undef ORVO_AUDIO_FORWARDER
