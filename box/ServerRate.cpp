#include "box/ServerRate.h"

#ifdef ORVO_HAVE_PULSE
#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#endif

namespace box {

#ifdef ORVO_HAVE_PULSE

namespace {

struct Query {
    std::string sourceName;
    bool serverDone = false;
    bool sourceDone = false;
    bool sourceFound = false;
    int rateHz = 0;
};

void onServerInfo(pa_context*, const pa_server_info* info, void* user)
{
    Query& q = *static_cast<Query*>(user);
    if (q.sourceName.empty() && info && info->default_source_name)
        q.sourceName = info->default_source_name;
    q.serverDone = true;
}

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* user)
{
    Query& q = *static_cast<Query*>(user);
    if (eol != 0) {
        q.sourceDone = true;
        return;
    }
    if (info) {
        q.sourceFound = true;
        q.rateHz = static_cast<int>(info->sample_spec.rate);
    }
}

} // namespace

ServerSource querySoundServerSource()
{
    ServerSource result;
    pa_mainloop* loop = pa_mainloop_new();
    if (!loop)
        return result;
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "orvo");
    Query q;
    if (const char* source = std::getenv("PULSE_SOURCE"))
        q.sourceName = source;
    // The library's main loop is driven here without blocking, so a server that never
    // answers costs at most the deadline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    enum class Step { Connecting, AskServer, AskSource, Done } step = Step::Connecting;
    if (!context || pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        step = Step::Done;
    pa_operation* op = nullptr;
    while (step != Step::Done && std::chrono::steady_clock::now() < deadline) {
        if (pa_mainloop_iterate(loop, 0, nullptr) < 0)
            break;
        switch (step) {
        case Step::Connecting: {
            const pa_context_state_t state = pa_context_get_state(context);
            if (state == PA_CONTEXT_READY) {
                op = pa_context_get_server_info(context, onServerInfo, &q);
                step = Step::AskServer;
            } else if (!PA_CONTEXT_IS_GOOD(state)) {
                step = Step::Done;
            }
            break;
        }
        case Step::AskServer:
            if (q.serverDone) {
                if (op)
                    pa_operation_unref(op);
                op = q.sourceName.empty() ? nullptr
                                          : pa_context_get_source_info_by_name(
                                                context, q.sourceName.c_str(), onSourceInfo, &q);
                step = op ? Step::AskSource : Step::Done;
            }
            break;
        case Step::AskSource:
            if (q.sourceDone)
                step = Step::Done;
            break;
        case Step::Done:
            break;
        }
        if (step != Step::Done)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (op)
        pa_operation_unref(op);
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    result.serverAnswered = q.serverDone;
    result.sourceName = q.sourceName;
    result.sourceFound = q.sourceFound;
    result.rateHz = q.rateHz;
    return result;
}

#else

ServerSource querySoundServerSource() { return {}; }

#endif

int soundServerSourceRateHz() { return querySoundServerSource().rateHz; }

} // namespace box
