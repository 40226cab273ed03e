// dpx20ctl against dpx20sim on a pseudo-terminal: what reaches the box, the exit codes and
// messages of each failure, the JSON and trace output.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <csignal>
#include <optional>

#include "cli/Ctl.h"

#include "sync/Synchronise.h"
#include "link/RS232c_bios.h"
#include "platform/ComPorts.h"
#include "session/BoxRules.h"
#include "tests/support/BoxStates.h"
#include "settings/OptionFile.h"
#include "settings/OptionFile.h"
#include "sim/BoxModel.h"
#include "tests/support/BoxPort.h"
#include "tests/support/Recorders.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestApp.h"
#include "tests/support/TestSeam.h"

namespace dpx::test {
namespace {

using cli::kExitBox;
using cli::kExitOk;
using cli::kExitPort;
using cli::kExitUsage;

struct CtlResult {
    int code = -1;
    std::string out;
    std::string err;
};

QString CtlProgram() {
    return QString::fromStdString(SimProcess::Program()).replace(QStringLiteral("dpx20sim"), QStringLiteral("dpx20ctl"));
}

// Runs the built dpx20ctl in the current (temporary) directory with `input` on its standard input.
CtlResult Ctl(const QStringList& args, const std::string& input = {}) {
    QProcess process;
    process.start(CtlProgram(), args);
    process.write(input.data(), static_cast<qint64>(input.size()));
    process.closeWriteChannel();
    CtlResult r;
    if (!process.waitForFinished(180000)) return r;
    r.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = process.readAllStandardOutput().toStdString();
    r.err = process.readAllStandardError().toStdString();
    return r;
}

// Standard output as the one JSON object it must be (empty when it is not).
QJsonObject JsonOf(const std::string& out) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(out), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << out;
    EXPECT_TRUE(doc.isObject()) << out;
    return doc.object();
}

void WriteText(const std::string& name, const std::string& text) {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

class CtlTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        ASSERT_TRUE(dir_.ok());
    }
    QString Port() const { return QString::fromStdString(sim_->LinkPath()); }
    void StartSim(std::vector<std::string> options = {}) {
        sim_ = std::make_unique<SimProcess>(std::move(options));
        ASSERT_TRUE(sim_->Ok()) << sim_->Error();
    }

    // The folder's options file: what a run of its own knows of the box.
    static void Know(const SettingsRecord& r) { WriteText("dpx20remote.ini", OptionFileText(r)); }

    TemporaryCurrentDir dir_;
    std::unique_ptr<SimProcess> sim_;
};

