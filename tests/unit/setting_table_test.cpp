// The settings table against itself and the command table: a row the code can trust.
#include <gtest/gtest.h>

#include "model/SettingTable.h"

namespace dpx {
namespace {

TEST(SettingTable, EveryRowAgreesWithItselfAndTheCommandTable) {
    // Every field of the record has exactly one row, under a key of its own (the lookups
    // find the first row of a key or field).
    EXPECT_EQ(sizeof(SettingsRecord), kSettings.size() * sizeof(int32_t));
    for (const Setting& s : kSettings) {
        SCOPED_TRACE(s.key);
        EXPECT_EQ(FindSetting(s.key), &s);
        EXPECT_EQ(&SettingOf(s.field), &s);

        // A range of its own, or its command's; a value set lies within 0..31.
        ASSERT_TRUE(s.own || s.command != kNoCommand);
        const ValueRange r = s.Range();
        EXPECT_LE(r.low, r.high);
        if (r.only) {
            EXPECT_GE(r.low, 0);
            EXPECT_LT(r.high, 32);
            EXPECT_TRUE(r.Holds(r.low) && r.Holds(r.high));
        }
        // The file can hold every value: one digit, or two hex digits the codec reads back.
        if (s.form == FileForm::kDigit) {
            EXPECT_GE(r.low, 0);
            EXPECT_LE(r.high, 9);
        } else {
            EXPECT_GE(r.low, -60);
            EXPECT_LE(r.high, 60);
        }
        if (s.command == kNoCommand) continue;

        // A value command, whose category select exists; a signed command takes negative
        // values and only those; every value of the setting is one the box takes.
        EXPECT_TRUE(IsValueCommand(s.command));
        ASSERT_GE(s.Select(), 0);
        EXPECT_EQ(CommandTable[s.Select()].kind, kKindCategorySelect);
        EXPECT_EQ(CommandTable[s.Select()].category, CommandTable[s.command].category);
        EXPECT_EQ(s.Signed(), r.low < 0);
        const ValueRange& box = CommandTable[s.command].values;
        for (int32_t v = r.low; v <= r.high; ++v) EXPECT_TRUE(!r.Holds(v) || box.Holds(v)) << v;
        // A device operation that checks its values checks those of the setting.
        EXPECT_FALSE(CommandTable[s.command].checked && s.own);
    }

    // Every value command says what the box takes; a signed one as a signed byte.
    for (int n = 0; n < kSendableCommands; ++n) {
        if (!IsValueCommand(n)) continue;
        SCOPED_TRACE(CommandTable[n].word);
        const ValueRange& box = CommandTable[n].values;
        EXPECT_LE(box.low, box.high);
        EXPECT_GE(box.low, IsSignedCommand(n) ? -128 : 0);
        EXPECT_LE(box.high, IsSignedCommand(n) ? 127 : 255);
    }

    // Every synchronised setting goes to the box.
    for (const SyncStep& step : kSyncSteps) {
        SCOPED_TRACE(SettingOf(step.field).key);
        EXPECT_NE(SettingOf(step.field).command, kNoCommand);
    }
}

}  // namespace
}  // namespace dpx
