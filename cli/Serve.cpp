#include "cli/Serve.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "api/BoxRouter.h"
#include "cli/Ctl.h"
#include "cli/Interrupt.h"
#include "ctl/BoxFile.h"
#include "api/ControlApi.h"
#include "common/Format.h"
#include "common/MessageSink.h"
#include "emberd/EmberServer.h"
#include "http/ApiServer.h"
#include "platform/QtWorker.h"
#include "model/SettingTable.h"
#include "session/Session.h"
#include "platform/ComPorts.h"
#include "settings/OptionFile.h"

namespace dpx::cli {
namespace {

// How often the service looks for Ctrl-C or SIGTERM where no descriptor wakes it (a signal
// handler can do no more than set a flag, and on Windows tells no descriptor).
constexpr int kStopPollMs = 50;

class ServiceHost final : public api::Host {
public:
    ServiceHost(const ServeSetup& setup, const Session& session) : setup_(setup), session_(session) {}

    std::string Name() const override { return "service"; }
    // The record goes into the options file after each change, as the panel writes it, before
    // the answer: a file that cannot be written is the answer's error, not the end of the service.
    void ShowSettings() override { session_.SaveOptions(); }
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
    const Session& session_;
};

// Tells a box lost meanwhile (the device gone) to the event clients, with its cause; the link
// tells it on its own thread, where it is told once the work in progress has ended.
RS232c_bios::DeviceGoneHandler WatchGone(RS232c_bios& link, Session& session) {
    return link.SetDeviceGoneHandler([&link, &session] { link.PostOnLink([&session] { session.Publish(Source::kService); }); });
}

// Listens, prints where, opens the Ember+ provider and the MQTT door of `boxes` when asked to,
// and serves until `stop` is true; every session is cancelled then.
bool Run(api::Endpoint& endpoint, const ServeSetup& setup, const std::vector<Session*>& sessions,
         const std::vector<std::string>& boxes, std::string* why) {
    std::optional<api::ApiServer> server;
    if (!setup.api.empty()) {
        server.emplace(endpoint);
        server->SetTls(setup.api_cert, setup.api_key);
        if (!server->Listen(setup.api, why)) return false;
    }
    // After the HTTP server, whose events it shares, and ended before it.
    std::unique_ptr<ember::EmberServer> ember;
    if (!setup.ember.empty()) {
        ember = ember::StartEmber(endpoint, server ? &*server : nullptr, setup.ember, why);
        if (!ember) return false;
    }
    std::unique_ptr<MqttDoor> door;
    if (!setup.mqtt.url.empty() && !boxes.empty()) {
        // The broker's account decides who may send commands; the door's requests carry the
        // token where the HTTP door asks for it.
        door = OpenMqttDoor(endpoint, boxes, setup.mqtt, [&server] {
            std::string ignored;
            return server && server->TokenRequired() ? "Bearer " + api::LoadOrMakeToken(&ignored) : std::string();
        }, why);
        if (!door) return false;
    }
    if (server) {
        std::printf("dpx20ctl: control API at %s\n", server->Url().c_str());
        if (server->TokenRequired()) std::printf("dpx20ctl: clients send the token kept in %s\n", api::TokenFile().c_str());
    }
    if (ember) std::printf("dpx20ctl: Ember+ provider at %s\n", ember->Address().c_str());
    std::fflush(stdout);
    const auto look = [&] {
        if (!setup.stop || !setup.stop()) return;
        // An operation in progress tries no further step; the loop it waits in ends too.
        for (Session* session : sessions) session->Cancel();
        QCoreApplication::quit();
    };
    // The idle service sleeps until a request or a signal comes.
    QTimer poll;
    std::unique_ptr<QSocketNotifier> woken;
    if (const int fd = InterruptDescriptor(); fd >= 0) {
        woken = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(woken.get(), &QSocketNotifier::activated, [&] { look(); });
    } else {
        QObject::connect(&poll, &QTimer::timeout, look);
        poll.start(kStopPollMs);
    }
    QCoreApplication::exec();
    door.reset();
    ember.reset();
    if (server) server->Close();
    return true;
}

}  // namespace

bool CheckListen(const std::string& where, std::string* why) {
    api::ListenAddress a;
    if (!api::ParseListenAddress(where, &a, why)) return false;
    QHostAddress address;
    if (!address.setAddress(QString::fromStdString(a.host))) {
        *why = "not an IP address: " + a.host + " (the control API listens on an address of this computer)";
        return false;
    }
    QTcpServer probe;
    if (!probe.listen(address, a.port)) {
        *why = "cannot listen on " + where + ": " + probe.errorString().toStdString();
        return false;
    }
    return true;
}

void UsePort(RS232c_bios& link, const std::string& port) {
    const int com = ComNumberOf(port);
    if (com < 0) throw UsageError("--port " + port + ": a COM number is 1 to 8 (or COM1 to COM8). " + platform::PortNameHint());
    // Replies a run gave up are left on record for the next run on the same device.
    link.SetAstrayRecords(std::make_shared<AstrayRecords>(AstrayRecords::DefaultFolder()));
    if (com > 0) {
        link.SetPortFactory(platform::MakePortFactory(), platform::ComDeviceName);
        link.SetComNumber(com);
        return;
    }
    std::string why;
    if (!platform::CheckPortName(port, &why)) throw UsageError("--port " + port + ": " + why + " " + platform::PortNameHint());
    // A device path or address is served as COM1 of this run, beside the map.
    link.SetPortFactory([port](int) { return platform::MakeSerialPort(port); });
    link.SetComNumber(1);
}

std::string PortDevice(const std::string& port) {
    const int com = ComNumberOf(port);
    return com > 0 ? platform::ComDeviceName(com) : port;
}

bool SamePort(const std::string& a, const std::string& b) { return PortDevice(a) == PortDevice(b); }

namespace {

// Why a box's login failed, as the log says it: the port's failure when the port itself
// failed, else what the box answered.
std::string LoginFailure(const RS232c_bios& link, const Outcome& login) {
    const SerialPort* port = link.Port(link.State().link_port);
    if (!port) return "cannot open the port: " + (login.cause.empty() ? login.error : login.cause);
    if (!port->IsUsable() && !login.cause.empty()) return "login: " + login.cause;
    if (login.result) return Format("login: result %d (%s)", *login.result, LinkResultMeaning(*login.result));
    return login.error;
}

// One box of a service. Members are ended in the reverse order: its door before its session,
// which ends its link's thread before its link.
struct ServedBox {
    BoxOption option;
    ServeSetup setup;
    std::filesystem::path folder;
    SettingsRecord loaded;  // the sync file's settings
    std::unique_ptr<Session> session;
    std::unique_ptr<ServiceHost> host;
    std::unique_ptr<api::ControlApi> api;
    api::ControlApi::BoxInfo info;  // label and location from box.ini; why its start failed
    std::string outcome;  // how its start went, for the log

