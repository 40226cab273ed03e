// The control API of `dpx20ctl serve` against dpx20sim on a pseudo-terminal, through Qt's own
// HTTP and WebSocket clients: what each request does to the box, the options file and the
// event clients, and what it answers.
#include <gtest/gtest.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <algorithm>
#include <map>
#include <tuple>
#include <sys/stat.h>

#include "http/ApiServer.h"
#include "api/ControlApi.h"
#include "cli/Ctl.h"
#include "model/CommandTable.h"
#include "link/FrameTrace.h"
#include "model/SettingTable.h"
#include "session/BoxRules.h"
#include "tests/support/BoxStates.h"
#include "settings/OptionFile.h"
#include "tests/e2e/api_client.h"
#include "tests/support/Recorders.h"
#include "tests/support/TestApp.h"

namespace dpx::test {
namespace {

const Setting& Parallax() { return *FindSetting("sys_adj3d_para"); }
const Setting& Intensity() { return *FindSetting("sys_adj3d_inte"); }

int RunCtl(const QStringList& args, QString* errors = nullptr) {
    QProcess ctl;
    ctl.start(CtlProgram(), args);
    const int code = ctl.waitForFinished(60000) && ctl.exitStatus() == QProcess::NormalExit ? ctl.exitCode() : -1;
    if (errors) *errors = QString::fromUtf8(ctl.readAllStandardError());
    return code;
}

class ApiServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        ASSERT_TRUE(dir_.ok());
    }
    void Start(std::vector<std::string> sim_options = {}, const QString& api = QStringLiteral("127.0.0.1:0")) {
        sim_ = std::make_unique<SimProcess>(std::move(sim_options));
        ASSERT_TRUE(sim_->Ok()) << sim_->Error();
        // The service knows the box from its folder: adjusting, so the parallax reaches it.
        WriteOptionFile(options_file_name, Converting());
        serve_ = std::make_unique<ServeProcess>(
            QStringList{QStringLiteral("-p"), QString::fromStdString(sim_->LinkPath()), QStringLiteral("--api"), api});
        ASSERT_FALSE(serve_->Url().isEmpty()) << serve_->Output().toStdString();
        url_ = serve_->Url();
    }
    long Box(const Setting& s) { return sim_->State()[s.key]; }

    TemporaryCurrentDir dir_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<ServeProcess> serve_;
    QString url_;
};

// A box silent at start is served disconnected, as a box of --box is, and the log says why.
TEST_F(ApiServiceTest, ABoxSilentAtStartIsServedDisconnected) {
    Start({"--drop", "BCN10"});
    const HttpResult state = Http(url_ + "/state", "GET");
    EXPECT_EQ(state.status, 200) << state.body.data();
    EXPECT_FALSE(state.json["connected"].toBool()) << state.body.data();
    EXPECT_TRUE(serve_->Output().contains("box 1 on " + QString::fromStdString(sim_->LinkPath()) + ": not connected: login: result 5"))
        << serve_->Output().toStdString();
    EXPECT_TRUE(serve_->Terminate(10000));
}

