#pragma once
// The device link: serial channel, command transaction, link connection and the device
// operations. Each box's Session owns its link (tests lend one they script); everything else
// is handed the link it drives.
// Results are integers: link result codes inside the link, 1 success / 0 failure from
// connection and device operations. Messages go through MessageSink: the COM-number messages
// always, every other one only in debug mode.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/Executor.h"
#include "model/CommandTable.h"
#include "link/AstrayRecords.h"
#include "link/FrameTrace.h"
#include "link/SerialPort.h"

namespace dpx {

// The link's state. The link alone writes it; the panel, tools and tests read it through
// RS232c_bios::State().
struct LinkState {
    int32_t link_connected = 0;
    int32_t link_port = 1;
    int32_t link_category = kCategoryUnknown;
    uint32_t link_last_tick = 0;
    int32_t link_busy = 0;
    int32_t link_virtual = 0;
    int32_t link_no_ack = 0;
    int32_t link_debug = 1;
    std::string report_text;
    // The link result of the latest SendCommand (a device operation that failed stops at
    // the command the box refused or did not answer, so this is that command's result).
    int32_t link_result = kResultOk;
    // Why the last connect or disconnect attempt failed, as "device: cause" (device missing,
    // no permission, busy, gone, no answer); empty when unknown. Cleared when an attempt
    // starts; the panel shows it as the detail of its connect error.
    std::string link_failure;
    // Transactions in a row that heard nothing from the box: every write of the frame timed
    // out and no owed late reply came either. Any byte of a reply sets it back to 0.
    int32_t link_silent = 0;
};

// The scoped test seam that may write a link's state (tests/support/TestSeam.h).
class TestSeam;

class RS232c_bios {
public:
    // How long after the last frame written (or the last byte of a late reply) a late reply
    // is still waited for before the next transaction writes. A box that answers within
    // 1000 ms has every late reply read and dropped by then (11 reply bytes take 12 ms at
    // 9600 baud); replies later still are beyond what the link can tell apart.
    static constexpr uint32_t kLateReplyLimitMs = 1050;
    // How long after the last write (or reply byte) before a give-up the replies given up are
    // still looked for: a reply later than this after its frame is beyond what the link can
    // tell from another frame's. Covers a box that answers up to 10 s late.
    static constexpr uint32_t kAstrayLimitMs = 10500;
    // A box that answers on time has its whole reply in within this after the frame: 100 ms
    // for the first byte, 12 ms for 11 bytes at 9600 baud, and a margin. While replies given
    // up may still come, a transaction that read a reply watches the line this long after it:
    // the frame's own reply coming after it means the one read was another frame's.
    static constexpr uint32_t kOnTimeReplyMs = 130;
    // After this many silent transactions in a row the box counts as gone quiet: a
    // synchronisation or any other run of several commands stops instead of trying the rest
    // (each silent transaction costs up to about 1.3 s).
    static constexpr int32_t kSilentLimit = 3;
    static constexpr char kSilentCause[] = "the box stopped answering";

    RS232c_bios();
    ~RS232c_bios();
    RS232c_bios(const RS232c_bios&) = delete;
    RS232c_bios& operator=(const RS232c_bios&) = delete;

    // How port objects are made; without a factory every open fails. With `namer`, a port
    // whose DeviceName() no longer matches the name of its COM number is made anew at the
    // next open while the link is disconnected, so a changed map takes effect then.
    void SetPortFactory(PortFactory factory, PortNamer namer = {});
    // Closes every port the link opened (at process exit, so that no device stays locked).
    void ClosePorts();

    // Where the link records, for the next program on the same device, the replies it gave
    // up that may still come, and reads such a record when it opens a port afresh
    // (AstrayRecords). The programs set AstrayRecords::DefaultFolder() with their port
    // factory; without records (the default, and in tests on fake ports) it neither records
    // nor reads.
    void SetAstrayRecords(std::shared_ptr<const AstrayRecords> records);