TEST_F(CtlTest, SetReachesTheBoxWithJsonStepsAndATrace) {
    Know(Converting(false));
    StartSim();
    const CtlResult r = Ctl({"-p", Port(), "--json", "--trace", "trace.txt", "set", "sys_input_select=2",
                             "sys_bk_light=-5", "sys_adj3d_mode=4"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::map<std::string, long> state = sim_->State();
    EXPECT_EQ(state["sys_input_select"], 2);
    EXPECT_EQ(state["sys_bk_light"], -5);
    EXPECT_EQ(state["sys_adj3d_mode"], 4);
    EXPECT_EQ(state["logged_in"], 0);

    const QJsonObject json = JsonOf(r.out);
    EXPECT_EQ(json["version"].toInt(), 1);
    EXPECT_TRUE(json["ok"].toBool());
    EXPECT_TRUE(json["error"].isNull());
    const QJsonArray steps = json["steps"].toArray();
    ASSERT_EQ(steps.size(), 3) << r.out;
    const QJsonObject step = steps[1].toObject();
    EXPECT_EQ(step["command"].toString(), "sys_bk_light");
    EXPECT_EQ(step["value"].toInt(), -5);
    EXPECT_EQ(step["result"].toInt(), kResultOk);
    EXPECT_EQ(step["meaning"].toString(), LinkResultMeaning(kResultOk));
    EXPECT_TRUE(step["time_ms"].isDouble());

    std::FILE* f = std::fopen("trace.txt", "rb");
    ASSERT_NE(f, nullptr);
    std::string trace(1 << 16, '\0');
    trace.resize(std::fread(trace.data(), 1, trace.size(), f));
    std::fclose(f);
    EXPECT_NE(trace.find(" send 21 30 30 4D 4D 45 4E 55 30 30 0D |!00MMENU00.|\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" recv 40 30 30 42 4F 4B 2E 30 30 30 0D |@00BOK.000.| result 0 (ACK)\n"), std::string::npos);
    EXPECT_NE(trace.find(" logoff result 0 (ACK)\n"), std::string::npos);
    // The folder's options file takes what the box took, for the next run's rules.
    SettingsRecord known;
    ASSERT_EQ(ReadOptionFile("dpx20remote.ini", known), 1);
    EXPECT_EQ(known.sys_input_select, 2);
    EXPECT_EQ(known.sys_bk_light, -5);
    EXPECT_EQ(known.sys_adj3d_mode, 4);
}

// A run of its own plans against the folder's options file, which the run before left: the
// panel's refusals, with nothing sent, follow the box's known state, not only the command line.
TEST_F(CtlTest, TheRulesSeeTheBoxTheFolderKnows) {
    StartSim();
    struct Case {
        const char* name;
        SettingsRecord known;
        QStringList set;
        const char* refusal;  // nullptr: done
    };
    SettingsRecord sdi2;
    sdi2.sys_input_select = 2;
    const Case cases[] = {
        {"scope at SDI-2", sdi2, {"sys_scp_mode=1"}, rules::kScopeOnlyAtSdiLr},
        {"2D-3D adjust with the conversion off", sdi2, {"sys_adj3d_mode=4"}, rules::kAdjustNeedsConversion},
        {"2D-3D adjust at SDI-LR", AtSdiLr(), {"sys_adj3d_para=4"}, rules::kAdjustNeedsConversion},
        {"SDI-LR adjust at SDI-2", sdi2, {"sys_LRadj_mode=1"}, rules::kSdiLrAdjustOnlyAtSdiLr},
        {"2D-3D at SDI-LR", AtSdiLr(), {"sys_2D3D=1"}, rules::kSdiLrForbidsConversion},
        {"scope at SDI-LR", AtSdiLr(), {"sys_scp_mode=1"}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Know(c.known);
        const std::size_t before = sim_->Words().size();
        const CtlResult r = Ctl(QStringList{"-p", Port(), "set"} + c.set);
        EXPECT_EQ(r.code, c.refusal ? kExitBox : kExitOk) << r.err;
        if (c.refusal) {
            EXPECT_EQ(r.err, std::string("dpx20ctl: ") + c.refusal + "\n");
            EXPECT_EQ(sim_->Words().size(), before);  // not even a login
        }
    }
    // The file keeps what the box took: the next run knows the input is SDI-LR.
    Know(sdi2);
    ASSERT_EQ(Ctl({"-p", Port(), "set", "sys_input_select=0"}).code, kExitOk);
    const CtlResult after = Ctl({"-p", Port(), "set", "sys_2D3D=1"});
    EXPECT_EQ(after.code, kExitBox);
    EXPECT_EQ(after.err, std::string("dpx20ctl: ") + rules::kSdiLrForbidsConversion + "\n");
}

// The frames the panel's synchronisation sends for `record`, on an in-process box.
std::vector<std::string> ReferenceWords(const SettingsRecord& record) {
    MessageRecorder messages;
    sim::BoxModel box;
    RS232c_bios link;
    BoxPort::Install(link, box);
    link.SetDebugMode(0);
    TestSeam seam;
    SettingsRecord settings = record;
    settings.vertual_mode = 0;
    link.ConnectLink(1);
    SynchroniseAll(link, settings);
    link.ConnectLink(0);
    std::vector<std::string> words;
    for (const sim::Exchange& e : box.History()) words.push_back(e.word);
    return words;
}

TEST_F(CtlTest, SyncFromStandardInputSendsWhatThePanelSends) {
    SettingsRecord r;
    r.sys_input_select = 0;  // SDI-LR: the scope steps run
    r.sys_LRadj_split = -12;
    r.sys_scp_mode = 2;
    r.sys_scp_vgain = 9;
    r.vertual_mode = 1;  // the link options are the run's, not the file's
    StartSim();
    const CtlResult ok = Ctl({"-p", Port(), "sync", "-"}, OptionFileText(r));
    ASSERT_EQ(ok.code, 0) << ok.err;
    EXPECT_EQ(ok.out.rfind("Update ZR-DPX20 all settings : Compleate!\nProcess time = ", 0), 0u) << ok.out;
    EXPECT_EQ(sim_->Words(), ReferenceWords(r));
    EXPECT_EQ(sim_->State()["sys_scp_vgain"], 9);

    // A damaged or missing file: the reader's message, exit 4, nothing sent and no file written.
    WriteText("dpx20remote04.sav", OptionFileText(r).substr(0, 900));
    const std::size_t frames = sim_->Words().size();
    const CtlResult damaged = Ctl({"-p", Port(), "sync", "dpx20remote04.sav"});
    EXPECT_EQ(damaged.code, 4);
    EXPECT_EQ(damaged.err.rfind("dpx20ctl: ini file size is too small! [ 900 byte ]", 0), 0u) << damaged.err;
    const CtlResult missing = Ctl({"-p", Port(), "sync", "dpx20remote.ini"});
    EXPECT_EQ(missing.code, 4);
    EXPECT_EQ(missing.err, "dpx20ctl: Do not found option file!\n\n[ file name = dpx20remote.ini ]\n");
    EXPECT_EQ(sim_->Words().size(), frames);
    EXPECT_FALSE(QFile::exists("dpx20remote.ini"));
}

// Every outcome: its exit code, its cause on standard error behind the program's name, and
// one JSON object that says the same.
TEST_F(CtlTest, EveryOutcomeIsNamedOnStderrAndInOneJsonObject) {
    ScriptedServer other_settings([](int fd) { test::Negotiate(fd, test::TakesOffers(), test::Answers(19200, 1, 1)); });
    // Takes the login, then holds our output back (FLOWCONTROL-SUSPEND) until the client goes.
    ScriptedServer holds_output([](int fd) {
        using Codec = platform::TelnetCodec;
        test::Negotiate(fd);
        const char* login = CommandTable[kBCN_Login].frame;
        test::AwaitBytes(fd, test::Bytes(login, login + kFrameSize));
        test::Bytes reply = sim::AckReply();
        const test::Bytes suspend = {Codec::kIac, Codec::kSb, Codec::kComPortOption,
                                     Codec::kFlowControlSuspend + Codec::kServerOffset, Codec::kIac, Codec::kSe};
        reply.insert(reply.end(), suspend.begin(), suspend.end());
        test::Put(fd, reply);
        test::AwaitBytes(fd, {0});  // until the client closes
    });
    const auto meaning = [](int result) { return std::string(LinkResultMeaning(result)); };
    const std::string hint = platform::PortNameHint();
    struct Case {
        std::vector<std::string> sim;  // simulator options
        std::string port;              // empty: the simulator's
        QStringList args;
        int exit;
        std::string err;               // standard error starts with it
        std::optional<int> result;     // null in the JSON when not set
        int steps = 0;
    };
    const Case cases[] = {
        {{"--nak", "SCPFI=1"}, "", {"set", "sys_scp_pos=1", "sys_scp_fil=1", "sys_scp_src=2"}, kExitBox,
         "dpx20ctl: sys_scp_fil=1: result 2 (" + meaning(kResultParameterError) + ")\n", kResultParameterError, 2},
        {{}, "", {"set", "sys_scp_pos=1", "sys_beep=2"}, kExitUsage, "dpx20ctl: sys_beep takes 0 or 1: sys_beep=2\n", {}},
        // The panel's rule, before anything is sent.
        {{}, "", {"set", "sys_input_select=0", "sys_2D3D=1"}, kExitBox,
         std::string("dpx20ctl: ") + rules::kSdiLrForbidsConversion + "\n", {}},
        {{}, "", {"frobnicate"}, kExitUsage, "dpx20ctl: unknown command", {}},
        {{}, "http://127.0.0.1:1", {"set", "sys_beep=2"}, kExitUsage, "dpx20ctl: sys_beep takes 0 or 1: sys_beep=2\n", {}},
        {{}, "9", {"send", "INPUT"}, kExitUsage, "dpx20ctl: --port 9: a COM number is 1 to 8 (or COM1 to COM8). " + hint, {}},
        {{}, "tcp://box:1", {"send", "INPUT"}, kExitUsage, "dpx20ctl: --port tcp://box:1: ", {}},
        {{}, "-gone", {"memory", "save", "1"}, kExitPort, "dpx20ctl: cannot open the port: ", {}},
        {{}, other_settings.Url(), {"send", "INPUT"}, kExitPort, "dpx20ctl: cannot open the port: " + other_settings.Url(), {}},
        // A server fault mid-run is a port failure too, with its cause.
        {{}, holds_output.Url(), {"send", "INPUT"}, kExitPort,
         "dpx20ctl: INPUT: " + holds_output.Url() + ": the server has held our output back (FLOWCONTROL-SUSPEND) for more than 1 s\n",
         kResultNotSent, 1},
        {{"--drop", "BCN10"}, "", {"send", "INPUT"}, kExitBox,
         "dpx20ctl: login: result 5 (" + meaning(kResultTimeout) + ")\n", kResultTimeout},
        // A lost reply to the logoff after work well done: a warning only.
        {{"--drop", "BCN00"}, "", {"send", "INPUT"}, kExitOk,
         "dpx20ctl: warning: logoff: result 5 (" + meaning(kResultTimeout) + ")\n", kResultOk, 1},
    };
    for (const Case& c : cases) {
        Know(AtSdiLr());
        StartSim(c.sim);
        const std::string port = c.port.empty() || c.port == "-gone" ? Port().toStdString() + c.port : c.port;
        const CtlResult r = Ctl(QStringList{"-p", QString::fromStdString(port), "--json"} + c.args);
        SCOPED_TRACE(c.args.join(' ').toStdString() + " on " + port + "\n" + r.err);
        EXPECT_EQ(r.code, c.exit);
        EXPECT_EQ(r.err.rfind(c.err, 0), 0u);
        EXPECT_EQ(r.err.find("dpx20ctl: login: result 0"), std::string::npos);

        const QJsonObject json = JsonOf(r.out);
        EXPECT_EQ(json["version"].toInt(), 1);
        // A known command is named also when its arguments are refused.
        const bool known = c.args[0] != "frobnicate";
        EXPECT_EQ(json["command"].toString(), known ? c.args[0] : QString());
        EXPECT_EQ(json["command"].isNull(), !known);
        EXPECT_EQ(json["ok"].toBool(), c.exit == kExitOk);
        EXPECT_EQ(json["exit"].toInt(-1), c.exit);
        const std::string error = json["error"].toString().toStdString();
        EXPECT_EQ(json["error"].isNull(), c.exit == kExitOk);
        EXPECT_EQ(r.err.rfind("dpx20ctl: " + error, 0), 0u) << error;
        EXPECT_EQ(json["result"].toInt(-1), c.result.value_or(-1));
        EXPECT_EQ(json["meaning"].toString().toStdString(), c.result ? meaning(*c.result) : "");
        EXPECT_EQ(json["steps"].toArray().size(), c.steps);
        EXPECT_EQ(json["warnings"].toArray().size(), c.exit == kExitOk ? 1 : 0);
        if (c.steps > 0) {  // logged in, so logged off again
            EXPECT_EQ(sim_->State()["logged_in"], 0);
        }
    }
}

// Ctrl-C or SIGTERM in the middle of a synchronisation: the transaction in progress ends, the
// box is logged off, and the report says what was done.
TEST_F(CtlTest, InterruptedSyncLogsOffAndReports) {
    SettingsRecord r;
    r.sys_input_select = 0;  // SDI-LR: the longest pass
    WriteText("dpx20remote01.sav", OptionFileText(r));
    const std::size_t full = ReferenceWords(r).size();
    for (const int signal : {SIGINT, SIGTERM}) {
        StartSim({"--delay", "40"});
        QProcess ctl;
        ctl.start(CtlProgram(), {"-p", Port(), "--json", "sync", "dpx20remote01.sav"});
        ASSERT_TRUE(ctl.waitForStarted());
        // After the login and two more frames; the pass has about thirty to go.
        for (int i = 0; i < 1000 && sim_->Words().size() < 3; ++i) QThread::msleep(10);
        ::kill(static_cast<pid_t>(ctl.processId()), signal);
        ASSERT_TRUE(ctl.waitForFinished(30000));
        EXPECT_EQ(ctl.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(ctl.exitCode(), 128 + signal);
        const std::vector<std::string> words = sim_->Words();
        EXPECT_LT(words.size(), full);
        EXPECT_EQ(words.back(), "BCN00");
        EXPECT_EQ(sim_->State()["logged_in"], 0);
        const QJsonObject json = JsonOf(ctl.readAllStandardOutput().toStdString());
        EXPECT_EQ(json["exit"].toInt(), 128 + signal);
        const std::string error = json["error"].toString().toStdString();
        EXPECT_EQ(error.rfind(std::string("interrupted by ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") + " in pass 1 after ", 0), 0u) << error;
        EXPECT_NE(error.find("; logged off"), std::string::npos) << error;
    }
}

// A box that falls silent mid-synchronisation: the run ends after the few silent transactions
// that tell it, with the cause, and does not wait for a logoff the box would not hear.
TEST_F(CtlTest, ASilentBoxEndsTheSyncWithItsCause) {
    SettingsRecord r;
    r.sys_input_select = 0;
    WriteText("dpx20remote01.sav", OptionFileText(r));
    constexpr std::size_t kAnswered = 6;
    StartSim({"--silent-after", std::to_string(kAnswered)});
    const CtlResult sync = Ctl({"-p", Port(), "--json", "sync", "dpx20remote01.sav"});
    EXPECT_EQ(sync.code, kExitBox) << sync.err;
    const QJsonObject json = JsonOf(sync.out);
    EXPECT_EQ(json["cause"].toString().toStdString(), RS232c_bios::kSilentCause);
    EXPECT_NE(json["summary"].toString().toStdString().find(RS232c_bios::kSilentCause), std::string::npos);
    // Each silent transaction is one frame and its resend.
    EXPECT_LE(sim_->Words().size(), kAnswered + 2 * RS232c_bios::kSilentLimit);
}

// A box that answers the frame before a refused one 150 ms late (the first try times out, the
// resend reads its reply, and the resend's own reply comes later still): the refusal must be
// seen as refused, not answered by that late reply.
TEST_F(CtlTest, LateRepliesDoNotHideARefusal) {
    Know(AtSdiLr());
    StartSim({"--late", "SCPOS", "--late-ms", "150", "--nak", "SCPFI=2"});
    const CtlResult set = Ctl({"-p", Port(), "set", "sys_scp_pos=1", "sys_scp_fil=1"});
    EXPECT_EQ(set.code, 1);
    EXPECT_EQ(set.err, "dpx20ctl: sys_scp_fil=1: result 3 (NAK invalid now)\n");

    SettingsRecord r;
    r.sys_input_select = 0;
    r.sys_scp_fil = 1;
    WriteText("dpx20remote01.sav", OptionFileText(r));
    const CtlResult sync = Ctl({"-p", Port(), "--json", "sync", "dpx20remote01.sav"});
    EXPECT_EQ(sync.code, 1);
    const QJsonObject summary = QJsonDocument::fromJson(QByteArray::fromStdString(sync.out)).object();
    EXPECT_EQ(summary["result"].toInt(), 3);
    EXPECT_EQ(summary["errors"].toInt(), 1);
    const std::string text = summary["summary"].toString().toStdString();
    EXPECT_EQ(text.find("process OK"), std::string::npos) << text;
    EXPECT_NE(text.find("3rd try : error = 1 times."), std::string::npos) << text;
    // The failed step of each pass, in the shape of set's steps.
    const QJsonArray steps = summary["steps"].toArray();
    ASSERT_EQ(steps.size(), 3) << sync.out;
    for (int pass = 1; pass <= 3; ++pass) {
        const QJsonObject step = steps[pass - 1].toObject();
        EXPECT_EQ(step["command"].toString(), "sys_scp_fil");
        EXPECT_EQ(step["value"].toInt(), 1);
        EXPECT_EQ(step["result"].toInt(), kResultInvalidNow);
        EXPECT_EQ(step["meaning"].toString(), LinkResultMeaning(kResultInvalidNow));
        EXPECT_TRUE(step["time_ms"].isDouble());
        EXPECT_EQ(step["word"].toString(), CommandTable[kSCPFI].word);
        EXPECT_EQ(step["pass"].toInt(), pass);
    }
}

// The same late replies, later than the link waits for them (the box answers SCPOS 1200 ms
// late): the refusal is never reported accepted, and the synchronisation does not end
// "Compleate!".
TEST_F(CtlTest, RepliesLaterThanTheLimitDoNotHideARefusal) {
    StartSim({"--late", "SCPOS", "--late-ms", "1200", "--nak", "SCPFI=2"});
    SettingsRecord r;
    r.sys_input_select = 0;
    r.sys_scp_fil = 1;
    WriteText("dpx20remote01.sav", OptionFileText(r));
    const CtlResult sync = Ctl({"-p", Port(), "--json", "sync", "dpx20remote01.sav"});
    EXPECT_EQ(sync.code, 1) << sync.err;
    const QJsonObject json = JsonOf(sync.out);
    EXPECT_EQ(json["summary"].toString().toStdString().find("Compleate!"), std::string::npos) << sync.out;
    bool refused = false;
    for (const QJsonValue& step : json["steps"].toArray())
        refused = refused || step.toObject()["word"].toString() == CommandTable[kSCPFI].word;
    EXPECT_TRUE(refused) << sync.out;
}

// Two runs in quick succession: the first is answered on its resend and gives up on the reply
// to its first write, which the box sends 2.5 s late; the next run, whose command the box
// refuses, waits for that reply before its login instead of taking it for its own.
TEST_F(CtlTest, ANewRunTakesNoReplyOwedToTheLastOne) {
    Know(AtSdiLr());
    StartSim({"--late", "SCPOS:1", "--late-ms", "2500", "--overtake", "--nak", "SCPFI=2"});
    const CtlResult first = Ctl({"-p", Port(), "set", "sys_scp_pos=1"});
    EXPECT_EQ(first.code, kExitOk) << first.err;
    const CtlResult second = Ctl({"-p", Port(), "--trace", "trace.txt", "set", "sys_scp_fil=1"});
    EXPECT_EQ(second.code, kExitBox) << second.err;
    EXPECT_EQ(second.err, "dpx20ctl: sys_scp_fil=1: result 3 (NAK invalid now)\n");
    std::FILE* f = std::fopen("trace.txt", "r");
    ASSERT_NE(f, nullptr);
    std::string trace(1 << 16, '\0');
    trace.resize(std::fread(trace.data(), 1, trace.size(), f));
    std::fclose(f);
    EXPECT_NE(trace.find("1 reply given up by an earlier session may still come"), std::string::npos) << trace;
    const std::size_t wait = trace.find("before the login: waiting"), late = trace.find("dropped (the reply to an earlier frame)"),
                      login = trace.find(" login result");
    EXPECT_LT(wait, late) << trace;
    EXPECT_LT(late, login) << trace;
}

}  // namespace
}  // namespace dpx::test
