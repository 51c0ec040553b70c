// tcping.exe, the Windows build of our tcping, against loopback listeners: the same command
// lines, output lines and exit statuses as on Linux.

#include "tcping_bad_input.h"
#include "win_check.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

constexpr DWORD kRunLimitMs = 20000;

struct Run {
    DWORD exitCode = DWORD(-1);
    std::string out;
    std::string err;
};

std::wstring besideThisProgram(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + name;
}

// The table's arguments hold no quotes: quoting the empty and the spaced ones is enough.
std::wstring commandLine(const std::wstring& program, const std::vector<std::string>& arguments) {
    std::wstring line = L"\"" + program + L"\"";
    for (const std::string& a : arguments) {
        const std::wstring argument(a.begin(), a.end());
        line += a.empty() || a.find(' ') != std::string::npos ? L" \"" + argument + L"\""
                                                              : L" " + argument;
    }
    return line;
}

std::string readAll(HANDLE pipe) {
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    return text;
}

Run tcping(const std::vector<std::string>& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    CreatePipe(&outRead, &outWrite, &inherit, 1 << 16);
    CreatePipe(&errRead, &errWrite, &inherit, 1 << 16);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdOutput = outWrite;
    start.hStdError = errWrite;
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine(besideThisProgram(L"tcping.exe"), arguments);
    const bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &start, &process);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    Run run;
    if (CHECK(started)) {
        // Its output is a few lines: the pipes hold it all until it ends.
        if (CHECK_EQUAL(WaitForSingleObject(process.hProcess, kRunLimitMs), WAIT_OBJECT_0))
            GetExitCodeProcess(process.hProcess, &run.exitCode);
        else
            TerminateProcess(process.hProcess, 99);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        run.out = readAll(outRead);
        run.err = readAll(errRead);
    }
    CloseHandle(outRead);
    CloseHandle(errRead);
    return run;
}

std::size_t count(const std::string& text, const std::string& word) {
    std::size_t n = 0;
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

bool contains(const std::string& text, const std::string& word) {
    return text.find(word) != std::string::npos;
}

// A loopback listener on a port the system chose; closed when it goes.
class Listener {
public:
    Listener() {
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (bind(socket_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            listen(socket_, 8) == 0 &&
            getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~Listener() { closesocket(socket_); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    std::string port() const { return std::to_string(port_); }
    bool listening() const { return port_ != 0; }

private:
    SOCKET socket_ = INVALID_SOCKET;
    unsigned short port_ = 0;
};

void openPortAnswers() {
    struct Row {
        const char* name;
        std::vector<std::string> prefix;
        std::size_t attempts;
    };
    const std::vector<Row> rows = {{"plain", {"-n", "2"}, 2},
                                   {"with the extra word", {"tcping", "-n", "1"}, 1}};
    for (const Row& r : rows) {
        WinCheck::row = r.name;
        Listener listener;
        CHECK(listener.listening());
        std::vector<std::string> arguments = r.prefix;
        arguments.insert(arguments.end(), {"127.0.0.1", listener.port()});
        const Run run = tcping(arguments);
        CHECK_EQUAL(run.exitCode, DWORD(0));
        CHECK_EQUAL(count(run.out, "Port is open"), r.attempts);
        CHECK(contains(run.out, "time="));
        CHECK(contains(run.out, std::to_string(r.attempts) + " probes sent."));
    }
}

void closedPortIsRefused() {
    std::string port;
    {
        Listener released;
        port = released.port();
    }
    const Run run = tcping({"-n", "1", "127.0.0.1", port});
    CHECK_EQUAL(run.exitCode, DWORD(1));
    CHECK(!contains(run.out, "Port is open"));
    CHECK(contains(run.out, "No response - refused"));
    CHECK(contains(run.out, "0 successful, 1 failed."));
}

void badInput() {
    for (const TcpingBadInput& bad : kTcpingBadInputs) {
        WinCheck::row = bad.name;
        const Run run = tcping(bad.arguments);
        CHECK_EQUAL(run.exitCode, DWORD(2));
        CHECK(run.out.empty());
        CHECK(run.err.rfind("tcping: ", 0) == 0 && contains(run.err, bad.message));
    }
}

} // namespace

int main() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 1;
    const int result = WinCheck::run({{"open port answers", openPortAnswers},
                                      {"closed port is refused", closedPortIsRefused},
                                      {"bad input", badInput}});
    WSACleanup();
    return result;
}
