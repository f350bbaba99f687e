#include "window/aside.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace window {
namespace {

// The threads still running. Never destroyed: a thread that was left behind at the program's
// end may still finish while the program's statics are being destroyed.
struct Running {
    std::mutex mutex;
    std::condition_variable ended;
    int count = 0;
};

Running& running() {
    static auto* state = new Running;
    return *state;
}

} // namespace

namespace detail {

void startCounted(std::function<void()> body) {
    Running& state = running();
    {
        const std::lock_guard lock(state.mutex);
        ++state.count;
    }
    auto ended = [&state] {
        const std::lock_guard lock(state.mutex);
        --state.count;
        state.ended.notify_all();
    };
    try {
        std::thread([body = std::move(body), ended]() mutable {
            body();
            body = nullptr; // what the work owns goes before it counts as ended
            ended();
        }).detach();
    } catch (...) {
        ended(); // no thread could be started
        throw;
    }
}

} // namespace detail

bool waitForWorkAside(std::chrono::milliseconds limit) {
    Running& state = running();
    std::unique_lock lock(state.mutex);
    return state.ended.wait_for(lock, limit, [&] { return state.count == 0; });
}

} // namespace window
