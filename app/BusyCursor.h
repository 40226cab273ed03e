#pragma once
// Shows the wait cursor while the panel waits for its box (CONNECT, a synchronisation). A
// notice shown meanwhile waits for the operator with the normal cursor (ui::QtMessageSink).
namespace dpx {

class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace dpx
