// Starts the panel from the Start menu. The panel reads and writes its options and memory
// files in its current directory; a shortcut would start it in the program's folder, which a
// user may not write to, so it runs in a per-user data folder instead,
// %LOCALAPPDATA%\dpx20remote, made on first start.
#include <windows.h>
#include <shlobj.h>

#include <string>

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

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t* base = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &base)))
        return Fail(L"Cannot find the local application data folder.");
    const std::wstring folder = std::wstring(base) + L"\\dpx20remote";
    CoTaskMemFree(base);
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return Fail(L"Cannot make the folder " + folder);

    // The panel is the program beside this one.
    std::wstring program(MAX_PATH, L'\0');
    DWORD length = 0;
    while ((length = GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()))) ==
           program.size())
        program.resize(program.size() * 2);
    program.resize(length);
    program = program.substr(0, program.find_last_of(L'\\') + 1) + L"dpx20remote.exe";

    std::wstring command = L"\"" + program + L"\"";
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
