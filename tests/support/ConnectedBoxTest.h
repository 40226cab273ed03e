#pragma once
// A link logged in to an in-process box on the fake clock, with the messages recorded and the
// settings put back after the test: the set-up of the tests that drive whole operations.
#include <gtest/gtest.h>

#include <vector>

#include "link/RS232c_bios.h"
#include "sim/BoxModel.h"
#include "tests/support/BoxPort.h"
#include "tests/support/Recorders.h"
#include "tests/support/TestSeam.h"

namespace dpx::test {

class ConnectedBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        BoxPort::Install(link_, box_);
        link_.SetDebugMode(0);
        ASSERT_EQ(link_.SetComNumber(1), 1);
        ASSERT_EQ(link_.ConnectLink(1), 1);
        box_.ClearHistory();
    }
    // The value commands the box received, in order (category selects left out).
    std::vector<int> ValueCommands() const {
        std::vector<int> out;
        for (const sim::Exchange& ex : box_.History())
            if (ex.command >= kINPSE && ex.command <= kCONVE) out.push_back(ex.command);
        return out;
    }

    FakeClock clock_;
    MessageRecorder messages_;
    sim::BoxModel box_;
    RS232c_bios link_;
    TestSeam seam_;  // after the link: restores its hooks first
};

}  // namespace dpx::test
