#pragma once
// The control API served by the panel: the panel's link and settings, on the panel's thread
// and event loop (also while its dialogs and notices are open). What a
// request changes shows on the panel's controls and goes into the options file as the panel
// writes it; what the operator changes, on the panel or in a dialog, reaches the event
// clients when the handler has run. The context menu's "Control API..." sets the address it
// serves, kept per user.
#include <memory>
#include <string>

#include "emberd/EmberServer.h"
#include "http/ApiServer.h"
#include "api/ControlApi.h"
#include "app/TopDialog.h"
#include "ui/QtMessageSink.h"

namespace dpx {

// The per-user setting with the panel's control API address ([ADDR:]PORT; empty: none).
inline constexpr char kApiListenKey[] = "api/listen";

class PanelApi final : public api::Host {
public:
    // Serves nothing until Start(); reports the panel's changes from now on, and the notices
    // `notices` shows (the panel's message boxes) as they open.
    explicit PanelApi(TopDialog& panel, ui::QtMessageSink* notices = nullptr);
    ~PanelApi() override;
    PanelApi(const PanelApi&) = delete;
    PanelApi& operator=(const PanelApi&) = delete;

    // HTTPS and WSS with these PEM files from the next Start() on (--api-cert, --api-key).
    void UseTls(const std::string& cert_file, const std::string& key_file) { server_.SetTls(cert_file, key_file); }
    // Serves on `address` ([ADDR:]PORT), or nothing when it is empty. False with `why`.
    bool Start(const std::string& address, std::string* why);
    // Where it serves, with the token file when one is needed; empty when it serves nothing.
    std::string Where() const;
    // Serves the Ember+ provider on `address` ([ADDR:]PORT, --ember); false with `why`.
    bool StartEmber(const std::string& address, std::string* why);
    std::string EmberWhere() const { return ember_ ? ember_->Address() : std::string(); }
    api::ControlApi& Api() { return api_; }

    std::string Name() const override { return "panel"; }
    // The options file before the answer, on the box's thread; the controls on the panel's.
    void ShowSettings() override;
    void ShowConnected() override;
    std::string Device() const override;
    std::string PortKind() const override;

private:
    // "Control API...": asks for the address, keeps it per user and serves there.
    void Configure();

    TopDialog& panel_;
    api::ControlApi api_;
    api::ApiServer server_;
    ui::QtMessageSink* notices_;
    std::string address_;  // where it serves, as asked for ([ADDR:]PORT); empty: nowhere
    std::unique_ptr<ember::EmberServer> ember_;  // after server_, whose events it shares
};

}  // namespace dpx
