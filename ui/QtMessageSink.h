#pragma once
// MessageSink over QMessageBox: a modal warning with an OK button.
#include <QString>
#include <string>

#include "common/MessageSink.h"

namespace dpx::ui {

// The text a notice shows: UTF-8 when the bytes are valid UTF-8, else one character per
// byte (Latin-1), so a debug report shows its frame bytes as they are.
QString NoticeText(const std::string& text);

class QtMessageSink final : public MessageSink {
public:
    void Show(const std::string& text) override;
    // The detail goes behind the box's "Show Details..." button.
    void ShowDetailed(const std::string& text, const std::string& detail) override;
};

}  // namespace dpx::ui
