#include "cli/Service.h"

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli/Ctl.h"

namespace dpx::cli {
namespace {

// The account the service runs as. LocalService: the least a service can have; it reaches the
// network without credentials, which serve never needs (serial ports, TCP to a port server, its
// own listening ports), and it can write only where it is let: its folder.
constexpr wchar_t kAccount[] = L"NT AUTHORITY\\LocalService";
constexpr char kAccountName[] = "LocalService";
// The service's folder: SYSTEM and administrators have all rights, LocalService may read, write
// and delete (not change the rights), other users nothing: the options file, the boxes'
// folders and the log are the service's own.
constexpr wchar_t kFolderRights[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;LS)";
// How long a stop may take: serve logs every box off, each waiting for its box's reply.
constexpr DWORD kStopWaitMs = 30000;
// How long install waits for the service to be running, and remove for it to have stopped.
constexpr int kStateWaitMs = 40000;

std::wstring Wide(const std::string& text) {
    // The arguments came in the system's code page, as the C runtime gave them; the service's
    // command line goes back to it through the same conversion.
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string SystemText(DWORD error) {
    char* buffer = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = n ? std::string(buffer, n) : "error " + std::to_string(error);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text + " (" + std::to_string(error) + ")";
}

int Fail(const std::string& text) {
    std::fprintf(stderr, "dpx20ctl: %s\n", text.c_str());
    return kExitPort;
}

// %ProgramData%\dpx20remote\NAME.
std::filesystem::path ServiceFolder(const std::string& name) {
    PWSTR data = nullptr;
    std::filesystem::path folder = L"C:\\ProgramData";
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &data))) folder = data;
    CoTaskMemFree(data);
    return folder / L"dpx20remote" / Wide(name);
}

std::filesystem::path LogFile(const std::filesystem::path& folder) { return folder / L"dpx20ctl.log"; }

struct Handle {
    SC_HANDLE h = nullptr;
    ~Handle() {
        if (h) CloseServiceHandle(h);
    }
};

// Waits until the service is in `state` or has stopped; its last status.
SERVICE_STATUS WaitFor(SC_HANDLE service, DWORD state) {
    SERVICE_STATUS status{};
    for (int waited = 0; waited < kStateWaitMs; waited += 100) {
        if (!QueryServiceStatus(service, &status) || status.dwCurrentState == state ||
            status.dwCurrentState == SERVICE_STOPPED)
            break;
        Sleep(100);
    }
    return status;
}

std::string ExitText(const SERVICE_STATUS& status) {
    if (status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR)
        return "dpx20ctl serve ended with exit code " + std::to_string(status.dwServiceSpecificExitCode);
    return SystemText(status.dwWin32ExitCode);
}

// Whether `file` is under the user's profile folder (a per-user install).
bool InUserProfile(const std::wstring& file) {
    PWSTR profile = nullptr;
    bool inside = false;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Profile, 0, nullptr, &profile))) {
        const std::wstring folder = std::wstring(profile) + L"\\";
        inside = file.size() > folder.size() && CompareStringOrdinal(file.c_str(), static_cast<int>(folder.size()),
                                                                     folder.c_str(), static_cast<int>(folder.size()),
                                                                     TRUE) == CSTR_EQUAL;
    }
    CoTaskMemFree(profile);
    return inside;
}