// A device pulled mid-synchronisation ends it: 409 with the session's cause, and no further pass.
TEST_F(ApiServiceTest, ADevicePulledMidSyncEndsItWithTheCause) {
    Start({"--delay", "40"});
    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> sync(network.post(QNetworkRequest{QUrl(url_ + "/sync")}, QByteArray()));
    const QString device = QString::fromStdString(sim_->LinkPath());
    QEventLoop loop;
    QObject::connect(sync.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(400, [this] { sim_.reset(); });  // some steps in
    loop.exec();
    EXPECT_EQ(sync->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 409);
    const QJsonObject answer = QJsonDocument::fromJson(sync->readAll()).object();
    const QString cause = answer["cause"].toString();
    EXPECT_TRUE(cause.startsWith(device + ": ")) << QJsonDocument(answer).toJson().toStdString();
    EXPECT_EQ(cause, Http(url_ + "/state", "GET").json["cause"].toString());
    EXPECT_FALSE(answer["synchronised"].toBool());
    EXPECT_FALSE(answer["summary"].toString().contains("2nd try")) << answer["summary"].toString().toStdString();
}

// Each kind of request: its status, and the box and the options file untouched by a refusal.
TEST_F(ApiServiceTest, RequestsAnswerWithTheirStatusAndChangeOnlyWhatTheyDid) {
    // The box refuses the intensity: a two-key PUT stops there, after the parallax.
    Start({"--nak", std::string(CommandTable[Intensity().command].word) + "=1"});
    // The folder is this service's while it runs: a second service in it ends at once.
    EXPECT_EQ(RunCtl({"-p", QString::fromStdString(sim_->LinkPath()), "--api", "127.0.0.1:0", "serve"}), cli::kExitFile);
    const int high = Parallax().Range().high;
    const QByteArray para = Parallax().key;
    struct Case {
        QByteArray method, path, body;
        int status;
        QString error;  // the answer's error starts with it
        long parallax;  // on the box afterwards
    };
    const Case cases[] = {
        {"PUT", "/settings", "{\"" + para + "\": " + QByteArray::number(high) + "}", 200, {}, high},
        {"PUT", "/settings", "{\"" + para + "\": 3, \"" + Intensity().key + "\": 1}", 409, Intensity().key + QString("=1: result"), 3},
        {"PUT", "/settings", "{\"" + para + "\": " + QByteArray::number(high + 1) + "}", 422, para + " takes", 3},
        {"PUT", "/settings", "{\"no_such_key\": 1}", 400, "unknown key", 3},
        {"PUT", "/settings", "{\"" + para + "\": ", 400, "bad JSON", 3},
        {"PUT", "/settings", "{\"" + para + "\": \"5\"}", 400, para + " takes an integer", 3},
        // A number is named by its text: digits past the 64-bit integers are out of range.
        {"PUT", "/settings", "{\"" + para + "\": 1e3}", 400, para + " takes an integer written in digits, not 1e3", 3},
        {"PUT", "/settings", "{\"" + para + "\": 9223372036854775808}", 422, para + " takes", 3},
        {"PUT", "/settings", QByteArray(api::kBodyLimit + 1, ' '), 413, "the body is", 3},
        {"POST", "/memory/7/save", {}, 404, "no such memory", 3},
        // The panel's rule: nothing is sent.
        {"PUT", "/settings", "{\"sys_input_select\": 0, \"sys_2D3D\": 1}", 409, rules::kSdiLrForbidsConversion, 3},
        {"DELETE", "/state", {}, 405, "/api/v1/state takes GET", 3},
        {"GET", "/trace", {}, 200, {}, 3},
    };
    for (const Case& c : cases) {
        const HttpResult r = Http(url_ + c.path, c.method, c.body);
        EXPECT_EQ(r.status, c.status) << c.method.data() << " " << c.path.data() << " " << r.body.data();
        EXPECT_TRUE(r.json["error"].toString().startsWith(c.error)) << r.body.data();
        EXPECT_EQ(Box(Parallax()), c.parallax) << r.body.data();
    }
    // A refusal names the box's result; the options file keeps what the box took.
    const HttpResult refused = Http(url_ + "/settings", "PUT", "{\"" + QByteArray(Intensity().key) + "\": 1}");
    EXPECT_EQ(refused.json["result"].toInt(), kResultParameterError);
    EXPECT_EQ(refused.json["meaning"].toString(), LinkResultMeaning(kResultParameterError));
    SettingsRecord file;
    MessageRecorder quiet;
    ASSERT_EQ(ReadOptionFile(options_file_name, file), 1);
    EXPECT_EQ(file.*Parallax().field, 3);

    // A memory file that cannot be written is an answer with the panel's message; the service
    // goes on serving.
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(MemoryFileName(1))));
    const HttpResult unsaved = Http(url_ + "/memory/1/save", "POST");
    EXPECT_EQ(unsaved.status, 500) << unsaved.body.data();
    EXPECT_TRUE(unsaved.json["error"].toString().startsWith("Cannot")) << unsaved.body.data();

    // An options file that cannot be written: the box took the value, and the answer says so
    // (the notice without the file's text, the system's reason, the steps).
    ASSERT_TRUE(QFile::remove(QString::fromStdString(options_file_name)));
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(options_file_name)));
    const HttpResult unwritten = Http(url_ + "/settings", "PUT", "{\"" + para + "\": 4}");
    EXPECT_EQ(unwritten.status, 500) << unwritten.body.data();
    EXPECT_TRUE(unwritten.json["error"].toString().startsWith("Cannot write to the ")) << unwritten.body.data();
    EXPECT_FALSE(unwritten.json["error"].toString().contains('\n')) << unwritten.body.data();
    EXPECT_EQ(unwritten.json["cause"].toString(), "not a regular file: a folder") << unwritten.body.data();
    ASSERT_EQ(unwritten.json["steps"].toArray().size(), 1) << unwritten.body.data();
    EXPECT_EQ(unwritten.json["steps"][0]["result"].toInt(), kResultOk);
    EXPECT_EQ(Box(Parallax()), 4);
    ASSERT_TRUE(QDir().rmdir(QString::fromStdString(options_file_name)));
    ASSERT_EQ(Http(url_ + "/settings", "PUT", "{\"" + para + "\": 3}").status, 200);

    const HttpResult state = Http(url_ + "/state", "GET");
    EXPECT_TRUE(state.json["connected"].toBool()) << state.body.data();
    EXPECT_EQ(state.json["settings"][Parallax().key]["value"].toInt(), 3);
    EXPECT_EQ(state.json["settings"][Parallax().key]["range"]["high"].toInt(), high);

    // A synchronisation (HDMI input, conversion on: the adjust values are sent) lists the step
    // that failed in each pass, in the shape of a PUT's steps.
    const HttpResult sync = Http(url_ + "/sync", "POST", "{\"sys_2D3D\": 1, \"sys_input_select\": 1}");
    EXPECT_EQ(sync.status, 409) << sync.body.data();
    EXPECT_EQ(sync.json["errors"].toInt(), 1);
    const QJsonArray steps = sync.json["steps"].toArray();
    ASSERT_EQ(steps.size(), 3) << sync.body.data();
    for (int pass = 1; pass <= 3; ++pass) {
        const QJsonObject step = steps[pass - 1].toObject();
        EXPECT_EQ(step["command"].toString(), Intensity().key);
        EXPECT_EQ(step["value"].toInt(), state.json["settings"][Intensity().key]["value"].toInt());
        EXPECT_EQ(step["result"].toInt(), kResultParameterError);
        EXPECT_EQ(step["meaning"].toString(), LinkResultMeaning(kResultParameterError));
        EXPECT_EQ(step["word"].toString(), CommandTable[Intensity().command].word);
        EXPECT_EQ(step["pass"].toInt(), pass);
    }
}

