#pragma once
// Calls from the worker threads into the window. Everything the logic tells
// the user runs on the main thread, in the order it was asked for; a call
// that needs an answer blocks only the calling worker.
#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace mv::shell {

class MainThread {
public:
    explicit MainThread(QObject* context) : context_(context) {}

    static bool isMain() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

    // Runs f on the main thread: at once when called there, else queued
    // behind every earlier call.
    void post(std::function<void()> f) const
    {
        if (isMain())
            f();
        else
            QMetaObject::invokeMethod(context_, std::move(f), Qt::QueuedConnection);
    }

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
        QMetaObject::invokeMethod(
            context_,
            [this, pending, f = std::move(f)] {
                if (!isClosing()) {
                    T answer = f();
                    std::lock_guard lock(mutex_);
                    pending->answer = std::move(answer);
                }
                std::lock_guard lock(mutex_);
                pending->done = true;
                cv_.notify_all();
            },
            Qt::QueuedConnection);
        std::unique_lock lock(mutex_);
        ++waiting_;
        cv_.wait(lock, [&] { return pending->done || closing_; });
        --waiting_;
        return pending->done ? pending->answer : fallback;
    }

    // From now on no worker waits for the main thread.
    void setClosing()
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        cv_.notify_all();
    }
    bool isClosing() const
    {
        std::lock_guard lock(mutex_);
        return closing_;
    }
    // A worker is waiting for an answer (a question is on screen or queued).
    bool hasWaitingWorker() const
    {
        std::lock_guard lock(mutex_);
        return waiting_ > 0;
    }

private:
    QObject* context_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool closing_ = false;
    int waiting_ = 0;
};

} // namespace mv::shell
