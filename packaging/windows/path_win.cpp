// The setup program's helper, run by the setup and the uninstaller from their temporary folder.
// It edits the user's PATH (HKCU\Environment\Path), or with --machine the system's
// (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment\Path), and finds the
// programs running from the install folder:
//   dpx20remote-path add [--machine] FOLDER      appends FOLDER unless an entry already is that folder
//   dpx20remote-path remove [--machine] FOLDER   takes out the entries that are FOLDER
//   dpx20remote-path running FOLDER              names each running program whose file is in FOLDER
// NSIS's own string functions cut a value at their length limit (1024 or 8192 characters), so
// the list is read and written here, whole, through the registry API. The value keeps its type
// (REG_EXPAND_SZ stays so, with its %variables% unexpanded) and every other entry byte for byte;
// a new value is REG_EXPAND_SZ, as Windows makes it. Programs started afterwards see the change:
// it is broadcast as WM_SETTINGCHANGE "Environment". Prints what it did; exit status 0 when the
// list is as asked, 1 for a wrong command line, 2 when the registry refused. `running` exits
// with 0 when no program runs from FOLDER, 3 when one does (Windows will not let a running
// program's files be replaced or deleted; Wine does, which would leave a broken install).
#include "winpath/PathList.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

namespace {

constexpr wchar_t kUserKey[] = L"Environment";
constexpr wchar_t kMachineKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr wchar_t kValue[] = L"Path";

int Fail(const char* what, bool machine, LSTATUS status) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, static_cast<DWORD>(status), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::fprintf(stderr, "dpx20remote-path: %s %s\\%ls\\Path: %ls\n", what, machine ? "HKLM" : "HKCU",
                 machine ? kMachineKey : kUserKey, text ? text : L"");
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

// A file or folder by its long, full name, for comparing two names of one folder (C:\PROGRA~1
// and C:\Program Files).
std::wstring FullName(const std::wstring& name) {
    std::wstring full(MAX_PATH, L'\0');
    DWORD n = GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n >= full.size()) {
        full.resize(n);
        n = GetFullPathNameW(name.c_str(), n, full.data(), nullptr);
    }
    full.resize(n < full.size() ? n : 0);
    if (full.empty()) full = name;
    std::wstring long_name(MAX_PATH, L'\0');
    n = GetLongPathNameW(full.c_str(), long_name.data(), static_cast<DWORD>(long_name.size()));
    if (n >= long_name.size()) {
        long_name.resize(n);
        n = GetLongPathNameW(full.c_str(), long_name.data(), n);
    }
    if (n == 0 || n >= long_name.size()) return WindowsKey(full);
    long_name.resize(n);
    return WindowsKey(long_name);
}

// Names the running programs whose file lies in `folder` (in it or beneath it); 3 when there
// is one. The programs that asked (the uninstaller, which runs in place when the setup removes
// an earlier install, and the setup) do not count. A process this user may not ask about (another user's,
// a service's for a setup that is not elevated) is passed over.
int Running(const std::wstring& folder) {
    const std::wstring key = FullName(folder) + L"\\";
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "dpx20remote-path: cannot list the running programs\n");
        return 2;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    std::map<DWORD, DWORD> parents;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        parents[entry.th32ProcessID] = entry.th32ParentProcessID;
    // This program and the ones that started it (a console host may stand between).
    std::set<DWORD> asking;
    for (DWORD pid = GetCurrentProcessId(); pid != 0 && asking.insert(pid).second;) {
        const auto parent = parents.find(pid);
        pid = parent == parents.end() ? 0 : parent->second;
    }
    int found = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (asking.count(entry.th32ProcessID)) continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (!process) continue;
        std::wstring image(32768, L'\0');
        DWORD size = static_cast<DWORD>(image.size());
        const bool named = QueryFullProcessImageNameW(process, 0, image.data(), &size);
        CloseHandle(process);
        if (!named) continue;
        image.resize(size);
        if (FullName(image).rfind(key, 0) != 0) continue;
        std::printf("running: %ls (process %lu)\n", image.c_str(), static_cast<unsigned long>(entry.th32ProcessID));
        ++found;
    }
    CloseHandle(snapshot);
    return found ? 3 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc >= 3 ? argv[1] : L"";
    const bool machine = argc == 4 && std::wstring(argv[2]) == L"--machine";
    if (command == L"running" && argc == 3) return Running(argv[2]);
    if ((command != L"add" && command != L"remove") || (argc == 4 && !machine) || argc > 4) {
        std::fprintf(stderr, "usage: dpx20remote-path add|remove [--machine] FOLDER\n"
                             "       dpx20remote-path running FOLDER\n");
        return 1;
    }
    const std::wstring folder = argv[argc - 1];

    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, machine ? kMachineKey : kUserKey,
                                     0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return Fail("cannot open", machine, status);

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
        return Fail("cannot read", machine, status);
    }

    const bool add = command == L"add";
    const std::optional<std::wstring> changed =
        add ? dpx::WithFolder(list, folder, WindowsKey) : dpx::WithoutFolder(list, folder, WindowsKey);
    if (!changed) {
        RegCloseKey(key);
        std::printf("%s\n", add ? "PATH already has the folder" : "PATH does not have the folder");
        return 0;
    }
    // An emptied user list goes as a whole: an empty user PATH adds nothing to the system's.
    // The system's list is never removed.
    if (changed->empty() && !machine) {
        status = RegDeleteValueW(key, kValue);
    } else {
        status = RegSetValueExW(key, kValue, 0, type, reinterpret_cast<const BYTE*>(changed->c_str()),
                                static_cast<DWORD>((changed->size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return Fail("cannot write", machine, status);

    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
    std::printf("%s PATH: %zu characters now\n", add ? "folder added to" : "folder removed from", changed->size());
    return 0;
}
