#include "resources/Layout.h"

namespace dpx::res {

// Placeholder until the panel layouts are filled in.
const Layout& PanelLayout() {
    static const Layout layout{kLayoutPanel, "ZR-DPX20 Remote", 243, 301, kLayoutFont, 9, {}};
    return layout;
}

const Layout& VersionBoxLayout() {
    static const Layout layout{kLayoutVersionBox, "ZR-DPX20 Remote : Version Infomation", 225, 55,
                               kLayoutFont, 9, {}};
    return layout;
}

}  // namespace dpx::res
