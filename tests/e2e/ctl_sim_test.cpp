// dpx20ctl against dpx20sim on a pseudo-terminal: what reaches the box, the exit codes and
// messages of each failure, the JSON and trace output.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include "app/Synchronise.h"
#include "link/RS232c_bios.h"
#include "settings/OptionFile.h"
#include "settings/SystemSettings.h"
#include "sim/BoxModel.h"
#include "tests/support/BoxPort.h"
#include "tests/support/Recorders.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestApp.h"
#include "tests/support/TestSeam.h"

namespace dpx::test {
namespace {

struct CtlResult {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs the built dpx20ctl in the current (temporary) directory.
CtlResult Ctl(const QStringList& args) {
    QProcess process;
    process.start(QString::fromStdString(SimProcess::Program()).replace(QStringLiteral("dpx20sim"), QStringLiteral("dpx20ctl")),
                  args);
    CtlResult r;
    if (!process.waitForFinished(180000)) return r;
    r.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = process.readAllStandardOutput().toStdString();
    r.err = process.readAllStandardError().toStdString();
    return r;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
    }
    return lines;
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

    TemporaryCurrentDir dir_;
    std::unique_ptr<SimProcess> sim_;
};

TEST_F(CtlTest, SetReachesTheBoxWithJsonStepsAndATrace) {
    StartSim();
    const CtlResult r = Ctl({"-p", Port(), "--json", "--trace", "trace.txt", "set", "sys_input_select=2",
                             "sys_bk_light=-5", "sys_adj3d_mode=4"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::map<std::string, long> state = sim_->State();
    EXPECT_EQ(state["sys_input_select"], 2);
    EXPECT_EQ(state["sys_bk_light"], -5);
    EXPECT_EQ(state["sys_adj3d_mode"], 4);
    EXPECT_EQ(state["logged_in"], 0);

    const std::vector<std::string> lines = SplitLines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    const QJsonObject step = QJsonDocument::fromJson(QByteArray::fromStdString(lines[1])).object();
    EXPECT_EQ(step["command"].toString(), "sys_bk_light");
    EXPECT_EQ(step["value"].toInt(), -5);
    EXPECT_EQ(step["result"].toInt(), 0);
    EXPECT_EQ(step["meaning"].toString(), "ACK");
    EXPECT_TRUE(step["time_ms"].isDouble());

    std::FILE* f = std::fopen("trace.txt", "rb");
    ASSERT_NE(f, nullptr);
    std::string trace(1 << 16, '\0');
    trace.resize(std::fread(trace.data(), 1, trace.size(), f));
    std::fclose(f);
    EXPECT_NE(trace.find(" send 21 30 30 4D 4D 45 4E 55 30 30 0D |!00MMENU00.|\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" recv 40 30 30 42 4F 4B 2E 30 30 30 0D |@00BOK.000.| result 0 (ACK)\n"), std::string::npos);
    EXPECT_NE(trace.find(" logoff result 0 (ACK)\n"), std::string::npos);
    EXPECT_FALSE(QFile::exists("dpx20remote.ini"));
}

// The frames the panel's synchronisation sends for `record`, on an in-process box.
std::vector<std::string> ReferenceWords(const SettingsRecord& record) {
    MessageRecorder messages;
    sim::BoxModel box;
    RS232c_bios link;
    BoxPort::Install(link, box);
    link.SetDebugMode(0);
    TestSeam seam;
    seam.Install(&link);
    seam.Settings();
    SystemSettings = record;
    SystemSettings.vertual_mode = 0;
    link.ConnectLink(1);
    SynchroniseAll();
    link.ConnectLink(0);
    std::vector<std::string> words;
    for (const sim::Exchange& e : box.History()) words.push_back(e.word);
    return words;
}

TEST_F(CtlTest, SyncOfAMemoryFileSendsWhatThePanelSends) {
    SettingsRecord r;
    r.sys_input_select = 0;  // SDI-LR: the scope steps run
    r.sys_LRadj_split = -12;
    r.sys_scp_mode = 2;
    r.sys_scp_vgain = 9;
    r.vertual_mode = 1;  // the link options are the run's, not the file's
    WriteText("dpx20remote03.sav", OptionFileText(r));
    StartSim();
    const CtlResult ok = Ctl({"-p", Port(), "sync", "dpx20remote03.sav"});
    ASSERT_EQ(ok.code, 0) << ok.err;
    EXPECT_EQ(ok.out.rfind("Update ZR-DPX20 all settings : Compleate!\nProcess time = ", 0), 0u) << ok.out;
    EXPECT_EQ(sim_->Words(), ReferenceWords(r));
    EXPECT_EQ(sim_->State()["sys_scp_vgain"], 9);

    // A damaged file: the reader's message, exit 4, nothing sent and no file written.
    WriteText("dpx20remote04.sav", OptionFileText(r).substr(0, 900));
    const std::size_t frames = sim_->Words().size();
    const CtlResult damaged = Ctl({"-p", Port(), "sync", "dpx20remote04.sav"});
    EXPECT_EQ(damaged.code, 4);
    EXPECT_EQ(damaged.err.rfind("ini file size is too small! [ 900 byte ]", 0), 0u) << damaged.err;
    const CtlResult missing = Ctl({"-p", Port(), "sync", "dpx20remote.ini"});
    EXPECT_EQ(missing.code, 4);
    EXPECT_EQ(missing.err, "Do not found option file!\n\n[ file name = dpx20remote.ini ]\n");
    EXPECT_EQ(sim_->Words().size(), frames);
    EXPECT_FALSE(QFile::exists("dpx20remote.ini"));
}

TEST_F(CtlTest, RefusalSilenceMissingPortAndUsageErrors) {
    StartSim({"--nak", "SCPFI=1"});
    const CtlResult refused = Ctl({"-p", Port(), "set", "sys_scp_pos=1", "sys_scp_fil=1", "sys_scp_src=2"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err, "dpx20ctl: sys_scp_fil=1: result 2 (NAK parameter error)\n");
    EXPECT_EQ(sim_->Words().back(), "BCN00");  // stopped at the refusal, then logged off
    EXPECT_EQ(sim_->State()["sys_scp_src"], 0);

    const CtlResult usage = Ctl({"-p", Port(), "set", "sys_scp_pos=1", "sys_beep=2"});
    EXPECT_EQ(usage.code, 2);
    EXPECT_EQ(usage.err.rfind("dpx20ctl: sys_beep takes 0 or 1: sys_beep=2\n", 0), 0u) << usage.err;
    EXPECT_EQ(Ctl({"frobnicate"}).code, 2);

    const CtlResult missing = Ctl({"-p", Port() + "-gone", "memory", "save", "1"});
    EXPECT_EQ(missing.code, 3);
    EXPECT_NE(missing.err.find("cannot open the port: " + Port().toStdString() + "-gone: "), std::string::npos)
        << missing.err;

    sim_.reset();
    StartSim({"--drop", "BCN10"});
    const CtlResult silent = Ctl({"-p", Port(), "--json", "send", "INPUT"});
    EXPECT_EQ(silent.code, 1);
    EXPECT_EQ(silent.err.rfind("dpx20ctl: login: result 5 (no answer within 100 ms)\n", 0), 0u) << silent.err;
    EXPECT_TRUE(silent.out.empty());
}

// A box that answers the frame before a refused one 150 ms late (the first try times out, the
// resend reads its reply, and the resend's own reply comes later still): the refusal must be
// seen as refused, not answered by that late reply.
TEST_F(CtlTest, LateRepliesDoNotHideARefusal) {
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
}

}  // namespace
}  // namespace dpx::test