    RS232c_bios& Link() { return session->Link(); }
    SettingsRecord Run(const SettingsRecord& record) const {
        SettingsRecord run = record;
        host->RunOptions(run);
        run.sys_sync_on = 0;
        return run;
    }
    // Logs in and pushes the sync file, on a thread of the caller's; what it showed is kept.
    void Start() {
        if (!info.start_error.empty()) {
            outcome = "not connected: " + info.start_error;
            return;
        }
        MessageCapture capture;
        const Outcome login = session->Connect(1, Run(session->Record()), Source::kService);
        if (!login.ok) {
            outcome = "not connected: " + LoginFailure(session->Link(), login);
            return;
        }
        outcome = "connected";
        if (option.sync_file.empty()) return;
        // The record takes what the box took, as after a memory load.
        const Outcome sync = session->SyncValues(loaded, Source::kService, nullptr, [this](const SettingsRecord& r) { return Run(r); });
        if (!sync.ok) {
            outcome += ", " + option.sync_file + " not synchronised: " + capture.Joined();
            return;
        }
        session->SaveOptions();
        outcome += ", " + option.sync_file + " synchronised";
    }
};

}  // namespace

int ServeBoxes(const std::vector<BoxOption>& given, const ServeSetup& common, std::string* why) {
    // A port that is taken ends the service before any box is sent anything.
    if (!common.api.empty() && !CheckListen(common.api, why)) return kExitUsage;
    std::vector<std::unique_ptr<ServedBox>> boxes;
    std::error_code ec;
    const std::filesystem::path here = std::filesystem::current_path(ec);
    for (const BoxOption& option : given) {
        auto box = std::make_unique<ServedBox>();
        box->option = option;
        box->setup = common;
        box->setup.device = PortDevice(option.port);
        const int com = ComNumberOf(option.port);
        box->setup.com = com > 0 ? com : 1;
        box->folder = option.here ? here : here / std::filesystem::path(std::u8string(option.name.begin(), option.name.end()));
        std::filesystem::create_directories(box->folder, ec);
        box->session = std::make_unique<Session>(
            Session::Box{std::make_unique<RS232c_bios>(), std::make_unique<platform::QtWorker>()}, box->folder);
        if (int64_t holder = 0; !box->session->TakeFolder(&holder)) {
            *why = Format("the folder %s is in use by another panel or service (process %lld)",
                          box->folder.string().c_str(), static_cast<long long>(holder));
            return kExitFile;
        }
        MessageCapture capture;
        if (!box->session->ReadOptions()) {
            *why = option.name + ": " + capture.Joined();
            return kExitFile;
        }
        BoxFile file = ReadBoxFile(box->folder);
        for (const std::string& problem : file.problems) std::fprintf(stderr, "dpx20ctl: warning: %s\n", problem.c_str());
        box->info.label = std::move(file.label);
        box->info.location = std::move(file.location);
        box->loaded = box->session->Record();
        // A sync file that cannot be read fails its own box only: served as disconnected, with why.
        if (!option.sync_file.empty() && ReadSyncFile(option.sync_file, stdin, box->loaded) != 1) {
            std::error_code missing;
            box->info.start_error = option.sync_file != "-" && !std::filesystem::exists(option.sync_file, missing)
                                        ? "the sync file " + option.sync_file + " does not exist"
                                        : "the sync file " + option.sync_file + " cannot be read: " + (capture.texts.empty() ? std::string("damaged") : capture.texts.front());
        }
        UsePort(box->Link(), option.port);
        if (common.trace) box->Link().Trace().SetStream(common.trace);
        box->host = std::make_unique<ServiceHost>(box->setup, *box->session);
        box->session->ApplyLinkOptions(box->Run(box->session->Record()));
        boxes.push_back(std::move(box));
    }
    // Every box logs in at once: a slow or silent one holds up no other.
    std::vector<std::thread> starts;
    for (auto& box : boxes) starts.emplace_back([&box] { box->Start(); });
    for (std::thread& start : starts) start.join();

    std::vector<api::BoxRouter::Box> served;
    std::vector<Session*> sessions;
    std::vector<std::string> names;
    std::vector<RS232c_bios::DeviceGoneHandler> previous;
    for (auto& box : boxes) {
        std::fprintf(stderr, "dpx20ctl: box %s on %s: %s\n", box->option.name.c_str(), box->setup.device.c_str(),
                     box->outcome.c_str());
        box->api = std::make_unique<api::ControlApi>(*box->session, *box->host);
        served.push_back({box->option.name, box->api.get(), box->session.get(), box->option.port,
                          platform::PortKind(box->setup.device), box->info});
        sessions.push_back(box->session.get());
        names.push_back(box->option.name);
        previous.push_back(WatchGone(box->Link(), *box->session));
    }
    int code = 0;
    {
        api::BoxRouter router(served);
        if (!Run(router, common, sessions, names, why)) code = kExitUsage;
    }
    // Each box is logged off unless its last transaction heard nothing: it would not hear it.
    // All at once, each on its own thread: a slow box holds up no other's end.
    for (auto& box : boxes) box->api.reset();
    std::vector<std::thread> ends;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        ServedBox& box = *boxes[i];
        box.Link().SetDeviceGoneHandler(std::move(previous[i]));
        ends.emplace_back([&box] {
            RS232c_bios& link = box.Link();
            if (link.State().link_connected == 1 && link.State().link_silent == 0) link.ConnectLink(0);
            link.ClosePorts();
        });
    }
    for (std::thread& end : ends) end.join();
    return code;
}

int ServeFleet(const ServeSetup& setup, std::string* why) {
    const std::unique_ptr<FleetView> fleet = OpenFleet(setup.mqtt, why);
    if (!fleet) return kExitUsage;
    return Run(fleet->Endpoint(), setup, {}, {}, why) ? 0 : kExitUsage;
}

}  // namespace dpx::cli
