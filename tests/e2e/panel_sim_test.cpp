// The real panel (offscreen) with the real serial backend against dpx20sim on a
// pseudo-terminal: CONNECT with synchronisation, CONNECT off, and every control dialog
// opened from its panel button, run modally and changed as an operator would.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/PanelApi.h"
#include "app/RemoteApp.h"
#include "app/TopDialog.h"
#include "model/CommandTable.h"
#include "link/RS232c_bios.h"
#include "platform/ComPorts.h"
#include "platform/QtWorker.h"
#include "resources/Adjust2D3DIds.h"
#include "resources/AdjustSdiLrIds.h"
#include "resources/FunctionIds.h"
#include "resources/InputSelectIds.h"
#include "resources/OutputPresetIds.h"
#include "resources/ScopeIds.h"
#include "settings/OptionFile.h"
#include "tests/support/Recorders.h"
#include "tests/support/TestApp.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestSeam.h"
#include "ui/LayoutDialog.h"

namespace dpx {
namespace {

using Words = std::vector<std::string>;

// The settings a synchronisation pass sends, by the simulator's state keys.
struct SentSetting {
    const char* key;
    int32_t SettingsRecord::*field;
};
const SentSetting kCommonSettings[] = {
    {"sys_rotate", &SettingsRecord::sys_rotate},
    {"sys_f_sync", &SettingsRecord::sys_f_sync},
    {"sys_beep", &SettingsRecord::sys_beep},
    {"sys_bk_light", &SettingsRecord::sys_bk_light},
    {"sys_sdi_mix", &SettingsRecord::sys_sdi_mix},
    {"sys_hdmi_mix", &SettingsRecord::sys_hdmi_mix},
    {"sys_3dfmt", &SettingsRecord::sys_3dfmt},
    {"sys_input_select", &SettingsRecord::sys_input_select},
    {"sys_input_porality", &SettingsRecord::sys_input_porality},
};
const SentSetting kConversionSettings[] = {
    {"sys_2D3D", &SettingsRecord::sys_2D3D},
    {"sys_adj3d_mode", &SettingsRecord::sys_adj3d_mode},
    {"sys_adj3d_para", &SettingsRecord::sys_adj3d_para},
    {"sys_adj3d_inte", &SettingsRecord::sys_adj3d_inte},
    {"sys_adj3d_subi", &SettingsRecord::sys_adj3d_subi},
};
const SentSetting kSdiLrSettings[] = {
    {"sys_LRadj_mode", &SettingsRecord::sys_LRadj_mode},
    {"sys_LRadj_split", &SettingsRecord::sys_LRadj_split},
    {"sys_scp_mode", &SettingsRecord::sys_scp_mode},
    {"sys_scp_src", &SettingsRecord::sys_scp_src},
    {"sys_scp_pos", &SettingsRecord::sys_scp_pos},
    {"sys_scp_fil", &SettingsRecord::sys_scp_fil},
    {"sys_scp_wgain", &SettingsRecord::sys_scp_wgain},
    {"sys_scp_vgain", &SettingsRecord::sys_scp_vgain},
};

class PanelSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::TestApp();
        ASSERT_TRUE(dir_.ok());
        link_.SetPortFactory(platform::MakePortFactory());
    }
    void TearDown() override {
        panel_.reset();
        unsetenv("DPX20_COM1");
    }