// A synchronisation with given values: the state, the options file and the events say what the
// box holds, never a value no pass sent (2D-3D and its adjust at the SDI-LR input).
TEST_F(ApiServiceTest, ASyncWithValuesShowsOnlyWhatTheBoxHolds) {
    Start();
    EventClient events(url_);
    ASSERT_TRUE(events.WaitFor(1));
    const HttpResult sync = Http(url_ + "/sync", "POST", R"({"sys_input_select": 0, "sys_2D3D": 1, "sys_adj3d_mode": 4})");
    ASSERT_EQ(sync.status, 200) << sync.body.data();
    const std::vector<std::string> words = sim_->Words();
    EXPECT_EQ(std::count(words.begin(), words.end(), "CONVE"), 0);
    const QJsonObject settings = Http(url_ + "/state", "GET").json["settings"].toObject();
    SettingsRecord file;
    ASSERT_EQ(ReadOptionFile(options_file_name, file), 1);
    for (const char* key : {"sys_2D3D", "sys_adj3d_mode"}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(settings[key]["value"].toInt(), 0);
        EXPECT_EQ(file.*(FindSetting(key)->field), 0);
    }
    EXPECT_EQ(settings["sys_input_select"]["value"].toInt(), 0);
    // The service knew 2D-3D on: it goes off, and never on.
    for (const QJsonObject& e : events.Events())
        if (e["key"].toString() == "sys_2D3D") {
            EXPECT_EQ(e["value"].toInt(), 0) << QJsonDocument(e).toJson().toStdString();
        }
}

