#include "session/Session.h"

#include <utility>

#include "common/Format.h"
#include "common/MessageSink.h"
#include "settings/OptionFile.h"
#include "sync/Connect.h"
#include "sync/Synchronise.h"

namespace dpx {
namespace {

constexpr uint32_t kAfterConnectPauseMs = 500;

}  // namespace

const char* SourceName(Source source) {
    switch (source) {
        case Source::kPanel: return "panel";
        case Source::kApi: return "api";
        case Source::kMemory: return "memory";
        case Source::kService: return "service";
    }
    return "panel";
}

Session::Session(RS232c_bios& link) : link_(link), panel_(true), told_connected_(Connected()) { TakeView(); }

Session::Session(RS232c_bios& link, std::filesystem::path folder)
    : link_(link), panel_(false), folder_(std::move(folder)), told_connected_(Connected()) {
    kept_.path = folder_ / options_file_name;
    TakeView();
}

Session::Session(Box box) : Session(*box.link) { Own(std::move(box)); }

Session::Session(Box box, std::filesystem::path folder) : Session(*box.link, std::move(folder)) { Own(std::move(box)); }

void Session::Own(Box box) {
    own_ = std::move(box);
    link_.SetExecutor(own_.worker.get());
}

Session::~Session() {
    if (!own_.link) return;
    // The work asked for still refers to the session: it runs out before anything ends.
    own_.worker.reset();
    link_.SetExecutor(nullptr);
    link_.ClosePorts();
}

void ShowSyncMessages(const SyncOutcome& sync) {
    for (const auto& [text, detail] : sync.messages) ShowMessage(text, detail);
}

bool Session::Wanted() const { return wanted_ == 1; }

bool Session::Connected() const {
    const LinkState& s = link_.State();
    return s.link_connected == 1 || (s.link_virtual != 0 && Wanted());
}

// Marks `source` as the source of the operation in progress, for what the box takes meanwhile.
class Session::Running {
public:
    Running(Session& session, Source source) : session_(session), was_(session.running_.exchange(source)) {}
    ~Running() { session_.running_ = was_; }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

private:
    Session& session_;
    Source was_;
};

ChangeResult Session::Change(const SettingValues& values, Source source, bool send) {
    const Running running(*this, source);
    ChangeResult change;
    link_.RunOnLink([&] { change = ApplyChange(link_, kept_.record, values, send); });
    Publish(source);
    return change;
}

int Session::Send(const Setting& setting, int32_t value, Source source) {
    const Running running(*this, source);
    int ok = 0;
    link_.RunOnLink([&] {
        ok = link_.SetValue(setting.command, value);
        if (ok && setting.Valid(value)) kept_.record.*setting.field = value;
    });
    Publish(source);
    return ok;
}

Outcome Session::Connect(int want, const SettingsRecord& run, Source source) {
    const Running running(*this, source);
    Outcome out;
    const int32_t before = wanted_;
    wanted_ = want;
    if (!link_.SetComNumber(run.com_port_num)) {
        wanted_ = before;
        Publish(source);
        return {false, kComPortNotValid, {}, {}, {}};
    }
    link_.ClearResult();
    bool ok = false;
    link_.RunOnLink([&] { ok = ConnectWithRetries(link_, want, run.sys_no_ack) == 1; });
    if (!ok) {
        wanted_ = 0;
        out = {false, kConnectError, link_.State().link_result, link_.State().link_failure, {}};
    } else {
        out.result = kResultOk;
    }
    Publish(source);
    if (ok && want == 1 && run.sys_sync_on != 0) {
        const SyncOutcome sync = Synchronise(run);
        if (!sync.ok) out = {false, "synchronisation: " + sync.summary, sync.last_failure, {}, {}};
        out.sync = sync;
        Publish(source);
        return out;
    }
    link_.RunOnLink([] { Pause(kAfterConnectPauseMs); });
    return out;
}

SyncOutcome Session::Synchronise(const SettingsRecord& run) {
    SyncOutcome out;
    link_.RunOnLink([&] {
        SyncFigures figures;
        MessageCapture* outer = MessageCapture::Current();
        {
            // Its notices are handed back in the figures, never shown from the box's thread.
            MessageCapture kept;
            out.ok = SynchroniseAll(link_, run, [this] { return cancel_.load(); }, &figures) == 1;
        }
        out.errors = figures.errors;
        out.last_failure = out.ok ? kResultOk : figures.last_failure;
        out.silent = figures.silent;
        out.cause = figures.cause;
        out.failed = figures.failures;
        out.messages = figures.notices;
        out.summary = figures.summary.first;
        // A caller that keeps notices for its answer keeps these too.
        if (outer)
            for (const auto& [text, detail] : out.messages) outer->ShowDetailed(text, detail);
    });
    return out;
}

Outcome Session::LoadMemory(int n, Source source, const std::function<void()>& taken,
                            const std::function<SettingsRecord(const SettingsRecord&)>& run) {
    const Running running(*this, source);
    // A damaged file must not leave half of its fields in the live settings: it is read into
    // a copy, taken only when the whole file was read.
    SettingsRecord loaded = kept_.record;
    kept_.connected = Wanted();
    if (ReadOptionFile(MemoryPath(n).string(), loaded, panel_ ? &kept_ : nullptr) != 1) return {false, "the memory file cannot be read", {}, {}, {}};
    return SyncValues(loaded, source, taken, run);
}

Outcome Session::SyncValues(const SettingsRecord& values, Source source, const std::function<void()>& taken,
                            const std::function<SettingsRecord(const SettingsRecord&)>& run) {
    const Running running(*this, source);
    link_.RunOnLink([&] {
        kept_.record = values;
        rules::Settle(kept_.record);
    });
    ApplyLinkOptions(run(kept_.record));
    if (taken) taken();
    Publish(source);
    if (!Wanted()) return {};
    const SyncOutcome sync = Synchronise(run(kept_.record));
    Publish(source);
    if (!sync.ok) return {false, "synchronisation: " + sync.summary, sync.last_failure, {}, sync};
    return {true, {}, kResultOk, {}, sync};
}

void Session::SaveMemory(int n) const { WriteOptionFile(MemoryPath(n), kept_.record); }

std::filesystem::path Session::MemoryPath(int n) const { return folder_ / MemoryFileName(n); }

bool Session::TakeFolder(int64_t* holder) {
    std::error_code ec;
    const std::filesystem::path folder = folder_.empty() ? std::filesystem::current_path(ec) : folder_;
    return ec || lock_.Take(folder, holder);
}

bool Session::ReadOptions() {
    bool ok = true;
    if (panel_) {
        kept_.connected = Wanted();
        ok = kept_.Read(options_file_name) == 1;
    } else if (std::error_code ec; std::filesystem::exists(kept_.path, ec)) {
        ok = ReadOptionFile(kept_.path.string(), kept_.record) == 1;
    }
    told_ = kept_.record;
    TakeView();
    return ok;
}

void Session::SaveOptions() const { kept_.Save(); }

std::filesystem::path Session::OptionsPath() const {
    return kept_.path.empty() ? std::filesystem::path(options_file_name) : kept_.path;
}

Outcome Session::AdjustMemory(int n, bool save, Source source) {
    const Running running(*this, source);
    link_.ClearResult();
    // The box numbers its memories from 0.
    if (link_.SetValue(save ? kMEMSV : kMEMLD, n - 1) != 1) {
        const int result = link_.State().link_result;
        return {false,
                Format("adjust memory %d %s: result %d (%s)", n, save ? "save" : "load", result, LinkResultMeaning(result)),
                result, {}, {}};
    }
    TakeAdjustMirror();
    Publish(source);
    return {true, {}, kResultOk, {}, {}};
}

void Session::ApplyLinkOptions(const SettingsRecord& run) {
    RS232c_bios::AdjustValues values{};
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = run.*kAdjustMirror[i];
    link_.SetAdjustValues(values);
    link_.SetNoAckMode(run.sys_no_ack);
    link_.SetVirtualMode(run.vertual_mode);
    link_.SetDebugMode(run.debug_mode);
}

void Session::TakeAdjustMirror() {
    const RS232c_bios::AdjustValues values = link_.GetAdjustValues();
    static_assert(std::tuple_size_v<RS232c_bios::AdjustValues> == kAdjustMirror.size());
    for (std::size_t i = 0; i < values.size(); ++i) kept_.record.*kAdjustMirror[i] = values[i];
}

int Session::Subscribe(Observer observer) {
    const std::lock_guard lock(observers_mutex_);
    observers_[next_id_] = std::move(observer);
    return next_id_++;
}

// Once it returns, the observer is not called any more: a call in progress holds the lock.
void Session::Unsubscribe(int id) {
    const std::lock_guard lock(observers_mutex_);
    observers_.erase(id);
}

void Session::Tell(const SessionEvent& event) {
    const std::lock_guard lock(observers_mutex_);
    for (const auto& [id, observer] : std::map<int, Observer>(observers_)) observer(event);
}

SessionView Session::View() const {
    const std::lock_guard lock(view_mutex_);
    return view_;
}

void Session::TakeView() {
    const LinkState& s = link_.State();
    SessionView view;
    view.record = told_;
    view.connected = told_connected_;
    view.wanted = Wanted();
    view.logged_in = s.link_connected == 1;
    view.port = s.link_port;
    view.failure = s.link_failure;
    view.virtual_mode = s.link_virtual != 0;
    view.no_ack = s.link_no_ack != 0;
    view.debug = s.link_debug != 0;
    view.not_answering = told_connected_ && told_silent_;
    const std::lock_guard lock(view_mutex_);
    view_ = std::move(view);
}

void Session::Publish(Source source) {
    link_.RunOnLink([this, source] { PublishHere(source); });
}

void Session::PublishHere(Source source) {
    if (const bool now = Connected(); now != told_connected_) {
        told_connected_ = now;
        SessionEvent event;
        event.kind = now ? SessionEvent::Kind::kConnected : SessionEvent::Kind::kDisconnected;
        event.source = source;
        // Lost without being asked to (a device gone): why.
        if (!now && Wanted()) event.cause = link_.State().link_failure;
        event.port = link_.State().link_port;
        TakeView();
        Tell(event);
    }
    // A box that stops answering stays logged in: told apart, and again once it answers. A
    // disconnection ends it without a word of its own.
    if (const bool silent = NotAnswering(); silent != told_silent_) {
        told_silent_ = silent;
        if (Connected()) {
            SessionEvent event;
            event.kind = silent ? SessionEvent::Kind::kNotAnswering : SessionEvent::Kind::kAnswering;
            event.source = source;
            if (silent) event.cause = RS232c_bios::kSilentCause;
            event.port = link_.State().link_port;
            TakeView();
            Tell(event);
        }
    }
    for (const Setting& s : kSettings) {
        const int32_t now = kept_.record.*s.field;
        const int32_t was = told_.*s.field;
        if (now == was) continue;
        told_.*s.field = now;
        TakeView();
        Tell({SessionEvent::Kind::kSetting, source, &s, now, was, {}, link_.State().link_port});
    }
    TakeView();  // the link's modes and failure, which no event tells
}

void Session::Took(int command, int32_t value) {
    if (command == kMEMSV || command == kMEMLD) {
        TakeAdjustMirror();
    } else {
        // ADJMD serves both adjust views: the input says which one the box is in.
        for (const Setting& s : kSettings) {
            if (s.command != command) continue;
            if (command == kADJMD && (s.field == &SettingsRecord::sys_LRadj_mode) != rules::IsSdiLr(kept_.record)) continue;
            if (s.Valid(value)) kept_.record.*s.field = value;
            break;
        }
    }
    Publish(running_.load());
}

void Session::LostBox(const std::string& cause) {
    wanted_ = 0;
    link_.RunOnLink([this, &cause] {
        if (!told_connected_) return;
        told_connected_ = false;
        TakeView();
        Tell({SessionEvent::Kind::kDisconnected, Source::kPanel, nullptr, 0, 0, cause, link_.State().link_port});
    });
}

}  // namespace dpx
