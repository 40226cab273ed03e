// A box that stops answering while logged in: told apart from connected and disconnected as
// "not answering" (its own event and state), and told again once it answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/OperatorText.h"
#include "session/Session.h"
#include "tests/support/ConnectedBoxTest.h"

namespace dpx {
namespace {

class AnsweringTest : public test::ConnectedBoxTest {
protected:
    void SetUp() override {
        ConnectedBoxTest::SetUp();
        session_.Subscribe([this](const SessionEvent& e) {
            if (e.kind != SessionEvent::Kind::kSetting) kinds_.push_back(e.kind);
        });
        ASSERT_TRUE(session_.Connect(1, record_, Source::kApi).ok);
        kinds_.clear();
    }
    void Beep(int32_t value) { session_.Change({{&SettingOf(&SettingsRecord::sys_beep), value}}, Source::kApi); }

    Session session_{link_, std::filesystem::path(".")};
    SettingsRecord& record_ = session_.Record();
    std::vector<SessionEvent::Kind> kinds_;
};

using K = SessionEvent::Kind;

TEST_F(AnsweringTest, SilenceIsToldOnceAndEndsWhenTheBoxAnswers) {
    EXPECT_STREQ(api::ConnectionName(session_.View()), "connected");
    test::BoxPort::Of(link_)->silent = true;
    Beep(1);
    Beep(0);  // still silent: told once
    EXPECT_TRUE(session_.NotAnswering());
    EXPECT_TRUE(session_.Connected());
    EXPECT_STREQ(api::ConnectionName(session_.View()), "not answering");
    test::BoxPort::Of(link_)->silent = false;
    Beep(1);
    EXPECT_STREQ(api::ConnectionName(session_.View()), "connected");
    EXPECT_EQ(kinds_, (std::vector<K>{K::kNotAnswering, K::kAnswering}));
}

TEST_F(AnsweringTest, ADisconnectionEndsSilenceWithoutAnAnswering) {
    test::BoxPort::Of(link_)->silent = true;
    Beep(1);
    test::BoxPort::Of(link_)->silent = false;  // hears the logoff
    session_.Connect(0, record_, Source::kApi);
    EXPECT_STREQ(api::ConnectionName(session_.View()), "disconnected");
    ASSERT_TRUE(session_.Connect(1, record_, Source::kApi).ok);
    EXPECT_EQ(kinds_, (std::vector<K>{K::kNotAnswering, K::kDisconnected, K::kConnected}));
}

}  // namespace
}  // namespace dpx