// An event client hears the state first, then each change with its source; dpx20ctl --panel
// sends through the service, whose session stays logged in; a memory load synchronises the box.
TEST_F(ApiServiceTest, EventsTellEveryChangeAndThePanelOptionSendsThroughTheService) {
    Start();
    EventClient events(url_);
    ASSERT_TRUE(events.WaitFor(1)) << serve_->Output().toStdString();
    EXPECT_EQ(events.Events()[0]["event"].toString(), "state");

    const HttpResult state = Http(url_ + "/state", "GET");
    const int saved = state.json["settings"][Parallax().key]["value"].toInt();
    ASSERT_EQ(Http(url_ + "/memory/1/save", "POST").status, 200);
    ASSERT_EQ(RunCtl({"--panel", url_, "set", QStringLiteral("%1=%2").arg(Parallax().key).arg(saved + 1)}), 0);
    EXPECT_EQ(Box(Parallax()), saved + 1);
    // A memory load synchronises the box.
    const HttpResult load = Http(url_ + "/memory/1/load", "POST");
    EXPECT_EQ(load.status, 200) << load.body.data();
    EXPECT_TRUE(load.json["synchronised"].toBool()) << load.body.data();
    ASSERT_TRUE(events.WaitFor(3));
    for (int i : {1, 2}) {
        const QJsonObject changed = events.Events()[i];
        EXPECT_EQ(changed["event"].toString(), "setting");
        EXPECT_EQ(changed["key"].toString(), Parallax().key);
        EXPECT_EQ(changed["value"].toInt(), i == 1 ? saved + 1 : saved);
        EXPECT_EQ(changed["source"].toString(), i == 1 ? "api" : "memory");
    }
    EXPECT_EQ(sim_->State()["logged_in"], 1);

    EXPECT_EQ(Http(url_ + "/disconnect", "POST").status, 200);
    ASSERT_TRUE(events.WaitFor(4));
    EXPECT_EQ(events.Events()[3]["event"].toString(), "disconnected");
    EXPECT_EQ(sim_->State()["logged_in"], 0);
    // Refused by the link while logged off: the box is not reached.
    const long on_box = Box(Parallax());
    EXPECT_EQ(RunCtl({"-p", url_, "set", QStringLiteral("%1=%2").arg(Parallax().key).arg(on_box + 1)}), 1);
    EXPECT_EQ(Box(Parallax()), on_box);
}