int Install(const ServiceRequest& r) {
    const std::string service = kServiceNamePrefix + r.name;
    const std::filesystem::path folder = ServiceFolder(r.name);
    std::error_code ec;
    std::filesystem::create_directories(folder.parent_path(), ec);
    PSECURITY_DESCRIPTOR rights = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kFolderRights, SDDL_REVISION_1, &rights, nullptr))
        return Fail("service install: " + SystemText(GetLastError()));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, rights, FALSE};
    const bool made = CreateDirectoryW(folder.c_str(), &attributes) || GetLastError() == ERROR_ALREADY_EXISTS;
    const DWORD made_error = GetLastError();
    LocalFree(rights);
    if (!made) return Fail("service install: cannot make the folder " + folder.string() + ": " + SystemText(made_error));

    wchar_t exe[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH * 4);
    if (InUserProfile(std::wstring(exe, length)))
        std::fprintf(stderr, "dpx20ctl: warning: service install: this dpx20ctl.exe is in a user's own folder, which "
                     "LocalService may not read; for a service, install DPX20 Remote for all users (Program Files)\n");
    std::vector<std::string> line = {"service", "run", r.name, "--"};
    line.insert(line.end(), r.serve_args.begin(), r.serve_args.end());
    const std::wstring command = L"\"" + std::wstring(exe, length) + L"\" " + Wide(WindowsCommandLine(line));

    Handle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE)};
    if (!manager.h)
        return Fail("service install: cannot open the Service Control Manager: " + SystemText(GetLastError()) +
                    "; run it from an administrator's console");
    const std::wstring display = L"DPX20 Remote service " + Wide(r.name);
    Handle handle{CreateServiceW(manager.h, Wide(service).c_str(), display.c_str(), SERVICE_ALL_ACCESS,
                                 SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                 nullptr, nullptr, nullptr, kAccount, L"")};
    if (!handle.h) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_EXISTS)
            return Fail("service install: " + service + " is installed already; \"dpx20ctl service remove " + r.name +
                        "\" removes it");
        return Fail("service install: cannot install " + service + ": " + SystemText(error));
    }
    std::wstring about = L"dpx20ctl serve: the control API of DPX20 boxes; its folder and log: " + folder.wstring();
    SERVICE_DESCRIPTIONW description{about.data()};
    ChangeServiceConfig2W(handle.h, SERVICE_CONFIG_DESCRIPTION, &description);
    // Started again 5 s after a crash; a service that ends on its own (a usage error, the port
    // taken) has said why in its log and waits to be mended.
    SC_ACTION restart{SC_ACTION_RESTART, 5000};
    SERVICE_FAILURE_ACTIONSW failure{86400, nullptr, nullptr, 1, &restart};
    ChangeServiceConfig2W(handle.h, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);

    std::printf("dpx20ctl: installed the service %s (automatic start, account %s)\n", service.c_str(), kAccountName);
    std::printf("dpx20ctl: its folder: %s; its log: %s\n", folder.string().c_str(), LogFile(folder).string().c_str());
    std::fflush(stdout);
    if (!StartServiceW(handle.h, 0, nullptr))
        return Fail("service install: installed, but it does not start: " + SystemText(GetLastError()));
    const SERVICE_STATUS status = WaitFor(handle.h, SERVICE_RUNNING);
    if (status.dwCurrentState != SERVICE_RUNNING)
        return Fail("service install: installed, but it did not keep running: " + ExitText(status) + "; see " +
                    LogFile(folder).string());
    std::printf("dpx20ctl: %s is running\n", service.c_str());
    return kExitOk;
}

int Remove(const ServiceRequest& r) {
    const std::string service = kServiceNamePrefix + r.name;
    Handle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
    if (!manager.h)
        return Fail("service remove: cannot open the Service Control Manager: " + SystemText(GetLastError()) +
                    "; run it from an administrator's console");
    Handle handle{OpenServiceW(manager.h, Wide(service).c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE)};
    if (!handle.h) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            std::fprintf(stderr, "dpx20ctl: service remove: there is no service %s\n", service.c_str());
            return kExitUsage;
        }
        return Fail("service remove: cannot open " + service + ": " + SystemText(error));
    }
    SERVICE_STATUS status{};
    if (ControlService(handle.h, SERVICE_CONTROL_STOP, &status)) {
        std::printf("dpx20ctl: stopping %s (its boxes are logged off)\n", service.c_str());
        std::fflush(stdout);
        status = WaitFor(handle.h, SERVICE_STOPPED);
        if (status.dwCurrentState != SERVICE_STOPPED)
            return Fail("service remove: " + service + " did not stop within " + std::to_string(kStateWaitMs / 1000) + " s");
    } else if (const DWORD error = GetLastError(); error != ERROR_SERVICE_NOT_ACTIVE) {
        return Fail("service remove: cannot stop " + service + ": " + SystemText(error));
    }
    if (!DeleteService(handle.h)) return Fail("service remove: cannot remove " + service + ": " + SystemText(GetLastError()));
    std::printf("dpx20ctl: removed the service %s; its folder %s is kept\n", service.c_str(),
                ServiceFolder(r.name).string().c_str());
    return kExitOk;
}

// ---------------------------------------------------------------- the service itself

std::wstring running_name;
SERVICE_STATUS_HANDLE status_handle = nullptr;
HANDLE started = nullptr;   // set once the dispatcher called ServiceMain, or failed
HANDLE finished = nullptr;  // set once serve has ended and the service told it has stopped
HANDLE stop = nullptr;      // set to stop serve; serve's process inherits it
HANDLE log_file = INVALID_HANDLE_VALUE;
std::atomic<DWORD> dispatcher_error{0};
std::atomic<DWORD> check_point{0};

void Report(DWORD state, int exit_code = 0, DWORD wait_hint = 0) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exit_code ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
    status.dwServiceSpecificExitCode = static_cast<DWORD>(exit_code);
    status.dwWaitHint = wait_hint;
    status.dwCheckPoint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : ++check_point;
    SetServiceStatus(status_handle, &status);
}

