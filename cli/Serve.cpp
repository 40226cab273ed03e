#include "cli/Serve.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

#include "http/ApiServer.h"
#include "api/ControlApi.h"
#include "model/SettingTable.h"
#include "session/Session.h"
#include "platform/ComPorts.h"
#include "settings/OptionFile.h"
#include "settings/SystemSettings.h"

namespace dpx::cli {
namespace {

// How often the service looks for Ctrl-C or SIGTERM (noted by a signal handler, which can do
// no more than set a flag).
constexpr int kStopPollMs = 50;

class ServiceHost final : public api::Host {
public:
    explicit ServiceHost(const ServeSetup& setup) : setup_(setup) {}

    std::string Name() const override { return "service"; }
    // The record goes into the options file after each change, as the panel writes it, before
    // the answer: a file that cannot be written is the answer's error, not the end of the service.
    void ShowSettings() override { SaveOptionFile(); }
    // The link options are the command line's, never the file's.
    void RunOptions(SettingsRecord& record) const override {
        record.com_port_num = setup_.com;
        record.sys_no_ack = setup_.no_ack ? 1 : 0;
        record.vertual_mode = setup_.virtual_mode ? 1 : 0;
        record.debug_mode = 0;
    }
    std::string Device() const override { return setup_.device; }
    std::string PortKind() const override { return platform::PortKind(setup_.device); }

private:
    const ServeSetup& setup_;
};

}  // namespace

bool Serve(RS232c_bios& link, const ServeSetup& setup, std::string* why) {
    ServiceHost host(setup);
    Session session(link, SystemSettings);
    api::ControlApi api(session, host);
    api::ApiServer server(api);
    if (!server.Listen(setup.api, why)) return false;
    std::printf("dpx20ctl: control API at %s\n", server.Url().c_str());
    if (server.TokenRequired()) std::printf("dpx20ctl: clients send the token kept in %s\n", api::TokenFile().c_str());
    std::fflush(stdout);

    // A box lost meanwhile (the device gone) reaches the event clients with its cause; the link
    // tells it on its own thread.
    auto previous = link.SetDeviceGoneHandler([&session] {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [&session] { session.Publish(Source::kService); },
                                  Qt::QueuedConnection);
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!setup.stop || !setup.stop()) return;
        // An operation in progress tries no further step; the loop it waits in ends too.
        session.Cancel();
        QCoreApplication::quit();
    });
    poll.start(kStopPollMs);
    QCoreApplication::exec();
    server.Close();
    link.SetDeviceGoneHandler(std::move(previous));
    return true;
}

}  // namespace dpx::cli