// Served beyond loopback, every request needs the token kept in the user's configuration
// (readable by the user alone); dpx20ctl --panel sends it.
// A box that falls silent mid-synchronisation: the service answers other requests meanwhile,
// gives the synchronisation up with its cause, and SIGTERM still ends it at once.
TEST_F(ApiServiceTest, ASilentBoxStallsNeitherTheServiceNorItsEnd) {
    Start({"--silent-after", "8"});
    QNetworkAccessManager network;
    QNetworkRequest sync_request{QUrl(url_ + "/sync")};
    sync_request.setTransferTimeout(60000);
    std::unique_ptr<QNetworkReply> sync(network.post(sync_request, QByteArray()));
    // Answered while the synchronisation runs; a second change waits for no one.
    HttpResult state;
    for (int i = 0; i < 100 && state.json["busy"].isNull() && !sync->isFinished(); ++i) state = Http(url_ + "/state", "GET");
    EXPECT_EQ(state.status, 200);
    EXPECT_FALSE(sync->isFinished());
    EXPECT_EQ(state.json["busy"].toString(), "a transaction is running") << state.body.data();
    // Busy is its own result: try again; a refusal by a rule or the box stands.
    const HttpResult busy = Http(url_ + "/settings", "PUT", "{\"sys_beep\": 1}");
    EXPECT_EQ(busy.status, 409);
    EXPECT_EQ(busy.json["result"].toString(), "busy") << busy.body.data();
    // dpx20ctl --panel tells it by that result: try again, as for a port in use; a rule's
    // refusal stands (SeveralBoxesAreServedEachOnItsOwn).
    QString said;
    EXPECT_EQ(RunCtl({"--panel", url_, "set", "sys_beep=1"}, &said), cli::kExitPort) << said.toStdString();

    QEventLoop loop;
    QObject::connect(sync.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!sync->isFinished()) loop.exec();
    const QJsonObject answer = QJsonDocument::fromJson(sync->readAll()).object();
    EXPECT_EQ(sync->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 409);
    EXPECT_EQ(answer["cause"].toString().toStdString(), RS232c_bios::kSilentCause);
    EXPECT_TRUE(serve_->Terminate(3000)) << serve_->Output().toStdString();
}

