#pragma once
// One box: its link, its settings record, its connection and the operations every front door
// (the panel, the control API, dpx20ctl serve) runs on it. Each operation returns what happened
// instead of showing it; the notices the Parts of the program show (the synchronisation's
// summary, a file's fault) go through MessageSink as before, so a panel shows them and a
// service keeps them in a MessageCapture for its answer. Every change of the record or of the
// connection reaches the observers as one event with its source. Serial work runs on the link's
// thread (RS232c_bios::SetExecutor). Qt-free.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/Executor.h"
#include "link/RS232c_bios.h"
#include "session/Change.h"
#include "model/SettingsRecord.h"
#include "settings/FolderLock.h"
#include "settings/OptionFile.h"
#include "sync/Synchronise.h"

namespace dpx {

// Who asked for a change.
enum class Source { kPanel, kApi, kMemory, kService };
const char* SourceName(Source source);

struct SessionEvent {
    // kNotAnswering: logged in, but the box's last transaction heard nothing; kAnswering: it
    // answers again.
    enum class Kind { kSetting, kConnected, kDisconnected, kNotAnswering, kAnswering };
    Kind kind = Kind::kSetting;
    Source source = Source::kPanel;
    const Setting* setting = nullptr;  // kSetting
    int32_t value = 0;
    int32_t previous = 0;
    std::string cause;  // kDisconnected without being asked: why the box was lost; kNotAnswering
    int port = 0;       // the COM number the link uses
};

// What the front doors read of a box between its operations: the record and the link as they
// were last told to the observers. It is taken on the box's thread and read under a lock, so a
// door answers GET /state while an operation runs.
struct SessionView {
    SettingsRecord record;
    bool connected = false;  // Session::Connected()
    bool wanted = false;     // Session::Wanted()
    bool logged_in = false;  // link_connected
    int port = 0;            // link_port
    std::string failure;     // link_failure
    bool virtual_mode = false;
    bool no_ack = false;
    bool debug = false;
    bool not_answering = false;  // Session::NotAnswering(), as last told
};

// A synchronisation's figures.
struct SyncOutcome {
    bool ok = true;
    int errors = 0;           // failed steps of the last pass
    int last_failure = 0;     // the link result of the last failed step
    bool silent = false;      // given up because the box stopped answering
    std::string cause;        // why it ended before its passes were done (SyncFigures::cause), else empty
    std::string summary;      // its summary notice
    std::vector<SyncFailure> failed;  // the steps that failed, pass by pass
    // Its notices (text and detail), in order: the summary last. They are shown by whoever
    // asked for it once it has ended, never from the box's thread, so that a notice open on a
    // panel holds up no operation of the box.
    std::vector<std::pair<std::string, std::string>> messages;
};

// Shows a synchronisation's notices through MessageSink, in order.
void ShowSyncMessages(const SyncOutcome& sync);

// What an operation did.
struct Outcome {
    bool ok = true;
    std::string error;          // the text the panel shows for the failure, else empty
    std::optional<int> result;  // the link result; empty when nothing reached the box
    std::string cause;          // why the port or the box failed, when known
    std::optional<SyncOutcome> sync;  // the synchronisation it ran, if any
};

class Session {
public:
    // What a session of a program owns: its box's link, and the worker its serial work runs on.
    struct Box {
        std::unique_ptr<RS232c_bios> link;
        std::unique_ptr<Executor> worker;
    };
    // The panel's box on `link`, which must outlive it: its files in the current folder, its
    // options file kept as the panel keeps it (a file that cannot be used is rewritten from the
    // record, also when a memory file cannot be read).
    explicit Session(RS232c_bios& link);
    // A box of a service: its files in `folder`, nothing rewritten by a failed read.
    Session(RS232c_bios& link, std::filesystem::path folder);
    // The same, owning `box`: the link's work runs on its worker from now on. At the end the
    // work asked for runs out first, then the ports are closed (a logoff is the owner's).
    explicit Session(Box box);
    Session(Box box, std::filesystem::path folder);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    RS232c_bios& Link() { return link_; }
    const RS232c_bios& Link() const { return link_; }
    SettingsRecord& Record() { return kept_.record; }
    const SettingsRecord& Record() const { return kept_.record; }
    // Where the record is kept: the options file's full path once known.
    std::filesystem::path OptionsPath() const;

    // The connection asked for (the panel's CONNECT), and whether the box is reachable: logged
    // in, or in virtual mode while asked for.
    bool Wanted() const;
    // The connection taken as asked for without connecting: a link logged in by its owner
    // (dpx20ctl's own login, a test's scripted box).
    void SetWanted(bool wanted) { wanted_ = wanted ? 1 : 0; }
    bool Connected() const;
    // Connected, but the box's last transaction heard nothing at all (LinkState::link_silent);
    // a transaction the box answers ends it. On the box's thread; View() tells it elsewhere.
    bool NotAnswering() const { return Connected() && link_.State().link_silent > 0; }

