#include "resources/Layout.h"

namespace dpx::res {

const char* const kStringVersionMenu = "dpx20remote のﾊﾞｰｼﾞｮﾝ情報(&A)...";

const Layout* FindLayout(int id) {
    switch (id) {
        case kLayoutVersionBox: return &VersionBoxLayout();
        case kLayoutPanel: return &PanelLayout();
        case kLayoutAdjust2D3D: return &Adjust2D3DLayout();
        case kLayoutAdjustSdiLr: return &AdjustSdiLrLayout();
        case kLayoutScope: return &ScopeLayout();
        case kLayoutFunction: return &FunctionLayout();
        case kLayoutInputSelect: return &InputSelectLayout();
        case kLayoutOutputPreset: return &OutputPresetLayout();
        default: return nullptr;
    }
}

}  // namespace dpx::res