// Three boxes from one service: each request reaches its own box, a silent box holds up no
// other, a vanished one is served as disconnected with its cause and is connected again.
TEST_F(ApiServiceTest, SeveralBoxesAreServedEachOnItsOwn) {
    std::map<std::string, std::unique_ptr<SimProcess>> sims;
    for (const std::string name : {"a", "b", "c"}) {
        // Links in the test's folder, so that c can come back where it was.
        sims[name] = std::make_unique<SimProcess>(name == "b" ? std::vector<std::string>{"--silent-after", "12"}
                                                              : std::vector<std::string>{},
                                                  QDir::current().filePath(QString::fromStdString("link-" + name)).toStdString());
        ASSERT_TRUE(sims[name]->Ok()) << sims[name]->Error();
    }
    QStringList args{"--api", "127.0.0.1:0"};
    for (const auto& [name, sim] : sims) args << "--box" << QString::fromStdString(name + "=" + sim->LinkPath());
    serve_ = std::make_unique<ServeProcess>(args);
    ASSERT_FALSE(serve_->Url().isEmpty()) << serve_->Output().toStdString();
    const QString url = serve_->Url();
    const QJsonArray boxes = Http(url + "/boxes", "GET").json["boxes"].toArray();
    ASSERT_EQ(boxes.size(), 3);
    for (const QJsonValue& box : boxes) EXPECT_TRUE(box["connected"].toBool()) << box["name"].toString().toStdString();

    // Routing: a setting reaches its box alone, its event names the box, its folder keeps it.
    EventClient events(url);
    EventClient c_events(url + "/boxes/c");  // c's alone
    ASSERT_TRUE(events.WaitFor(1));
    ASSERT_TRUE(c_events.WaitFor(1));
    EXPECT_EQ(c_events.Events().front()["box"].toString(), "c");
    EXPECT_EQ(Http(url + "/boxes/a/settings", "PUT", "{\"sys_beep\": 1}").status, 200);
    EXPECT_EQ(sims["a"]->State()["sys_beep"], 1);
    EXPECT_EQ(sims["c"]->State()["sys_beep"], 0);
    ASSERT_TRUE(events.WaitFor(2));
    EXPECT_EQ(events.Events().back()["box"].toString(), "a");
    EXPECT_TRUE(QFile::exists("a/dpx20remote.ini"));
    // a's folder is this service's while it runs: a second service of a ends at once.
    EXPECT_EQ(RunCtl({"--api", "127.0.0.1:0", "--box", QString::fromStdString("a=" + sims["a"]->LinkPath()), "serve"}),
              cli::kExitFile);
    // dpx20ctl --panel --box: the values as given, to one box, planned by that box's rules.
    EXPECT_EQ(RunCtl({"--panel", url, "--box", "c", "set", "sys_bk_light=-3"}), 0);
    EXPECT_EQ(sims["c"]->State()["sys_bk_light"], -3);
    EXPECT_EQ(RunCtl({"--panel", url, "--box", "c", "set", "sys_input_select=0", "sys_2D3D=1"}), 1);
    // The router's refusals: each key once, a 405 with the methods taken.
    for (const auto& [method, path, status] : {std::tuple<QByteArray, QString, int>{"GET", "/boxes/zz/state", 404},
                                               {"GET", "/state", 404},  // which box's? the paths name it
                                               {"DELETE", "/boxes", 405},
                                               {"PUT", "/events", 405}}) {
        QNetworkAccessManager network;
        QNetworkRequest request{QUrl(url + path)};
        std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, method));
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        if (!reply->isFinished()) loop.exec();
        const QByteArray body = reply->readAll();
        EXPECT_EQ(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status) << path.toStdString();
        EXPECT_EQ(body.count("\"ok\""), 1) << body.data();
        EXPECT_EQ(body.count("\"error\""), 1) << body.data();
        EXPECT_EQ(reply->rawHeader("Allow").isEmpty(), status != 405) << path.toStdString();
    }

    // While b is silent mid-synchronisation, a answers as usual.
    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> sync(network.post(QNetworkRequest{QUrl(url + "/boxes/b/sync")}, QByteArray()));
    for (int i = 0; i < 100 && Http(url + "/boxes/b/state", "GET").json["busy"].isNull(); ++i) QThread::msleep(5);
    EXPECT_EQ(Http(url + "/boxes/a/settings", "PUT", "{\"sys_beep\": 0}").status, 200);
    EXPECT_FALSE(sync->isFinished());
    QEventLoop loop;
    QObject::connect(sync.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!sync->isFinished()) loop.exec();
    EXPECT_EQ(QJsonDocument::fromJson(sync->readAll()).object()["cause"].toString().toStdString(), RS232c_bios::kSilentCause);

    // c vanishes: its requests fail with the cause, and it is connected again once back.
    const std::string c_link = sims["c"]->LinkPath();
    sims["c"].reset();
    const HttpResult lost = Http(url + "/boxes/c/settings", "PUT", "{\"sys_beep\": 1}");
    EXPECT_EQ(lost.status, 409);
    EXPECT_FALSE(lost.json["cause"].toString().isEmpty()) << lost.body.data();
    for (const QJsonValue& box : Http(url + "/boxes", "GET").json["boxes"].toArray())
        EXPECT_TRUE(box["name"] != "c" || !box["connected"].toBool());
    sims["c"] = std::make_unique<SimProcess>(std::vector<std::string>{}, c_link);
    ASSERT_TRUE(sims["c"]->Ok()) << sims["c"]->Error();
    EXPECT_EQ(Http(url + "/boxes/c/connect", "POST").status, 200);
    EXPECT_EQ(Http(url + "/boxes/c/settings", "PUT", "{\"sys_beep\": 1}").status, 200);
    ASSERT_TRUE(c_events.WaitFor(2));
    for (const QJsonObject& event : c_events.Events()) EXPECT_EQ(event["box"].toString(), "c");
    EXPECT_TRUE(serve_->Terminate(3000)) << serve_->Output().toStdString();
}

