#include "platform/QtWorker.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <future>

namespace dpx::platform {

QtWorker::QtWorker() : receiver_(std::make_unique<QObject>()) {
    thread_.setObjectName(QStringLiteral("dpx20 link"));
    receiver_->moveToThread(&thread_);
    thread_.start();
}

QtWorker::~QtWorker() {
    // The work still queued runs before the thread ends; the receiver, a plain object without
    // timers or children, goes with the worker once its thread has ended.
    QMetaObject::invokeMethod(receiver_.get(), [this] { thread_.quit(); }, Qt::QueuedConnection);
    thread_.wait();
}

void QtWorker::Post(std::function<void()> work) {
    QMetaObject::invokeMethod(receiver_.get(), std::move(work), Qt::QueuedConnection);
}

void QtWorker::Run(const std::function<void()>& work) {
    if (OnWorker()) {
        work();
        return;
    }
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    QEventLoop loop;
    // Without an event loop of its own (a plain thread, or before the application has one) the
    // caller simply blocks until the work has run.
    const bool can_loop = QAbstractEventDispatcher::instance() != nullptr && QCoreApplication::instance() != nullptr;
    QMetaObject::invokeMethod(
        receiver_.get(),
        [&work, &done, &loop, can_loop] {
            work();
            // The quit is posted before the caller may go on: the loop outlives the posting,
            // and a loop that ended early drops the event with itself.
            if (can_loop) QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
            done.set_value();
        },
        Qt::QueuedConnection);
    // The loop may end early (the application quits); the work still runs to its end first.
    if (can_loop && finished.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    finished.wait();
}

}  // namespace dpx::platform
