#pragma once
// Work beside the event loop: the steps that take seconds on the largest pictures (reading a
// header, writing a file, producing a text) run on a thread of their own, and the window goes on
// with their result in a slot once they are done.

#include <QFutureWatcher>
#include <QObject>
#include <QPromise>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace window {

namespace detail {
// Runs `body` on a new thread that nothing waits for, counted until it has ended.
void startCounted(std::function<void()> body);
} // namespace detail

// Starts `work` on another thread and returns at once. Once the work is done, `done` is called
// with its result on `context`'s thread, from its event loop. Deleting the returned object
// (or `context`) before then cancels the call: `done` is destroyed there and then, on that
// thread, and the work runs to its end unseen. So the work must own everything it reads and
// writes; it never touches the window.
template <typename Work, typename Done> QObject* runAside(QObject* context, Work work, Done done) {
    using Result = std::invoke_result_t<Work&>;
    // The result is written by the thread before it reports the work finished, and read here
    // only once the watcher has seen that.
    struct Shared {
        QPromise<void> promise;
        std::optional<Result> result;
    };
    auto shared = std::make_shared<Shared>();
    auto* watcher = new QFutureWatcher<void>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, watcher,
                     [watcher, shared, done = std::move(done)]() mutable {
                         watcher->deleteLater();
                         done(std::move(*shared->result));
                     });
    watcher->setFuture(shared->promise.future());
    detail::startCounted([shared, work = std::move(work)]() mutable {
        shared->promise.start();
        {
            // The work and what it holds go before the result is handed over, so that nothing
            // the window gets back is still shared with this thread.
            auto owned = std::move(work);
            shared->result.emplace(owned());
        }
        shared->promise.finish();
    });
    return watcher;
}

// Waits until every work started by runAside has ended, or until `limit` has passed; true when
// none is left running.
bool waitForWorkAside(std::chrono::milliseconds limit);

} // namespace window
