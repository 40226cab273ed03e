#include "resources/Layout.h"

namespace dpx::res {

// Placeholders until the control dialog layouts are filled in.
const Layout& Adjust2D3DLayout() {
    static const Layout layout{kLayoutAdjust2D3D, "ADJUST CONTROL", 200, 200, kLayoutFont, 9, {}};
    return layout;
}
const Layout& AdjustSdiLrLayout() {
    static const Layout layout{kLayoutAdjustSdiLr, "ADJUST CONTROL", 200, 120, kLayoutFont, 9, {}};
    return layout;
}
const Layout& ScopeLayout() {
    static const Layout layout{kLayoutScope, "SCOPE CONTROL", 200, 200, kLayoutFont, 9, {}};
    return layout;
}
const Layout& FunctionLayout() {
    static const Layout layout{kLayoutFunction, "FUNCTION CONTROL", 200, 200, kLayoutFont, 9, {}};
    return layout;
}
const Layout& InputSelectLayout() {
    static const Layout layout{kLayoutInputSelect, "INPUT SELECT", 150, 120, kLayoutFont, 9, {}};
    return layout;
}
const Layout& OutputPresetLayout() {
    static const Layout layout{kLayoutOutputPreset, "OUTPUT PRESET", 150, 180, kLayoutFont, 9, {}};
    return layout;
}

}  // namespace dpx::res
