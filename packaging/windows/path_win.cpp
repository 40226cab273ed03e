// The setup program's edit of the user's PATH (HKCU\Environment\Path), run by the setup and
// the uninstaller from their temporary folder:
//   dpx20remote-path add FOLDER      appends FOLDER unless an entry already is that folder
//   dpx20remote-path remove FOLDER   takes out the entries that are FOLDER
// NSIS's own string functions cut a value at their length limit (1024 or 8192 characters), so
// the list is read and written here, whole, through the registry API. The value keeps its type
// (REG_EXPAND_SZ stays so, with its %variables% unexpanded) and every other entry byte for byte;
// a new value is REG_EXPAND_SZ, as Windows makes it. Programs started afterwards see the change:
// it is broadcast as WM_SETTINGCHANGE "Environment". Prints what it did; exit status 0 when the
// list is as asked, 1 for a wrong command line, 2 when the registry refused.
#include "winpath/PathList.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr wchar_t kKey[] = L"Environment";
constexpr wchar_t kValue[] = L"Path";

int Fail(const char* what, LSTATUS status) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, static_cast<DWORD>(status), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::fprintf(stderr, "dpx20remote-path: %s HKCU\\Environment\\Path: %ls\n", what, text ? text : L"");
    if (text) LocalFree(text);
    return 2;
}

// An entry as Windows opens it: variables expanded, case folded as the file system folds it.
std::wstring WindowsKey(std::wstring_view entry) {
    std::wstring text(entry);
    if (text.find(L'%') != std::wstring::npos) {
        const DWORD n = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
        std::wstring expanded(n, L'\0');
        if (n > 0 && ExpandEnvironmentStringsW(text.c_str(), expanded.data(), n) == n) {
            expanded.resize(n - 1);
            text = std::move(expanded);
        }
    }
    if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return dpx::FolderKey(text);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc == 3 ? argv[1] : L"";
    if (command != L"add" && command != L"remove") {
        std::fprintf(stderr, "usage: dpx20remote-path add|remove FOLDER\n");
        return 1;
    }
    const std::wstring folder = argv[2];

    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                     nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return Fail("cannot open", status);

    // The whole value, however long; it may grow between the two calls.
    std::wstring list;
    DWORD type = REG_EXPAND_SZ;
    for (;;) {
        DWORD bytes = 0;
        status = RegGetValueW(key, nullptr, kValue, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type,
                              nullptr, &bytes);
        if (status == ERROR_FILE_NOT_FOUND) {
            type = REG_EXPAND_SZ;
            list.clear();
            break;
        }
        if (status != ERROR_SUCCESS) break;
        list.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(list.size() * sizeof(wchar_t));
        status = RegGetValueW(key, nullptr, kValue, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type,
                              list.data(), &bytes);
        if (status == ERROR_MORE_DATA) continue;
        if (status == ERROR_SUCCESS) list.resize(wcsnlen(list.c_str(), bytes / sizeof(wchar_t)));
        break;
    }
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        RegCloseKey(key);
        return Fail("cannot read", status);
    }

    const bool add = command == L"add";
    const std::optional<std::wstring> changed =
        add ? dpx::WithFolder(list, folder, WindowsKey) : dpx::WithoutFolder(list, folder, WindowsKey);
    if (!changed) {
        RegCloseKey(key);
        std::printf("%s\n", add ? "PATH already has the folder" : "PATH does not have the folder");
        return 0;
    }
    // An emptied list goes as a whole: an empty user PATH adds nothing to the system's.
    if (changed->empty()) {
        status = RegDeleteValueW(key, kValue);
    } else {
        status = RegSetValueExW(key, kValue, 0, type, reinterpret_cast<const BYTE*>(changed->c_str()),
                                static_cast<DWORD>((changed->size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return Fail("cannot write", status);

    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
    std::printf("%s PATH: %zu characters now\n", add ? "folder added to" : "folder removed from", changed->size());
    return 0;
}
