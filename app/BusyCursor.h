#pragma once
// Shows the wait cursor while the UI thread is blocked (CONNECT, a synchronisation). While
// it is alive every message goes out with the normal cursor: the wait cursor is taken away
// before the notice is shown and put back after it is closed.
#include "common/MessageSink.h"

namespace dpx {

class BusyCursor final : public MessageSink {
public:
    BusyCursor();
    ~BusyCursor() override;
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

    void Show(const std::string& text) override;
    void ShowDetailed(const std::string& text, const std::string& detail) override;

private:
    MessageSink* previous_;  // the sink in force before; nullptr is the stderr sink
    bool waiting_ = false;
};

}  // namespace dpx
