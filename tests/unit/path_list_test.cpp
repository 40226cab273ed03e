// The Windows setup's edit of the user's PATH: its folder added once, taken out exactly, and
// every other entry, separator and byte left as it was.
#include <gtest/gtest.h>

#include <string>

#include "winpath/PathList.h"

namespace dpx {
namespace {

constexpr wchar_t kFolder[] = L"C:\\Users\\Ann\\AppData\\Local\\Programs\\dpx20remote";

TEST(PathList, AddsTheFolderOnceAfterWhatIsThere) {
    const std::wstring f = kFolder;
    struct Case {
        std::wstring list, added;
    };
    const Case cases[] = {
        {L"", f},
        {L"C:\\tools;D:\\bin", L"C:\\tools;D:\\bin;" + f},
        {L"C:\\tools;D:\\bin;", L"C:\\tools;D:\\bin;" + f + L";"},  // no empty entry made
        {L"%USERPROFILE%\\bin", L"%USERPROFILE%\\bin;" + f},  // variables stay unexpanded
        {f + L"-old", f + L"-old;" + f},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WithFolder(c.list, f), c.added);
        EXPECT_EQ(WithoutFolder(c.added, f), c.list);
    }

    // The same folder written otherwise is there already.
    for (const std::wstring& list : {L"C:\\tools;" + f, std::wstring(L"C:\\USERS\\ann\\appdata\\local\\programs\\DPX20REMOTE\\;C:\\x"),
                                    std::wstring(L"\"c:/users/ann/appdata/local/programs/dpx20remote\"")})
        EXPECT_FALSE(WithFolder(list, f));
}

TEST(PathList, RemovesExactlyTheFolderWithOneSeparator) {
    const std::wstring f = kFolder;
    struct Case {
        std::wstring list, left;
    };
    const Case cases[] = {
        {f, L""},
        {L"C:\\tools;" + f, L"C:\\tools"},
        {f + L";C:\\tools", L"C:\\tools"},
        {L"C:\\tools;" + f + L";D:\\bin", L"C:\\tools;D:\\bin"},
        {L"C:\\tools;" + f + L";", L"C:\\tools;"},
        {L";;C:\\tools;;" + f + L"\\;%X%;", L";;C:\\tools;;%X%;"},  // empty entries stay
        {f + L";C:\\tools;" + f, L"C:\\tools"},                         // a second copy goes too
    };
    for (const Case& c : cases) EXPECT_EQ(WithoutFolder(c.list, f), c.left);

    EXPECT_FALSE(WithoutFolder(L"C:\\tools;D:\\bin", f));
    EXPECT_FALSE(WithoutFolder(L"", f));
    EXPECT_FALSE(WithoutFolder(f + L"-old;" + f.substr(0, f.size() - 1), f));
}

TEST(PathList, LongListRoundTripsByteForByte) {
    // Far beyond NSIS's 1024- and 8192-character strings, and with what a user's list holds:
    // variables, spaces, non-ASCII names, empty entries, a trailing separator.
    std::wstring list;
    for (int i = 0; i < 600; ++i)
        list += L"C:\\Program Files\\Tool " + std::to_wstring(i) + L"\\bin;%LOCALAPPDATA%\\r\u00e9glages\\" +
                std::to_wstring(i) + L";;";
    const std::optional<std::wstring> added = WithFolder(list, kFolder);
    ASSERT_TRUE(added);
    EXPECT_GT(added->size(), 32000u);
    EXPECT_FALSE(WithFolder(*added, kFolder));
    EXPECT_EQ(WithoutFolder(*added, kFolder), list);
}

TEST(PathList, ComparesThroughTheKeyGiven) {
    // The program on Windows expands variables before comparing.
    const PathKey expanding = [](std::wstring_view entry) {
        std::wstring text(entry);
        if (text.rfind(L"%LOCALAPPDATA%", 0) == 0) text.replace(0, 14, L"C:\\Users\\Ann\\AppData\\Local");
        return FolderKey(text);
    };
    const std::wstring mine = L"%LOCALAPPDATA%\\Programs\\dpx20remote";
    EXPECT_FALSE(WithFolder(L"C:\\tools;" + mine, kFolder, expanding));
    EXPECT_EQ(WithoutFolder(L"C:\\tools;" + mine, kFolder, expanding), L"C:\\tools");
    EXPECT_TRUE(WithFolder(L"C:\\tools;" + mine, kFolder));
}

}  // namespace
}  // namespace dpx
