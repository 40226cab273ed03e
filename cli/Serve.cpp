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
#include "settings/SystemSettings.h"

namespace dpx::cli {
namespace {

// How often the service looks for Ctrl-C or SIGTERM where no descriptor wakes it (a signal
// handler can do no more than set a flag, and on Windows tells no descriptor).
constexpr int kStopPollMs = 50;

class ServiceHost final : public api::Host {
public:
    ServiceHost(const ServeSetup& setup, const SettingsRecord& record, std::filesystem::path options_file)
        : setup_(setup), record_(record), options_file_(std::move(options_file)) {}

    std::string Name() const override { return "service"; }
    // The record goes into the options file after each change, as the panel writes it, before
    // the answer: a file that cannot be written is the answer's error, not the end of the service.
    void ShowSettings() override { WriteOptionFile(options_file_, record_); }
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
    const SettingsRecord& record_;
    std::filesystem::path options_file_;
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

bool Serve(Session& session, const ServeSetup& setup, std::string* why) {
    // What the start did (options file, login, sync file) is where events begin: nobody listens yet.
    session.Publish(Source::kService);
    ServiceHost host(setup, session.Record(), options_file_name);
    api::ControlApi api(session, host);
    api::BoxRouter router({{"1", &api, &session, setup.device, platform::PortKind(setup.device), {}}});
    auto previous = WatchGone(session.Link(), session);
    const bool served = Run(router, setup, {&session}, {"1"}, why);
    session.Link().SetDeviceGoneHandler(std::move(previous));
    return served;
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

// One box of a service of several. Members are made and ended in this order: the link's
// thread outlives every use of the link.
struct ServedBox {
    BoxOption option;
    ServeSetup setup;
    std::filesystem::path folder;
    SettingsRecord record;
    SettingsRecord loaded;  // the sync file's settings
    platform::QtWorker worker;
    RS232c_bios link;
    std::unique_ptr<Session> session;
    std::unique_ptr<ServiceHost> host;
    std::unique_ptr<api::ControlApi> api;
    api::ControlApi::BoxInfo info;  // label and location from box.ini; why its start failed
    std::string outcome;  // how its start went, for the log

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
        const Outcome login = session->Connect(1, Run(record), Source::kService);
        if (!login.ok) {
            outcome = "not connected: " + (login.cause.empty() ? login.error : login.cause);
            return;
        }
        outcome = "connected";
        if (option.sync_file.empty()) return;
        const SyncOutcome sync = session->Synchronise(Run(loaded));
        if (!sync.ok) {
            outcome += ", " + option.sync_file + " not synchronised: " + capture.Joined();
            return;
        }
        record = loaded;
        WriteOptionFile(folder / options_file_name, record);
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
        box->folder = here / std::filesystem::path(std::u8string(option.name.begin(), option.name.end()));
        std::filesystem::create_directories(box->folder, ec);
        box->session = std::make_unique<Session>(box->link, box->record, box->folder);
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
        box->loaded = box->record;
        // A sync file that cannot be read fails its own box only: served as disconnected, with why.
        if (!option.sync_file.empty() && ReadSyncFile(option.sync_file, stdin, box->loaded) != 1) {
            std::error_code missing;
            box->info.start_error = option.sync_file != "-" && !std::filesystem::exists(option.sync_file, missing)
                                        ? "the sync file " + option.sync_file + " does not exist"
                                        : "the sync file " + option.sync_file + " cannot be read: " + (capture.texts.empty() ? std::string("damaged") : capture.texts.front());
        }
        UsePort(box->link, option.port);
        box->link.SetExecutor(&box->worker);
        box->host = std::make_unique<ServiceHost>(box->setup, box->record, box->folder / options_file_name);
        box->session->ApplyLinkOptions(box->Run(box->record));
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
        previous.push_back(WatchGone(box->link, *box->session));
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
        box.link.SetDeviceGoneHandler(std::move(previous[i]));
        ends.emplace_back([&box] {
            if (box.link.State().link_connected == 1 && box.link.State().link_silent == 0) box.link.ConnectLink(0);
            box.link.ClosePorts();
        });
    }
    for (std::thread& end : ends) end.join();
    for (auto& box : boxes) box->link.SetExecutor(nullptr);
    return code;
}

int ServeFleet(const ServeSetup& setup, std::string* why) {
    const std::unique_ptr<FleetView> fleet = OpenFleet(setup.mqtt, why);
    if (!fleet) return kExitUsage;
    return Run(fleet->Endpoint(), setup, {}, {}, why) ? 0 : kExitUsage;
}

}  // namespace dpx::cli
