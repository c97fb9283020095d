#pragma once
// Calls from the worker threads into the window. Everything the logic tells
// the user runs on the main thread, in the order it was asked for; a call
// that needs an answer blocks only the calling worker.
//
// The calls wait in a queue of our own under a mutex and a pipe wakes the
// main thread: no Qt object crosses threads, and the hand-over is one that
// ThreadSanitizer sees (Qt's own event queue synchronises on futexes it
// cannot see).
#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class QSocketNotifier;

namespace mv::shell {

class MainThread {
public:
    explicit MainThread(QObject* context);
    ~MainThread();
    MainThread(const MainThread&) = delete;
    MainThread& operator=(const MainThread&) = delete;

    static bool isMain();

    // Runs f on the main thread: at once when called there, else queued
    // behind every earlier call.
    void post(std::function<void()> f);

    // Runs f on the main thread and answers its result. A worker waits for
    // the answer, or for `fallback` once the window is closing (the main
    // thread may then be waiting for that very worker).
    template <typename T> T ask(std::function<T()> f, T fallback)
    {
        if (isMain())
            return f();
        struct Pending {
            bool done = false;
            T answer;
        };
        auto pending = std::make_shared<Pending>();
        pending->answer = fallback;
        enqueue([this, pending, f = std::move(f)] {
            std::optional<T> answer;
            if (!isClosing())
                answer = f();
            std::lock_guard lock(mutex_);
            if (answer)
                pending->answer = std::move(*answer);
            pending->done = true;
            cv_.notify_all();
        });
        std::unique_lock lock(mutex_);
        ++waiting_;
        cv_.wait(lock, [&] { return pending->done || closing_; });
        --waiting_;
        return pending->done ? pending->answer : fallback;
    }

    // From now on no worker waits for the main thread.
    void setClosing();
    bool isClosing() const;
    // A worker is waiting for an answer (a question is on screen or queued).
    bool hasWaitingWorker() const;

private:
    void enqueue(std::function<void()> f);
    void drain();

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
    bool closing_ = false;
    int waiting_ = 0;
    int pipe_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace mv::shell
