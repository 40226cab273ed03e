#pragma once
// The thread a box's serial work runs on: a QThread with an event loop of its own, so that the
// port objects made there are watched between transactions (a device that goes away is noticed
// while the link is idle). A thread that asks for work and has an event loop keeps processing
// its events while it waits (a panel keeps painting and answers the window manager), except
// user input, so no handler of the panel starts while another one waits.
#include <QThread>
#include <memory>

#include "common/Executor.h"

namespace dpx::platform {

class QtWorker final : public Executor {
public:
    QtWorker();
    // Runs what was asked for, then ends the thread.
    ~QtWorker() override;
    QtWorker(const QtWorker&) = delete;
    QtWorker& operator=(const QtWorker&) = delete;

    void Run(const std::function<void()>& work) override;
    void Post(std::function<void()> work) override;
    bool OnWorker() const override { return QThread::currentThread() == &thread_; }

private:
    QThread thread_;
    std::unique_ptr<QObject> receiver_;  // lives on thread_; work is posted to it
};

}  // namespace dpx::platform
