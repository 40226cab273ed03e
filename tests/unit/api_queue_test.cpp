// A box's operations queued on its own thread and their results handed back to the caller's:
// a request of the control API is answered only when its operation has run, after its events;
// a second change meanwhile is busy; state is answered at once; an answer for an API that has
// ended goes nowhere. The box's thread and the caller's are played by hand, one step at a time.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "api/ApiJson.h"
#include "api/ControlApi.h"
#include "common/Executor.h"
#include "link/RS232c_bios.h"
#include "session/Session.h"

namespace dpx::test {
namespace {

// Work waits in a queue until the test runs it.
class Queue {
public:
    void Add(std::function<void()> work) { work_.push_back(std::move(work)); }
    // Runs what is queued, also what it queues meanwhile; how many it ran.
    int RunAll() {
        int ran = 0;
        while (!work_.empty()) {
            std::function<void()> work = std::move(work_.front());
            work_.pop_front();
            work();
            ++ran;
        }
        return ran;
    }
    bool Empty() const { return work_.empty(); }

private:
    std::deque<std::function<void()>> work_;
};

// The box's thread: posted work waits; a caller that waits for work runs everything before it.
class HandRunExecutor final : public Executor {
public:
    void Run(const std::function<void()>& work) override {
        on_worker_ = true;
        queue.RunAll();
        work();
        on_worker_ = false;
    }
    void Post(std::function<void()> work) override {
        queue.Add([this, work = std::move(work)] {
            on_worker_ = true;
            work();
            on_worker_ = false;
        });
    }
    bool OnWorker() const override { return on_worker_; }
    Queue queue;

private:
    bool on_worker_ = false;
};

class NoHost final : public api::Host {
public:
    std::string Name() const override { return "service"; }
    void ShowSettings() override { ++shown; }
    std::string Device() const override { return "/dev/null"; }
    std::string PortKind() const override { return "device"; }
    int shown = 0;
};

class ApiQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        link_.SetVirtualMode(1);
        link_.SetExecutor(&worker_);
        api_ = std::make_unique<api::ControlApi>(session_, host_);
        api_->SetPost([this](std::function<void()> work) { caller_.Add(std::move(work)); });
        api_->on_event = [this](const std::string& json) { heard_.push_back(Field(json, "event") + " " + Field(json, "key")); };
    }
    void TearDown() override {
        api_.reset();
        link_.SetExecutor(nullptr);
    }
    static std::string Field(const std::string& json, const char* name) {
        std::string why;
        const std::optional<api::Json> j = api::ParseJson(json, &why);
        const api::Json* field = j ? j->Find(name) : nullptr;
        return field ? field->Dump() : "-";
    }
    // Asks and keeps what is answered, when it is.
    void Ask(const std::string& method, const std::string& path, const std::string& body = {}) {
        api::Request request;
        request.method = method;
        request.path = std::string(api::kBasePath) + path;
        request.body = body;
        api_->Handle(request, [this, path](api::Response r) {
            heard_.push_back(path + " " + std::to_string(r.status) + " " + Field(r.body, "busy") + Field(r.body, "error"));
        });
    }

    HandRunExecutor worker_;
    RS232c_bios link_;
    Session session_{link_, "."};
    SettingsRecord& record_ = session_.Record();
    NoHost host_;
    Queue caller_;
    std::unique_ptr<api::ControlApi> api_;
    std::vector<std::string> heard_;
};

TEST_F(ApiQueueTest, AChangeIsAnsweredWhenItHasRunAfterItsEvents) {
    Ask("POST", "/connect");
    worker_.queue.RunAll();
    caller_.RunAll();
    heard_.clear();

    Ask("PUT", "/settings", "{\"sys_beep\": 1}");
    EXPECT_TRUE(heard_.empty());  // queued for the box: nothing answered yet
    Ask("PUT", "/settings", "{\"sys_beep\": 0}");
    Ask("GET", "/state");
    EXPECT_EQ(heard_, (std::vector<std::string>{"\"failure\" -", "/settings 409 -\"busy: a transaction is running\"",
                                                "/state 200 \"a transaction is running\"null"}));
    heard_.clear();
    EXPECT_EQ(worker_.queue.RunAll(), 1);
    EXPECT_TRUE(heard_.empty());  // the result waits for the caller's thread
    EXPECT_EQ(host_.shown, 1);    // the options file was written on the box's thread, before the answer
    caller_.RunAll();
    EXPECT_EQ(heard_, (std::vector<std::string>{"\"setting\" \"sys_beep\"", "/settings 200 -null"}));
    EXPECT_EQ(record_.sys_beep, 1);
    heard_.clear();
    Ask("GET", "/state");
    EXPECT_EQ(heard_, (std::vector<std::string>{"/state 200 nullnull"}));
}

// The operations of one box run in the order they were asked for, whoever asked.
TEST_F(ApiQueueTest, OperationsRunInTheOrderAsked) {
    std::vector<int> ran, handed;
    for (int n = 1; n <= 3; ++n)
        session_.Submit<int>([&ran, n] {
            ran.push_back(n);
            return n * 10;
        },
                             [this](std::function<void()> work) { caller_.Add(std::move(work)); },
                             [&handed](int result) { handed.push_back(result); });
    EXPECT_TRUE(session_.Busy());
    worker_.queue.RunAll();
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(session_.Busy());
    EXPECT_TRUE(handed.empty());
    caller_.RunAll();
    EXPECT_EQ(handed, (std::vector<int>{10, 20, 30}));
}

// An API that ends with a change queued lets it run first, and its answer goes nowhere.
TEST_F(ApiQueueTest, AnAnswerAfterTheEndGoesNowhere) {
    Ask("PUT", "/settings", "{\"sys_beep\": 1}");
    api_.reset();  // waits for the box's queue
    EXPECT_TRUE(worker_.queue.Empty());
    caller_.RunAll();
    EXPECT_TRUE(heard_.empty());
}

}  // namespace
}  // namespace dpx::test
