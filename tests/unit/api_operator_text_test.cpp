// The control API's refusals in an operator's words: each kind of refusal and the text an
// operator reads for it; the codes stay in the answer beside it.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "api/OperatorText.h"

namespace dpx::api {
namespace {

TEST(OperatorText, EachRefusalInAnOperatorsWords) {
    struct Case {
        const char* path;
        int status;
        const char* answer;
        const char* text;
    };
    const Case cases[] = {
        {"/memory/3/load", 404, R"j({"error":"Do not found option file!\n\n[ file name = /srv/a/dpx20remote03.sav ]","result":null})j",
         "Memory 3 is empty"},
        {"/memory/2/load", 422, R"j({"error":"damaged","result":null})j", "Memory 2 cannot be read: damaged"},
        {"/sync", 409, R"j({"error":"not connected: connect first","result":6})j", "not connected"},
        {"/settings", 409, R"j({"error":"sys_beep=0: result 6 (not sent)","result":6,"steps":[{"command":"sys_beep","value":0,"result":6}]})j",
         "not connected"},
        {"/settings", 409, R"j({"error":"sys_bk_light=1: result 2 (NAK parameter error)","result":2,"steps":[{"command":"sys_bk_light","value":1,"result":2}]})j",
         "Back light: the box refused the value (NAK parameter error)"},
        {"/settings", 409, R"j({"error":"x","result":5,"steps":[{"command":"sys_adj3d_mode","value":0,"result":0},{"command":"sys_scp_pos","value":1,"result":5}]})j",
         "Scope position: the box did not answer"},
        {"/settings", 409, R"j({"error":"Cannot Change!\nInput is SDI-LR now, 2D3D conversion is not valid.","result":null})j",
         "Cannot Change!\nInput is SDI-LR now, 2D3D conversion is not valid."},
        {"/sync", 409, R"j({"error":"synchronisation: ...","result":5,"cause":"the box stopped answering","steps":[]})j",
         "the box is not answering"},
        {"/sync", 409, R"j({"error":"synchronisation: ...","result":3,"steps":[{"command":"sys_3dfmt","value":2,"result":3}]})j",
         "Synchronisation incomplete: 3D format, the box refuses it now"},
        {"/connect", 409, R"j({"error":"Connect error! : 3 times retry, but cannot connect.","cause":"/dev/ttyUSB0: No such file or directory"})j",
         "the box cannot be reached: /dev/ttyUSB0: No such file or directory"},
        {"/settings", 409, R"j({"error":"sys_beep=1: result 5","result":5,"cause":"/dev/ttyUSB0: device gone","steps":[{"command":"sys_beep","value":1,"result":6}]})j",
         "the box's connection was lost: /dev/ttyUSB0: device gone"},
        {"/adjust-memory/2/save", 409, R"j({"error":"x","result":2})j", "Adjust memory 2: the box refused the value"},
        {"/settings", 409, R"j({"error":"busy: a transaction is running","result":null})j", "busy: another action on this box is still running"},
        {"/settings", 400, R"j({"error":"unknown key \"x\"","result":null})j", "unknown key \"x\""},
    };
    for (const Case& c : cases) {
        std::string why;
        const std::optional<Json> answer = ParseJson(c.answer, &why);
        ASSERT_TRUE(answer) << c.answer << ": " << why;
        EXPECT_EQ(OperatorText(c.path, c.status, *answer), c.text) << c.path << " " << c.answer;
    }
}

TEST(OperatorText, SettingsHaveTheirPanelNames) {
    EXPECT_EQ(SettingLabel("sys_bk_light"), "Back light");
    EXPECT_EQ(SettingLabel("sys_scp_vgain"), "Vector gain");
    EXPECT_EQ(SettingLabel("com_port_num"), "com_port_num");  // none of its own
}

}  // namespace
}  // namespace dpx::api