    // --- the box's thread ---
    // Runs `op` on the box's thread after every operation asked for before, and returns at
    // once; what it returns is handed to `done` through `back`, which runs work on the
    // caller's own thread (its event loop). A front door that must not wait (a request of the
    // control API) asks this way; the box's operations below, called within `op`, run at once.
    using Post = std::function<void(std::function<void()>)>;
    template <class Result>
    void Submit(std::function<Result()> op, Post back, std::function<void(Result)> done) {
        ++queued_;
        link_.PostOnLink([this, op = std::move(op), back = std::move(back), done = std::move(done)]() mutable {
            Result result = op();
            --queued_;
            back([done = std::move(done), result = std::move(result)]() mutable { done(std::move(result)); });
        });
    }
    // Operations asked for with Submit that have not ended.
    bool Busy() const { return queued_ > 0; }
    // The record and the link as last told (Publish), read from any thread.
    SessionView View() const;

    // A close or a stop asked for: a running synchronisation tries no further step, and none
    // starts any more (the front door is ending).
    void Cancel() { cancel_ = true; }
    bool Cancelled() const { return cancel_; }

    // --- operations ---
    // The settings planned by the box's rules; while not connected (or with `send` false)
    // only kept. Publishes what changed.
    ChangeResult Change(const SettingValues& values, Source source, bool send = true);
    // One setting's value command as it is, without the box's rules: what the panel sends as a
    // control dialog opens (the values in force again, the adjust or the scope off first). On
    // success the record takes the value (when it is one of the setting's own) and the change
    // is told as from `source`. 1 on success, 0 on failure, as the device operation.
    int Send(const Setting& setting, int32_t value, Source source);
    // CONNECT: the COM port of `run`, two tries and the third after the pause, then (connecting
    // with sync on) the synchronisation of `run`, else the pause after a connect.
    Outcome Connect(int want, const SettingsRecord& run, Source source);
    // SynchroniseAll of `run` as one operation on the link's thread.
    SyncOutcome Synchronise(const SettingsRecord& run);
    // Reads memory n into the record when the whole file reads (else nothing changes), and
    // goes on as SyncValues with the file's values.
    Outcome LoadMemory(int n, Source source, const std::function<void()>& taken,
                       const std::function<SettingsRecord(const SettingsRecord&)>& run);
    // The record takes `values`, and then what the box holds by itself with them
    // (rules::Settle), so that it never shows a value no pass sends; the link takes its
    // options; `taken` is called; while connected, `run(record)` is synchronised.
    Outcome SyncValues(const SettingsRecord& values, Source source, const std::function<void()>& taken,
                       const std::function<SettingsRecord(const SettingsRecord&)>& run);
    // Saves the record as memory n.
    void SaveMemory(int n) const;
    // Where memory n is kept.
    std::filesystem::path MemoryPath(int n) const;
    const std::filesystem::path& Folder() const { return folder_; }
    // Takes the lock on the session's folder (the current folder for the panel) for as long as
    // the session lives: one panel or service per folder. False when another holds it, with
    // its process id in `holder` (0 when not known).
    bool TakeFolder(int64_t* holder);
    // The box's settings from its options file. The panel's reads "dpx20remote.ini" as the
    // panel always did (a missing or damaged file is made anew from the record); a service
    // box's reads its folder's file when there is one and rewrites nothing. The record is what
    // observers are told changes against from now on. False with the file's notices
    // (MessageSink) when it cannot be read whole.
    bool ReadOptions();
    // Writes the record to the options file (the box's side of every change).
    void SaveOptions() const;
    // The box's adjust memory n (1 or 2) saved or loaded; the record takes the link's mirror.
    Outcome AdjustMemory(int n, bool save, Source source);
    // The nine adjust values and the no-ACK, virtual and debug flags of `run` to the link.
    void ApplyLinkOptions(const SettingsRecord& run);
    // The record takes the link's mirror of the adjust values.
    void TakeAdjustMirror();

    // --- events ---
    // An observer is called on the box's thread: one that serves another thread hands the
    // event over to it (in order) and returns.
    using Observer = std::function<void(const SessionEvent&)>;
    int Subscribe(Observer observer);
    void Unsubscribe(int id);
    // Tells the observers every setting whose value differs from the last one told, and a
    // change of the connection, each as from `source`; on the box's thread, waiting for it
    // when asked from another.
    void Publish(Source source);
    // The link lost its box unasked (a device gone): the disconnection with its cause; the
    // connection is no longer asked for.
    void LostBox(const std::string& cause);
    // The box took `value` for value command `command` (RS232c_bios::SetTakenHandler): the
    // record follows at once and the change is told as from the operation in progress (the
    // panel's, when none is), so that a control dialog's change is an event when it happens,
    // not when the dialog closes.
    void Took(int command, int32_t value);

private:
    class Running;
    void Tell(const SessionEvent& event);
    void PublishHere(Source source);
    void TakeView();

    void Own(Box box);

    Box own_;  // empty when the link is lent
    RS232c_bios& link_;
    OptionsFile kept_;              // the record, and its options file's path
    bool panel_;                    // kept as the panel keeps it
    std::filesystem::path folder_;  // empty: the current folder
    std::atomic<int32_t> wanted_{0};
    settings_file::FolderLock lock_;
    std::atomic<bool> cancel_{false};
    std::atomic<Source> running_{Source::kPanel};  // the source of the operation in progress
    std::atomic<int> queued_{0};
    SettingsRecord told_;
    bool told_connected_ = false;
    bool told_silent_ = false;
    mutable std::mutex view_mutex_;
    SessionView view_;
    std::recursive_mutex observers_mutex_;  // an observer may subscribe another
    std::map<int, Observer> observers_;
    int next_id_ = 1;
};

}  // namespace dpx