// What goes wrong at the start fails as little as it can: a port that is taken ends the service
// before any box hears a frame; a sync file that cannot be read fails its own box, named in
// /boxes; box.ini gives a label; dpx20ctl --panel without --box names the boxes.
TEST_F(ApiServiceTest, AStartFailsNoMoreThanItMust) {
    std::map<std::string, std::unique_ptr<SimProcess>> sims;
    for (const std::string name : {"a", "b"}) {
        sims[name] = std::make_unique<SimProcess>(std::vector<std::string>{},
                                                  QDir::current().filePath(QString::fromStdString("link-" + name)).toStdString());
        ASSERT_TRUE(sims[name]->Ok()) << sims[name]->Error();
    }
    const QString a = QString::fromStdString("a=" + sims["a"]->LinkPath());
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost));
    const QString port = QStringLiteral("127.0.0.1:%1").arg(taken.serverPort());
    QString errors;
    for (const QStringList& where : {QStringList{"--box", a}, QStringList{"-p", QString::fromStdString(sims["a"]->LinkPath())}}) {
        EXPECT_EQ(RunCtl(QStringList{"--api", port} + where + QStringList{"serve"}, &errors), cli::kExitUsage);
        EXPECT_TRUE(errors.contains("cannot listen on " + port)) << errors.toStdString();
        EXPECT_TRUE(sims["a"]->Frames().empty());
    }
    QDir().mkpath("a");
    QFile file("a/box.ini");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("label = Caméra 1\nlocation = Rack A\n");
    file.close();
    serve_ = std::make_unique<ServeProcess>(QStringList{"--api", "127.0.0.1:0", "--box", a, "--box",
                                                        QString::fromStdString("b=" + sims["b"]->LinkPath()) + ",sync=missing.ini"});
    ASSERT_FALSE(serve_->Url().isEmpty()) << serve_->Output().toStdString();
    std::map<QString, QJsonObject> boxes;
    for (const QJsonValue& box : Http(serve_->Url() + "/boxes", "GET").json["boxes"].toArray()) boxes[box["name"].toString()] = box.toObject();
    EXPECT_EQ(boxes["a"]["connection"].toString(), "connected");
    EXPECT_EQ(boxes["a"]["label"].toString(), "Caméra 1");
    EXPECT_EQ(boxes["b"]["connection"].toString(), "disconnected");
    EXPECT_EQ(boxes["b"]["start_error"].toString(), "the sync file missing.ini does not exist");
    EXPECT_TRUE(sims["b"]->Frames().empty());
    EXPECT_EQ(RunCtl({"--panel", serve_->Url(), "set", "sys_beep=1"}, &errors), cli::kExitUsage);
    EXPECT_TRUE(errors.contains("name one with --box NAME: a (Caméra 1, Rack A), b")) << errors.toStdString();
    EXPECT_EQ(RunCtl({"--panel", serve_->Url(), "--box", "c", "set", "sys_beep=1"}, &errors), cli::kExitUsage);
    EXPECT_TRUE(errors.contains("no box c here")) << errors.toStdString();
    EXPECT_TRUE(serve_->Terminate(3000)) << serve_->Output().toStdString();
}

// One box on -p is served as a box of --box is: a sync file that cannot be read serves it
// disconnected with the cause in /boxes, a client connects it later, and --trace records its
// frames.
TEST_F(ApiServiceTest, OneBoxOnThePortIsServedAsABoxOfSeveral) {
    sim_ = std::make_unique<SimProcess>();
    ASSERT_TRUE(sim_->Ok()) << sim_->Error();
    const QString link = QString::fromStdString(sim_->LinkPath());
    const struct {
        QStringList where;
        QString box;  // the box's path under /api/v1
    } cases[] = {{{"-p", link}, ""}, {{"--box", "a=" + link}, "/boxes/a"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where.join(' ').toStdString());
        QFile::remove("trace.txt");
        const std::size_t heard = sim_->Frames().size();
        serve_ = std::make_unique<ServeProcess>(QStringList{"--api", "127.0.0.1:0", "--trace", "trace.txt", "--sync", "missing.ini"} +
                                                c.where);
        ASSERT_FALSE(serve_->Url().isEmpty()) << serve_->Output().toStdString();
        const QJsonArray boxes = Http(serve_->Url() + "/boxes", "GET").json["boxes"].toArray();
        ASSERT_EQ(boxes.size(), 1);
        EXPECT_EQ(boxes[0]["connection"].toString(), "disconnected");
        EXPECT_EQ(boxes[0]["start_error"].toString(), "the sync file missing.ini does not exist");
        EXPECT_EQ(sim_->Frames().size(), heard);
        EXPECT_EQ(Http(serve_->Url() + c.box + "/connect", "POST").status, 200);
        EXPECT_TRUE(serve_->Terminate(3000)) << serve_->Output().toStdString();
        QFile trace("trace.txt");
        ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
        const QByteArray frames = trace.readAll();
        EXPECT_TRUE(frames.contains(" logoff result 0 (ACK)\n")) << frames.toStdString();
    }
}

