#pragma once
// Where a box's serial work runs. A link given an executor does every operation that uses its
// port on the executor's thread, one at a time in the order asked, so that the thread that
// asked (a panel's, a service's) is never the one waiting on the serial line. Qt-free: the
// Qt implementation lives in platform/.
#include <functional>

namespace dpx {

class Executor {
public:
    virtual ~Executor() = default;
    // Runs `work` on the executor's thread after the work asked for before, and returns once
    // it has run. Asked for on the executor's own thread, it runs at once.
    virtual void Run(const std::function<void()>& work) = 0;
    // Queues `work` to run on the executor's thread after the work asked for before, and
    // returns at once: a caller that must not wait (a request of the control API) hears of the
    // outcome from the work itself.
    virtual void Post(std::function<void()> work) = 0;
    // True on the executor's own thread.
    virtual bool OnWorker() const = 0;
};

}  // namespace dpx