    // Starts the simulator, writes `record` as the options file and shows the panel on it.
    void Start(const SettingsRecord& record, std::vector<std::string> sim_options = {}) {
        sim_ = std::make_unique<test::SimProcess>(std::move(sim_options));
        ASSERT_TRUE(sim_->Ok()) << sim_->Error();
        setenv("DPX20_COM1", sim_->LinkPath().c_str(), 1);
        WriteOptionFile(options_file_name, record);
        panel_ = std::make_unique<TopDialog>(link_);
        panel_->show();
        ASSERT_EQ(Settings(), record);
    }
    void Click(int id) {
        auto* b = ui::Control<QAbstractButton>(shown_ ? shown_ : panel_.get(), id);
        ASSERT_NE(b, nullptr) << "no panel control " << id;
        b->click();
    }
    // Clicks panel button `id`; once its dialog runs modally, `act` works in it, then its
    // EXIT button closes it. Returns the class of the dialog that ran, if any.
    std::string Operate(int id, const std::function<void(ui::LayoutDialog&)>& act) {
        std::string ran;
        // A dialog may wait for the link's thread before it runs modally: it is looked for
        // until then.
        QTimer driver;
        driver.start(10);
        QObject::connect(&driver, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<ui::LayoutDialog*>(QApplication::activeModalWidget());
            if (!dialog || dialog == (shown_ ? shown_ : panel_.get())) return;
            driver.stop();
            ran = dialog->metaObject()->className();
            act(*dialog);
            if (auto* exit = ui::Control<QAbstractButton>(dialog, res::kIdOk)) exit->click();
            if (dialog->isVisible()) dialog->reject();  // never leave the test waiting
        });
        Click(id);
        return ran;
    }
    static void ClickIn(ui::LayoutDialog& dialog, int id) {
        auto* b = ui::Control<QAbstractButton>(&dialog, id);
        ASSERT_NE(b, nullptr) << "no dialog control " << id;
        b->click();
    }
    template <size_t N>
    void ExpectBoxHolds(const SentSetting (&settings)[N]) {
        std::map<std::string, long> state = sim_->State();
        ASSERT_FALSE(state.empty());
        for (const SentSetting& s : settings) EXPECT_EQ(state[s.key], Settings().*s.field) << s.key;
    }
    // The value commands the box received, without logins and category selects.
    Words ValueWords() const {
        Words words;
        for (const std::string& w : sim_->Words())
            if (const int n = FindCommandByFrameWord(w.c_str()); n >= 0 && CommandTable[n].kind >= 2)
                words.push_back(w);
        return words;
    }

    test::TemporaryCurrentDir dir_;
    test::MessageRecorder messages_;
    RS232c_bios link_;
    TestSeam seam_;  // after the link: restores its hooks first
    std::unique_ptr<test::SimProcess> sim_;
    std::unique_ptr<TopDialog> panel_;
    TopDialog* shown_ = nullptr;  // the panel RemoteApp runs, while it runs
    // The panel's record, and whether its CONNECT is asked for.
    Session& Box() { return (shown_ ? shown_ : panel_.get())->BoxSession(); }
    SettingsRecord& Settings() { return Box().Record(); }
    bool Wanted() { return Box().Wanted(); }
};

// The serial lock files (as Qt Serial Port and other serial programs write them) that
// name this process.
std::vector<std::string> OurLockFiles() {
    std::vector<std::string> found;
    for (const char* dir : {"/run/lock", "/var/lock", "/tmp", "/var/tmp"}) {
        for (const QFileInfo& lock : QDir(dir).entryInfoList({"LCK..*"}, QDir::Files)) {
            QFile file(lock.absoluteFilePath());
            if (file.open(QIODevice::ReadOnly) && file.readLine().trimmed().toLong() == ::getpid())
                found.push_back(lock.absoluteFilePath().toStdString());
        }
    }
    return found;
}

const Words kCommonSteps = {"SDIRT", "FRASY", "BEEPA", "BEEPA", "BACKL",
                            "SDIMX", "HDMIM", "3DFOR", "INPSE", "BOTHP"};

