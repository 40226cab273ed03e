#pragma once
// Control ids of the version box layout, as its resources define them.
#include "resources/Layout.h"

namespace dpx::res::version_box {

enum Id : int {
    kOk = kIdOk,
};

}  // namespace dpx::res::version_box
