#pragma once
// MessageSink over QMessageBox: a modal warning with an OK button.
#include "common/MessageSink.h"

namespace dpx::ui {

class QtMessageSink final : public MessageSink {
public:
    void Show(const std::string& text) override;
};

}  // namespace dpx::ui