// A line of the service's own in its log, with the time.
void Log(const std::string& text) {
    const std::time_t now = std::time(nullptr);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
    const std::string line = std::string(stamp) + " dpx20ctl: " + text + "\r\n";
    DWORD written = 0;
    WriteFile(log_file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// On the dispatcher's thread: a stop or the system's shutdown is SIGTERM for serve, which then
// logs its boxes off and ends; the main thread tells the manager when it has.
DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        Report(SERVICE_STOP_PENDING, 0, kStopWaitMs);
        Log(control == SERVICE_CONTROL_STOP ? "stop asked for: logging off" : "the system shuts down: logging off");
        SetEvent(stop);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    status_handle = RegisterServiceCtrlHandlerExW(running_name.c_str(), Control, nullptr);
    if (!status_handle) dispatcher_error = GetLastError();
    SetEvent(started);
    if (status_handle) WaitForSingleObject(finished, INFINITE);
}

// dpx20ctl's own exit codes (cli/Ctl.h) and those of an interruption; anything else is a crash.
bool OwnExitCode(DWORD code) { return code <= kExitFile || code == 128 + SIGINT || code == 128 + SIGTERM; }

// The service: the manager's dispatcher on a thread of its own, and serve in a process of its
// own, started with the service's folder as its working folder, its output going to the log,
// and an event it inherits that stops it as SIGTERM does (cli/Interrupt_win.cpp). A process
// started without a console has standard streams that the C runtime cannot be given later:
// the child has them from its start.
int Run(const ServiceRequest& r) {
    running_name = Wide(kServiceNamePrefix + r.name);
    started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread dispatcher([] {
        SERVICE_TABLE_ENTRYW table[] = {{running_name.data(), ServiceMain}, {nullptr, nullptr}};
        if (!StartServiceCtrlDispatcherW(table)) {
            dispatcher_error = GetLastError();
            SetEvent(started);
        }
    });
    WaitForSingleObject(started, INFINITE);
    if (dispatcher_error) {
        dispatcher.join();
        std::fprintf(stderr, "dpx20ctl: service run is how the Service Control Manager starts the service (%s); "
                     "\"dpx20ctl service install NAME -- OPTIONS\" installs it, \"dpx20ctl OPTIONS serve\" serves here\n",
                     SystemText(dispatcher_error).c_str());
        return kExitUsage;
    }
    Report(SERVICE_START_PENDING, 0, kStopWaitMs);
    const std::filesystem::path folder = ServiceFolder(r.name);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    log_file = CreateFileW(LogFile(folder).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           &inherited, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    stop = CreateEventW(&inherited, TRUE, FALSE, nullptr);
    const auto end = [&](int code, const std::string& why) {
        Log(why);
        Report(SERVICE_STOPPED, code);
        SetEvent(finished);
        dispatcher.join();
        return code;
    };
    // Without its log it would say nothing: the manager shows its exit code, 4 (a file).
    if (log_file == INVALID_HANDLE_VALUE) return end(kExitFile, "");

    wchar_t exe[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH * 4);
    std::vector<std::string> args = r.serve_args;
    args.push_back("serve");
    std::wstring command = L"\"" + std::wstring(exe, length) + L"\" " + Wide(WindowsCommandLine(args));
    SetEnvironmentVariableW(L"DPX20_STOP_EVENT", std::to_wstring(reinterpret_cast<uintptr_t>(stop)).c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = startup.hStdError = log_file;
    PROCESS_INFORMATION process{};
    std::string options;
    for (const std::string& a : r.serve_args) options += " " + a;
    Log(std::string("service ") + kServiceNamePrefix + r.name + " starts: dpx20ctl" + options + " serve");
    if (!CreateProcessW(exe, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, folder.c_str(), &startup,
                        &process))
        return end(kExitPort, "cannot start dpx20ctl serve: " + SystemText(GetLastError()));
    CloseHandle(process.hThread);
    Report(SERVICE_RUNNING);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    // A crash ends the service without telling it stopped: the manager starts it again.
    if (!OwnExitCode(code)) {
        Log("dpx20ctl serve crashed (" + SystemText(code) + ")");
        return 1;
    }
    return end(static_cast<int>(code), "service ended: dpx20ctl serve's exit code " + std::to_string(code));
}

}  // namespace

int ServiceAction(const ServiceRequest& request) {
    if (request.action == "install") return Install(request);
    if (request.action == "remove") return Remove(request);
    return Run(request);
}

}  // namespace dpx::cli
