// Starts the panel from the Start menu. The panel reads and writes its options and memory
// files in its current directory; a shortcut would start it in the program's folder, which a
// user may not write to, so it runs in a per-user data folder instead,
// %LOCALAPPDATA%\dpx20remote, made on first start.
//   dpx20remote-launch [--profile NAME] [ARGUMENT...]
// --profile NAME runs it in the folder NAME beneath that one: one folder, and so one set of
// settings, per box. Every other argument goes to the panel as it is.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace {

int Fail(const std::wstring& what) {
    const DWORD error = GetLastError();
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const std::wstring message = what + L"\n\n" + (text ? text : L"");
    if (text) LocalFree(text);
    MessageBoxW(nullptr, message.c_str(), L"dpx20remote", MB_OK | MB_ICONWARNING);
    return 1;
}

// One argument as the panel's command line parser reads it back: quoted when it holds a
// blank or a quote, backslashes doubled only where they precede a quote.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

// A profile is one folder name beneath the data folder, nothing that leads out of it.
bool IsFolderName(const std::wstring& name) {
    return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"\\/:") == std::wstring::npos;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return Fail(L"Cannot read the command line.");
    std::vector<std::wstring> passed;
    std::wstring profile;
    bool profile_given = false;
    for (int i = 1; i < count; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--profile" || arg.rfind(L"--profile=", 0) == 0) {
            if (arg == L"--profile" && ++i == count) {
                LocalFree(argv);
                return Fail(L"--profile needs a name.");
            }
            profile = arg == L"--profile" ? argv[i] : arg.substr(10);
            profile_given = true;
        } else {
            passed.push_back(arg);
        }
    }
    LocalFree(argv);
    if (profile_given && !IsFolderName(profile)) {
        SetLastError(ERROR_INVALID_NAME);
        return Fail(L"A profile name is one folder name, not \"" + profile + L"\".");
    }

    wchar_t* base = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &base)))
        return Fail(L"Cannot find the local application data folder.");
    std::wstring folder = std::wstring(base) + L"\\dpx20remote";
    CoTaskMemFree(base);
    const auto made = [](const std::wstring& path) {
        return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
    };
    if (!made(folder)) return Fail(L"Cannot make the folder " + folder);
    if (profile_given) {
        folder += L"\\" + profile;
        if (!made(folder)) return Fail(L"Cannot make the folder " + folder);
    }

    // The panel is the program beside this one.
    std::wstring program(MAX_PATH, L'\0');
    DWORD length = 0;
    while ((length = GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()))) ==
           program.size())
        program.resize(program.size() * 2);
    program.resize(length);
    program = program.substr(0, program.find_last_of(L'\\') + 1) + L"dpx20remote.exe";

    std::wstring command = Quoted(program);
    for (const std::wstring& arg : passed) command += L" " + Quoted(arg);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &process))
        return Fail(L"Cannot start " + program);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