    // Runs every operation that uses the port (and work given to RunOnLink) on `executor`'s
    // thread; nullptr, the default: on the caller's. Port objects are made, used and closed
    // on that thread. Notices shown there go to the caller's MessageCapture, if it has one.
    void SetExecutor(Executor* executor) { executor_ = executor; }
    // Runs `work` as one operation on the link's thread and returns when it has run: a
    // connect with its retries and pauses, or a whole synchronisation, is not interleaved
    // with other work on the link.
    void RunOnLink(const std::function<void()>& work);
    // Queues `work` as one operation on the link's thread after those asked for before and
    // returns at once; without an executor it runs at once.
    void PostOnLink(std::function<void()> work);
    // True on the link's own thread (always without an executor).
    bool OnLinkThread() const { return !Away(); }

    // Called when the link ends a session because its port's device or server connection
    // went away: link_connected has just gone from 1 to 0 and State().link_failure says
    // why. A failed port call finds it as its transaction ends; between transactions the
    // port reports it (SerialPort::SetGoneHandler). Returns the handler it replaces.
    using DeviceGoneHandler = std::function<void()>;
    DeviceGoneHandler SetDeviceGoneHandler(DeviceGoneHandler handler);
    // Called on the link's thread each time the box took a value command (SetValue
    // succeeded on the line), with the command and the value byte it took: whoever keeps the
    // box's settings learns of a change as it happens. Returns the handler it replaces.
    using TakenHandler = std::function<void(int command, int32_t value)>;
    TakenHandler SetTakenHandler(TakenHandler handler);

    // --- serial channel ---
    int OpenComPort();      // 1 if the current port is open and configured, else 0
    int WriteComCommand();  // 0 if all 11 frame bytes went out, else 6
    int ReadComAck();       // link result 0-5; appends its lines to report_text
    static void SplitTickTime(uint32_t tick, int* days, int* hours, int* minutes,
                              int* seconds, int* milliseconds);
    static std::string FormatHexByte(int value);  // "FF", "0D"; "??" outside -127..127

    // --- command transaction ---
    int SendCommand(int n, char p1, int8_t p2);  // link result code, also kept in link_result
    void SetNoAckMode(int flag);
    void SetVirtualMode(int flag);
    void SetDebugMode(int flag);
    int IsBusy() const;
    // True once kSilentLimit transactions in a row heard nothing from the box.
    bool BoxSilent() const { return state_.link_silent >= kSilentLimit; }
    // Starts the count of silent transactions afresh (before a new run of commands).
    void ForgetSilence() { state_.link_silent = 0; }

    // Replies in step. Transactions that write a frame are numbered from 1 as they start;
    // Transactions() is the number of the latest. When the link finds its replies out of step
    // (a reply came that no frame was owed), every reply taken since the last point at which
    // it knew them in step may have been another frame's: those transactions are doubted.
    uint64_t Transactions() const;
    // True if one of transactions `first` to `last` is doubted: its accepted reply may have
    // been another frame's, so what the box took is unknown.
    bool RepliesDoubted(uint64_t first, uint64_t last) const;
    // Makes sure that every reply taken so far was its own frame's: while replies given up may
    // still come after a transaction that read a reply, reads the line until they are no
    // longer expected (kAstrayLimitMs after them); any reply that comes shows the link out of
    // step (OutOfStep). 1 if the replies are in step, 0 if not (the doubted transactions then
    // say which). At once when no transaction read a reply while one was given up.
    int SettleReplies();

    // --- link connection ---
    int SetComNumber(int n);   // 1 if port n is selected (or already was), 0 if refused
    int ConnectLink(int want); // 1 if the link is now in the wanted state, 0 on failure

