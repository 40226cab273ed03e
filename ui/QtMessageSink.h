#pragma once
// MessageSink over QMessageBox: a modal warning with an OK button.
#include "common/MessageSink.h"

namespace dpx::ui {

class QtMessageSink final : public MessageSink {
public:
    void Show(const std::string& text) override;
    // The detail goes behind the box's "Show Details..." button.
    void ShowDetailed(const std::string& text, const std::string& detail) override;
};

}  // namespace dpx::ui