// CPU time this process has used, in seconds (utime and stime of /proc/self/stat; the
// fields are counted after the program name's closing parenthesis, as it may hold spaces).
double CpuSeconds() {
    QFile file(QStringLiteral("/proc/self/stat"));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    const QByteArray text = file.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

void RunEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

Words Join(Words a, const Words& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(PanelSimTest, ConnectWithConversionOnSynchronisesTheBox) {
    SettingsRecord r;
    r.sys_input_select = 3;  // HDMI
    r.sys_input_porality = 1;
    r.sys_2D3D = 1;
    r.sys_sdi_mix = 1;
    r.sys_hdmi_mix = 1;
    r.sys_3dfmt = 2;
    r.sys_rotate = 2;
    r.sys_f_sync = 0;
    r.sys_beep = 1;
    r.sys_bk_light = -7;
    r.sys_adj3d_mode = 5;
    r.sys_adj3d_para = 50;
    r.sys_adj3d_inte = 31;
    r.sys_adj3d_subi = 52;
    Start(r);
    Click(panel::kConnect);
    ASSERT_TRUE(Wanted());
    ASSERT_EQ(messages_.texts.size(), 1u);
    EXPECT_EQ(messages_.texts[0].rfind("Update ZR-DPX20 all settings : Compleate!\nProcess time = ", 0), 0u);
    ExpectBoxHolds(kCommonSettings);
    ExpectBoxHolds(kConversionSettings);
    EXPECT_EQ(ValueWords(), Join(kCommonSteps, {"CONVE", "ADJMD", "ADJPX", "ADJIY", "ADJSI", "CONVE", "ADJMD"}));
    // After the login, each value command went out in its own category, selected once
    // whenever the category changes.
    const Words all = sim_->Words();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front(), "BCN10");
    int category = -1;
    for (size_t i = 1; i < all.size(); ++i) {
        const int n = FindCommandByFrameWord(all[i].c_str());
        ASSERT_GE(n, 0) << all[i];
        if (CommandTable[n].kind == kKindCategorySelect) {
            EXPECT_NE(CommandTable[n].category, category) << "needless select " << all[i];
            category = CommandTable[n].category;
        } else {
            EXPECT_EQ(CommandTable[n].category, category) << all[i] << " outside its category";
        }
    }
}

// With its serial work on a thread of its own, as the program runs it, the panel goes on
// processing its events while the box is silent, and a close asked for meanwhile ends the
// synchronisation and the panel within two seconds.
TEST_F(PanelSimTest, ASilentBoxNeitherFreezesThePanelNorHoldsItsClose) {
    platform::QtWorker worker;
    link_.SetExecutor(&worker);
    SettingsRecord r;
    r.sys_input_select = 0;  // SDI-LR: the longest pass
    r.sys_sync_on = 1;
    Start(r, {"--silent-after", "2"});  // the login and one more
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(20);
    QElapsedTimer since_close;
    QTimer::singleShot(300, [&] {
        since_close.start();
        panel_->close();
    });
    Click(panel::kConnect);
    const qint64 close_ms = since_close.elapsed();
    EXPECT_TRUE(since_close.isValid());
    EXPECT_FALSE(panel_->isVisible());
    EXPECT_LT(close_ms, 2000);
    EXPECT_GT(ticks, 5);
    EXPECT_TRUE(messages_.texts.empty());  // a cancelled synchronisation shows no summary
    link_.ClosePorts();
    link_.SetExecutor(nullptr);
}

// The synchronisation's notice after CONNECT and after a memory LOAD opens once the box's work
// has ended: a request of the control API made while it is open is answered, and it closes.
TEST_F(PanelSimTest, TheControlApiIsAnsweredWhileASynchronisationNoticeIsOpen) {
    platform::QtWorker worker;
    link_.SetExecutor(&worker);
    SettingsRecord r;
    r.sys_sync_on = 1;
    Start(r);
    WriteOptionFile(MemoryFileName(1), r);
    PanelApi api(*panel_);
    std::string why;
    ASSERT_TRUE(api.Start("127.0.0.1:0", &why)) << why;
    QNetworkAccessManager network;
    std::vector<int> answered;
    int beep = 0;
    messages_.on_show = [&](const std::string& text) {
        if (text.rfind("Update ZR-DPX20 all settings", 0) != 0) return;
        QNetworkRequest put(QUrl(QString::fromStdString(api.Where() + "/settings")));
        put.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        beep ^= 1;
        std::unique_ptr<QNetworkReply> reply(network.put(put, "{\"sys_beep\": " + QByteArray::number(beep) + "}"));
        QEventLoop notice;  // as a message box's own loop
        QObject::connect(reply.get(), &QNetworkReply::finished, &notice, &QEventLoop::quit);
        QTimer::singleShot(10000, &notice, &QEventLoop::quit);
        notice.exec();
        answered.push_back(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
    };
    Click(panel::kConnect);
    Click(panel::kLoad[0]);
    EXPECT_EQ(answered, (std::vector<int>{200, 200}));
    EXPECT_EQ(sim_->State()["sys_beep"], 0);
    EXPECT_TRUE(Wanted());
    link_.ClosePorts();
    link_.SetExecutor(nullptr);
}

TEST_F(PanelSimTest, ConnectWithSdiLrInputSendsTheScopeTailAndOffLogsOff) {
    SettingsRecord r;
    r.sys_input_select = 0;  // SDI-LR
    r.sys_LRadj_split = -20;
    r.sys_scp_mode = 2;
    r.sys_scp_src = 1;
    r.sys_scp_pos = 3;
    r.sys_scp_fil = 1;
    r.sys_scp_wgain = 12;
    r.sys_scp_vgain = -30;
    Start(r);
    Click(panel::kConnect);
    ASSERT_TRUE(Wanted());
    ExpectBoxHolds(kCommonSettings);
    ExpectBoxHolds(kSdiLrSettings);
    EXPECT_EQ(ValueWords(),
              Join(kCommonSteps, {"ADJMD", "ADJOS", "SCSIG", "SCPOS", "SCPFI", "SCWFG", "SCVEG", "SCMOD"}));
    EXPECT_EQ(sim_->State()["logged_in"], 1);

    Click(panel::kConnect);
    EXPECT_FALSE(Wanted());
    EXPECT_EQ(sim_->State()["logged_in"], 0);
    const std::vector<std::vector<uint8_t>> frames = sim_->Frames();
    ASSERT_FALSE(frames.empty());
    const std::string logoff = CommandTable[kBCN_Logoff].frame;
    EXPECT_EQ(std::string(frames.back().begin(), frames.back().end()), logoff);
}

TEST_F(PanelSimTest, EveryDialogOpensFromThePanelAndTheBoxFollows) {
    SettingsRecord r;
    r.sys_input_select = 3;
    r.sys_2D3D = 1;
    r.sys_sdi_mix = 1;
    r.sys_sync_on = 0;
    Start(r);
    Click(panel::kConnect);
    ASSERT_TRUE(Wanted());
    auto box = [this](const char* key) { return sim_->State()[key]; };

    EXPECT_EQ(Operate(panel::kFunction, [](ui::LayoutDialog& d) { ClickIn(d, res::function::kRotateSdi1); }),
              "dpx::FunctionDialog");
    EXPECT_EQ(Settings().sys_rotate, 1);
    EXPECT_EQ(box("sys_rotate"), 1);

    EXPECT_EQ(Operate(panel::kOutputPreset, [](ui::LayoutDialog& d) { ClickIn(d, res::output_preset::kSdiMix); }),
              "dpx::OutputPresetDialog");
    EXPECT_EQ(Settings().sys_sdi_mix, 0);
    EXPECT_EQ(box("sys_sdi_mix"), 0);

    // 2D-3D adjust: a mode, then the parallax bar a page to the right.
    EXPECT_EQ(Operate(panel::kAdjustMode,
                      [](ui::LayoutDialog& d) {
                          ClickIn(d, res::adjust2d3d::kStandard);
                          ui::SendScrollRequest(ui::Control<QScrollBar>(&d, res::adjust2d3d::kParallaxBar),
                                                ui::ScrollRequest::PageRight);
                      }),
              "dpx::Adjust2D3DDialog");
    EXPECT_NE(Settings().sys_adj3d_mode, 0);
    EXPECT_EQ(Settings().sys_adj3d_para, 23);
    EXPECT_EQ(box("sys_adj3d_mode"), Settings().sys_adj3d_mode);
    EXPECT_EQ(box("sys_adj3d_para"), 23);

    EXPECT_EQ(Operate(panel::kInputSelect, [](ui::LayoutDialog& d) { ClickIn(d, res::input_select::kSdiLr); }),
              "dpx::InputSelectDialog");
    EXPECT_EQ(Settings().sys_input_select, 0);
    EXPECT_EQ(box("sys_input_select"), 0);
    EXPECT_EQ(box("adjust_mode"), 0);  // the panel turned adjust off before the dialog

    EXPECT_EQ(Operate(panel::kScope, [](ui::LayoutDialog& d) { ClickIn(d, res::scope::kWfm); }), "dpx::ScopeDialog");
    EXPECT_EQ(Settings().sys_scp_mode, 1);
    EXPECT_EQ(box("sys_scp_mode"), 1);

    EXPECT_EQ(Operate(panel::kAdjustMode, [](ui::LayoutDialog& d) { ClickIn(d, res::adjust_sdilr::kSplitMode); }),
              "dpx::AdjustSdiLrDialog");
    EXPECT_EQ(Settings().sys_scp_mode, 0);  // the scope went off first
    EXPECT_EQ(box("sys_scp_mode"), 0);
    EXPECT_NE(Settings().sys_LRadj_mode, 0);
    EXPECT_EQ(box("sys_LRadj_mode"), Settings().sys_LRadj_mode);

    EXPECT_TRUE(messages_.texts.empty()) << messages_.texts.front();
    // Every change reached the options file as well.
    QFile file(options_file_name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(), OptionFileText(Settings()));
}

// The box's port goes away under a connected panel and comes back at the same path (an
// adapter pulled out and plugged in again): CONNECT off succeeds at once, CONNECT on logs in
// again and the dialogs reach the box; the port is released when the panel exits.
TEST_F(PanelSimTest, ReconnectsAfterTheDeviceCameBackAndReleasesThePortAtExit) {
    SettingsRecord r;
    r.sys_sync_on = 0;
    sim_ = std::make_unique<test::SimProcess>();
    ASSERT_TRUE(sim_->Ok()) << sim_->Error();
    setenv("DPX20_COM1", sim_->LinkPath().c_str(), 1);
    WriteOptionFile(options_file_name, r);
    std::unique_ptr<test::SimProcess> first;
    std::vector<std::string> locks_while_connected;
    // The start waits for the link's thread, in an event loop of its own: the panel is
    // driven once it runs modally.
    QTimer driver;
    driver.start(10);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        shown_ = qobject_cast<TopDialog*>(QApplication::activeModalWidget());
        if (!shown_) return;
        driver.stop();
        Click(panel::kConnect);
        EXPECT_EQ(sim_->State()["logged_in"], 1);

        first = std::move(sim_);
        first->Stop();
        sim_ = std::make_unique<test::SimProcess>(std::vector<std::string>{}, first->LinkPath());
        ASSERT_TRUE(sim_->Ok()) << sim_->Error();

        Click(panel::kConnect);
        EXPECT_FALSE(Wanted());
        EXPECT_EQ(Box().Link().State().link_connected, 0);
        Click(panel::kConnect);
        EXPECT_TRUE(Wanted());
        EXPECT_EQ(sim_->State()["logged_in"], 1);
        EXPECT_EQ(Operate(panel::kFunction, [](ui::LayoutDialog& d) { ClickIn(d, res::function::kRotateSdi1); }),
              "dpx::FunctionDialog");
        EXPECT_EQ(sim_->State()["sys_rotate"], 1);
        EXPECT_TRUE(messages_.texts.empty()) << messages_.texts.front();

        locks_while_connected = OurLockFiles();
        Click(panel::kExit);
    });
    // The program's own start: the panel owns its link and the link's thread.
    auto link = std::make_unique<RS232c_bios>();
    link->SetPortFactory(platform::MakePortFactory());
    ui::QtMessageSink notices;
    RemoteApp().Run({std::move(link), std::make_unique<platform::QtWorker>()}, notices);
    ASSERT_NE(shown_, nullptr) << "the panel never ran";
    shown_ = nullptr;
    EXPECT_FALSE(locks_while_connected.empty());  // else the check below proves nothing
    EXPECT_TRUE(OurLockFiles().empty());
}

