#pragma once
// A box for the fuzz targets that drive the control API: its link in virtual mode (nothing is
// sent), its session and its ControlApi, made once and kept for the process's life.
#include <string>

#include "api/ControlApi.h"
#include "link/RS232c_bios.h"
#include "session/Session.h"

namespace dpx::fuzz {

struct VirtualBox {
    class QuietHost final : public api::Host {
    public:
        std::string Name() const override { return "service"; }
        void ShowSettings() override {}
        std::string Device() const override { return "COM1"; }
        std::string PortKind() const override { return "device"; }
    };

    VirtualBox() { link.SetVirtualMode(1); }

    RS232c_bios link;
    Session session{link};
    QuietHost host;
    api::ControlApi control{session, host};
};

}  // namespace dpx::fuzz