// The boxes of a service are named and placed on the command line once each.
TEST_F(ApiServiceTest, BadBoxesAreUsageErrors) {
    const QStringList bad[] = {
        {"--box", "a b=1"}, {"--box", "a=1", "--box", "a=2"}, {"--box", "a=1", "--box", "b=COM1"},
        {"--box", "a="},    {"--box", "a=1,speed=2"},       {"-p", "1", "--box", "a=2"},
    };
    for (const QStringList& boxes : bad)
        EXPECT_EQ(RunCtl(QStringList{"--api", "127.0.0.1:0"} + boxes + QStringList{"serve"}), 2) << boxes.join(' ').toStdString();
}

TEST_F(ApiServiceTest, AnAddressBeyondLoopbackAsksForTheToken) {
    qputenv("XDG_CONFIG_HOME", dir_.path().toUtf8());
    Start({}, QStringLiteral("0.0.0.0:0"));
    url_.replace(QStringLiteral("0.0.0.0"), QStringLiteral("127.0.0.1"));
    QFile file(dir_.path() + "/dpx20remote/api-token");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray token = file.readAll().trimmed();
    struct stat st{};
    ASSERT_EQ(::stat(file.fileName().toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    EXPECT_EQ(Http(url_ + "/state", "GET").status, 401);
    EXPECT_EQ(Http(url_ + "/state", "GET", {}, token.chopped(1) + (token.endsWith('a') ? "b" : "a")).status, 401);
    EXPECT_EQ(Http(url_ + "/state", "GET", {}, token).status, 200);
    EXPECT_EQ(RunCtl({"--panel", url_, "set", QStringLiteral("%1=4").arg(Parallax().key)}), 0);
    EXPECT_EQ(Box(Parallax()), 4);
    qunsetenv("XDG_CONFIG_HOME");
}

// --api [ADDR:]PORT as the service and the panel read it.
TEST(ApiListenAddress, TakesPortHostAndBracketedIpv6Only) {
    struct Case {
        std::string address;
        std::string host;  // empty: refused
        uint16_t port;
    };
    const Case cases[] = {
        {"8420", "127.0.0.1", 8420}, {"localhost:1", "127.0.0.1", 1}, {"0.0.0.0:0", "0.0.0.0", 0},
        {"[::1]:65535", "::1", 65535}, {"::1:80", "", 0}, {"host:", "", 0}, {"65536", "", 0},
        {"", "", 0}, {":80", "", 0}, {"[::1]80", "", 0}, {"1x", "", 0},
    };
    for (const Case& c : cases) {
        api::ListenAddress a;
        std::string why;
        ASSERT_EQ(api::ParseListenAddress(c.address, &a, &why), !c.host.empty()) << c.address << ": " << why;
        if (c.host.empty()) {
            EXPECT_FALSE(why.empty()) << c.address;
            continue;
        }
        EXPECT_EQ(a.host, c.host) << c.address;
        EXPECT_EQ(a.port, c.port) << c.address;
    }
}

}  // namespace
}  // namespace dpx::test