    // --- device operations: 1 success, 0 failure ---
    // The device operation of value command `command` (SetParallax is SetValue(kADJPX, v)):
    // in virtual mode 1 at once; a value outside a checked command's range is refused unsent;
    // otherwise the category select, then the value command. 0 for any other command.
    int SetValue(int command, int32_t v);
    int SetConversion(int32_t v);
    int SetInputSelect(int32_t v);
    int SetInputPorality(int32_t v);
    int SetSdiOutput(int32_t v);
    int SetHdmiOutput(int32_t v);
    int Set3dFormat(int32_t v);
    int SetRotate(int32_t v);
    int SetFrameSync(int32_t v);
    int SetBeep(int32_t v);
    int SetBackLight(int32_t v);
    int SaveAdjustMemory(int32_t v);
    int LoadAdjustMemory(int32_t v);
    int SetScopeMode(int32_t v);
    int SetScopeSource(int32_t v);
    int SetScopePosition(int32_t v);
    int SetScopeFilter(int32_t v);
    int SetWfmGain(int32_t v);
    int SetVectorGain(int32_t v);
    int SetAdjustMode(int32_t v);
    int SetSplitPosition(int32_t v);
    int SetParallax(int32_t v);
    int SetIntensity(int32_t v);
    int SetSubIntensity(int32_t v);

    // The mirrored adjust values: adjust_current, adjust_memory1, adjust_memory2, each as
    // parallax, intensity, sub intensity.
    using AdjustValues = std::array<int32_t, 9>;
    AdjustValues GetAdjustValues() const;
    void SetAdjustValues(const AdjustValues& values);

    // --- state ---
    const LinkState& State() const { return state_; }
    // Forgets the result of the previous command, so that an operation refused before any
    // command was sent does not report an older fault.
    void ClearResult() { state_.link_result = kResultOk; }
    // The port object of COM number n (1-8) if one was made, else nullptr.
    SerialPort* Port(int n) const;
    // The frame last built by SendCommand (11 bytes and a zero) and the last reply read
    // (16 bytes, zero-filled), for diagnostics and tests.
    const uint8_t* FrameBuffer() const;
    const uint8_t* ReplyBuffer() const;
    // What went over the line: frames, replies, time-outs, login, logoff, opens, resends.
    FrameTrace& Trace();

private:
    class TransactionEnd;
    // What every transaction that used the port does as it ends (TransactionEnd).
    void EndTransaction();

    // Whether a call must go over to the executor's thread; Elsewhere takes it there.
    bool Away() const { return executor_ && !executor_->OnWorker(); }
    int Elsewhere(const std::function<int()>& call);

    int Transact(int n, char p1, int8_t p2);
    // Reads what comes in until the line has been quiet for `quiet_ms` after the last write or
    // reply byte (0: only what has come already), dropping each reply still owed as it comes;
    // with `until_paid` it returns as soon as none is owed. False at once when a reply begins
    // while none is owed: a reply that no frame was owed.
    bool ReadOwedReplies(uint32_t quiet_ms, bool until_paid);
    // The replies still owed are given up as lost (traced); they count as astray.
    void GiveUpOwedReplies();
    // Replies and frames are out of step: traced, the port purged and the line waited quiet,
    // every count of replies forgotten. Returns kResultOutOfStep, the transaction's result.
    int OutOfStep();
    // A port opened afresh, or another port: no reply is owed or astray.
    void ForgetReplies();
    // The replies still to come are accounted for: from here on, replies are known in step.
    void MarkInStep();
    // Before the first login on a port opened afresh: the replies an earlier program left on
    // record that may still come are read and dropped as they come, until all have come or
    // none is expected any more, so that none is taken for the login's or a later command's.
    // (Within one program the link knows what it gave up: a reply taken for another frame's
    // is found as the link's replies out of step.)
    void AwaitAstrayBeforeLogin();
    // Takes the record an earlier program left for the device of a port just opened.
    void TakeAstrayRecord(const SerialPort& port);
    // Records the replies owed and astray for the next program (AstrayRecords), when changed.
    void RecordAstray();
    // Closes port n if it is a network port and open: the link keeps none while logged off.
    void ReleaseIdlePort(int n);
    // The current port's device is gone: the session ends and the handler is told.
    void EndSessionIfGone();
    // Port n closed itself between transactions.
    void PortGone(int n);
    // The device name of the current port for the trace ("COMn" while it has no port).
    std::string TraceDevice() const;

    friend class TestSeam;

    LinkState state_;
    Executor* executor_ = nullptr;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace dpx
