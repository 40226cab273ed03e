// The panel serving the control API, offscreen, with `curl` as the client: a PUT reaches the
// box, the settings record, the options file and the panel's controls, and is refused while a
// dialog is open.
#include <gtest/gtest.h>

#include <QDialog>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFile>
#include <QEventLoop>
#include <QProcess>

#include "app/PanelApi.h"
#include "common/Format.h"
#include "model/SettingTable.h"
#include "resources/PanelIds.h"
#include "tests/support/BoxStates.h"
#include "tests/e2e/openapi_check.h"
#include "tests/ui/panel_fixture.h"

namespace dpx::test {
namespace {

struct Curl {
    int status = 0;
    std::string body;
};

// curl -X PUT URL -d BODY, run while the panel's event loop serves it; the answer is checked
// against the OpenAPI document the program carries.
Curl CurlPut(const std::string& url, const std::string& body) {
    QProcess curl;
    curl.start(QStringLiteral("curl"), {"-s", "-w", "\n%{http_code}", "-X", "PUT", "-H", "Content-Type: application/json",
                                        "-d", QString::fromStdString(body), QString::fromStdString(url)});
    QEventLoop loop;
    QObject::connect(&curl, &QProcess::finished, &loop, &QEventLoop::quit);
    if (curl.state() != QProcess::NotRunning) loop.exec();
    const std::string out = curl.readAllStandardOutput().toStdString();
    const std::size_t nl = out.rfind('\n');
    const Curl answer{nl == std::string::npos ? 0 : std::atoi(out.c_str() + nl + 1), out.substr(0, nl)};
    QFile document(QStringLiteral(":/dpx20remote/openapi.json"));
    EXPECT_TRUE(document.open(QIODevice::ReadOnly));
    const QString why = OpenApi(document.readAll()).CheckAnswer("PUT", "/settings", answer.status, QByteArray::fromStdString(answer.body));
    EXPECT_TRUE(why.isEmpty()) << answer.body << ": " << why.toStdString();
    return answer;
}

// A connected panel on a converting box, serving its control API at api_->Where().
class ApiPanelTest : public PanelTest {
protected:
    void Serve() {
        WriteOptions(Converting());
        Start();
        ConnectQuietly();
        api_ = std::make_unique<PanelApi>(*panel_);
        std::string why;
        ASSERT_TRUE(api_->Start("127.0.0.1:0", &why)) << why;
    }
    void TearDown() override {
        api_.reset();
        PanelTest::TearDown();
    }
    std::unique_ptr<PanelApi> api_;
};

TEST_F(ApiPanelTest, CurlSetsTheBoxThePanelAndTheFile) {
    Serve();
    PanelApi& api = *api_;
    const std::string url = api.Where() + "/settings";
    const Setting& parallax = *FindSetting("sys_adj3d_para");
    const Setting& conversion = *FindSetting("sys_2D3D");
    struct Case {
        const Setting& setting;
        int32_t value;
        bool dialog_open;
        int status;
    };
    const Case cases[] = {
        {parallax, parallax.Range().high, false, 200},
        {conversion, 1, false, 200},
        // A dialog or notice open on the panel does not lock the API out.
        {parallax, parallax.Range().low, true, 200},
    };
    for (const Case& c : cases) {
        QDialog dialog(panel_.get());
        dialog.setWindowModality(Qt::ApplicationModal);
        if (c.dialog_open) dialog.show();
        const int32_t before = Settings().*c.setting.field;
        const Curl r = CurlPut(url, Format("{\"%s\": %d}", c.setting.key, static_cast<int>(c.value)));
        ASSERT_EQ(r.status, c.status) << r.body;
        const int32_t now = c.status == 200 ? c.value : before;
        EXPECT_EQ(Settings().*c.setting.field, now) << c.setting.key;
        EXPECT_EQ(sim::ParseDump(box_.Dump())[c.setting.key], now) << c.setting.key;
        EXPECT_EQ(ReadFile("dpx20remote.ini"), LiveText());
    }
    EXPECT_TRUE(Checked(panel::kConversion));
}

// An options file that cannot be written fails the request as the service's does: 500, the
// panel's notice without the file's text, the system's reason, and the step the box took.
TEST_F(ApiPanelTest, AFailedSaveIsA500WithItsCauseAndTheStepsTaken) {
    Serve();
    PanelApi& api = *api_;
    const Setting& parallax = *FindSetting("sys_adj3d_para");
    ASSERT_TRUE(QFile::remove(QStringLiteral("dpx20remote.ini")));
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("dpx20remote.ini")));
    const Curl r = CurlPut(api.Where() + "/settings", Format("{\"%s\": %d}", parallax.key, static_cast<int>(parallax.Range().high)));
    QDir().rmdir(QStringLiteral("dpx20remote.ini"));
    ASSERT_EQ(r.status, 500) << r.body;
    const QJsonObject answer = QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object();
    EXPECT_TRUE(answer["error"].toString().startsWith("Cannot write to the ")) << r.body;
    EXPECT_FALSE(answer["error"].toString().contains('\n')) << r.body;
    EXPECT_EQ(answer["cause"].toString(), "not a regular file: a folder") << r.body;
    ASSERT_EQ(answer["steps"].toArray().size(), 1) << r.body;
    EXPECT_EQ(sim::ParseDump(box_.Dump())[parallax.key], parallax.Range().high);
}

}  // namespace
}  // namespace dpx::test
