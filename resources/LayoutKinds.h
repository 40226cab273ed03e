#pragma once
// Short names of the control kinds, for the layout tables only.
#include "resources/Layout.h"

namespace dpx::res::kinds {

inline constexpr Kind kText = Kind::StaticText;
inline constexpr Kind kGroup = Kind::GroupBox;
inline constexpr Kind kCheck = Kind::CheckBox;
inline constexpr Kind kRadio = Kind::RadioButton;
inline constexpr Kind kButton = Kind::PushButton;
inline constexpr Kind kBar = Kind::HScrollBar;
inline constexpr Kind kEdit = Kind::EditField;
inline constexpr Kind kPicture = Kind::Picture;

}  // namespace dpx::res::kinds
