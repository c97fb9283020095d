#include "platform/system/Sound.h"

#include <canberra.h>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace mv {
namespace {

struct Finished {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
};

void onFinished(ca_context*, uint32_t, int, void* userdata)
{
    auto* f = static_cast<Finished*>(userdata);
    std::lock_guard lock(f->m);
    f->done = true;
    f->cv.notify_all();
}

// Without a sound server or a sound card there is nothing to play on, and
// the audio libraries would only print their complaints.
bool soundOutputExists()
{
    std::error_code ec;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && (std::filesystem::exists(std::string(runtime) + "/pulse/native", ec) ||
                    std::filesystem::exists(std::string(runtime) + "/pipewire-0", ec)))
        return true;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/snd", ec))
        if (entry.path().filename().string().rfind("pcm", 0) == 0)
            return true;
    return false;
}

ca_context* soundContext()
{
    static ca_context* context = [] {
        ca_context* c = nullptr;
        if (!soundOutputExists())
            return c;
        if (ca_context_create(&c) != CA_SUCCESS)
            return static_cast<ca_context*>(nullptr);
        ca_context_change_props(c, CA_PROP_APPLICATION_NAME, "Moirevance", nullptr);
        if (ca_context_open(c) != CA_SUCCESS) {
            ca_context_destroy(c);
            return static_cast<ca_context*>(nullptr);
        }
        return c;
    }();
    return context;
}

} // namespace

void beep()
{
    if (ca_context* context = soundContext())
        ca_context_play(context, 0, CA_PROP_EVENT_ID, "bell-window-system", nullptr);
}

void playCompletionSound(bool waitForEnd)
{
    ca_context* context = soundContext();
    if (!context)
        return;

    static Finished finished; // outlives any callback that comes late
    {
        std::lock_guard lock(finished.m);
        finished.done = false;
    }
    ca_proplist* props = nullptr;
    if (ca_proplist_create(&props) != CA_SUCCESS)
        return;
    ca_proplist_sets(props, CA_PROP_EVENT_ID, "complete");
    ca_proplist_sets(props, CA_PROP_EVENT_DESCRIPTION, "Movie finished");
    const int rc = ca_context_play_full(context, 1, props, onFinished, &finished);
    ca_proplist_destroy(props);
    if (rc != CA_SUCCESS || !waitForEnd)
        return;
    std::unique_lock lock(finished.m);
    finished.cv.wait_for(lock, std::chrono::seconds(3), [] { return finished.done; });
}

} // namespace mv
