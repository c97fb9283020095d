#include "shell/MainThread.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>

#include <fcntl.h>
#include <unistd.h>

namespace mv::shell {

MainThread::MainThread(QObject* context)
{
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) == 0) {
        notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, context);
        QObject::connect(notifier_, &QSocketNotifier::activated, context, [this] { drain(); });
    }
}

MainThread::~MainThread()
{
    delete notifier_;
    for (int fd : pipe_)
        if (fd >= 0)
            ::close(fd);
}

bool MainThread::isMain() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

void MainThread::post(std::function<void()> f)
{
    if (isMain())
        f();
    else
        enqueue(std::move(f));
}

void MainThread::enqueue(std::function<void()> f)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(f));
    }
    const char wake = 1;
    // A full pipe already holds a wake-up; the queue keeps the calls.
    [[maybe_unused]] auto n = ::write(pipe_[1], &wake, 1);
}

void MainThread::drain()
{
    char buf[256];
    while (::read(pipe_[0], buf, sizeof buf) > 0) {
    }
    // One call at a time: a call may open a dialog whose event loop drains
    // the rest, in order, before it returns.
    for (;;) {
        std::function<void()> f;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty())
                return;
            f = std::move(queue_.front());
            queue_.pop_front();
        }
        f();
    }
}

void MainThread::setClosing()
{
    std::lock_guard lock(mutex_);
    closing_ = true;
    cv_.notify_all();
}

bool MainThread::isClosing() const
{
    std::lock_guard lock(mutex_);
    return closing_;
}

bool MainThread::hasWaitingWorker() const
{
    std::lock_guard lock(mutex_);
    return waiting_ > 0;
}

} // namespace mv::shell