// The box's device goes away under a connected panel (an adapter pulled out), found by the
// idle panel or by the next operation: CONNECT goes off with one notice naming the port, the
// device and the cause, the idle panel then uses no CPU, and CONNECT works once it is back.
TEST_F(PanelSimTest, AVanishedDeviceClearsConnectWithOneNoticeAndNoSpin) {
    const struct {
        const char* found_by;
        int operation;                  // clicked at once, before the event loop runs
        std::size_t operation_messages;  // what that operation shows of its own
    } cases[] = {{"the idle panel", 0, 0}, {"2D-3D", panel::kConversion, 1}};
    SettingsRecord r;
    r.sys_sync_on = 0;
    r.sys_input_select = 3;  // HDMI: 2D-3D sends
    Start(r);
    std::vector<std::unique_ptr<test::SimProcess>> stopped;  // their folders hold the link path
    for (const auto& c : cases) {
        SCOPED_TRACE(c.found_by);
        Click(panel::kConnect);
        ASSERT_TRUE(Wanted()) << link_.State().link_failure;
        messages_.texts.clear();
        const std::string path = sim_->LinkPath();
        sim_->Stop();
        if (c.operation) Click(c.operation);
        for (int i = 0; i < 150 && Wanted(); ++i) RunEvents(20);
        EXPECT_FALSE(ui::Control<QAbstractButton>(panel_.get(), panel::kConnect)->isChecked());

        const double used = CpuSeconds();
        RunEvents(3000);
        const double share = (CpuSeconds() - used) / 3;
        std::printf("CPU share of the idle panel after its device went: %.3f\n", share);
        EXPECT_LT(share, 0.02);

        // The notice comes first; it names the port and the cause, which names the device.
        const std::string& why = link_.State().link_failure;
        EXPECT_NE(why.find(path), std::string::npos) << why;
        ASSERT_EQ(messages_.texts.size(), 1 + c.operation_messages);
        EXPECT_NE(messages_.texts[0].find("COM1: "), std::string::npos);
        EXPECT_NE(messages_.texts[0].find(why), std::string::npos) << messages_.texts[0];

        stopped.push_back(std::move(sim_));
        sim_ = std::make_unique<test::SimProcess>(std::vector<std::string>{}, path);
        ASSERT_TRUE(sim_->Ok()) << sim_->Error();
    }
    Click(panel::kConnect);
    EXPECT_TRUE(Wanted());
    EXPECT_EQ(sim_->State()["logged_in"], 1);
}

}  // namespace
}  // namespace dpx
