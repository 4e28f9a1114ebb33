// Shared pieces of the benchmarks that drive whole programs: starting one,
// waiting for its first idle moment, timing on the performance counter, and
// order statistics.
#pragma once

#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/layout.h"
#include "tools/support/tester_process.h"

namespace bench {

inline double Seconds(LONGLONG ticks)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

inline LONGLONG Now()
{
    LARGE_INTEGER ticks;
    QueryPerformanceCounter(&ticks);
    return ticks.QuadPart;
}

// The value below which the fraction p of the samples lie (nearest rank).
inline double Percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    size_t rank = static_cast<size_t>(p * static_cast<double>(samples.size()) + 0.999999);
    rank = std::min(std::max<size_t>(rank, 1), samples.size());
    return samples[rank - 1];
}

// Runs a console program (a Linux path) with the arguments and its standard
// handles on NUL, and waits for its end; the time from start to end in ms,
// and its exit code in *code (99 when it did not start or end in 2 minutes).
inline double RunQuiet(const std::string& unixPath, const std::string& arguments, DWORD* code)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, OPEN_EXISTING, 0, nullptr);
    std::string exe = WindowsPath(unixPath), line = "\"" + exe + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION process = {};
    LONGLONG start = Now();
    *code = 99;
    if (CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, code);
        else
            TerminateProcess(process.hProcess, 99);  // it would hold the port for the next run
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(nul);
    return Seconds(Now() - start) * 1000;
}

// A program of this machine (a Linux path) started under Wine; ended by
// the destructor if still running.
class Program {
public:
    explicit Program(const std::string& unixPath) : path_(unixPath) {}
    ~Program() { Stop(); }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Start()
    {
        std::string exe = "Z:" + path_;
        std::replace(exe.begin(), exe.end(), '/', '\\');
        std::string line = "\"" + exe + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        return CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &info_) != 0;
    }

    // A visible top-level window of the program with this class (any class
    // when 0), or 0.
    HWND Window(const char* className) const
    {
        WindowSearch search = {info_.dwProcessId, className, 0};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    // Waits until the program first waits for input with a visible window
    // of the class; seconds since Start, or a negative value on time-out.
    double WaitIdleWindow(LONGLONG started, const char* className, DWORD timeoutMs = 20000)
    {
        if (WaitForInputIdle(info_.hProcess, timeoutMs) != 0)
            return -1;
        for (DWORD waited = 0; waited < timeoutMs; ++waited) {
            if (Window(className))
                return Seconds(Now() - started);
            Sleep(1);
        }
        return -1;
    }

    void Stop()
    {
        if (!info_.hProcess)
            return;
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(info_.hProcess, 0);
            WaitForSingleObject(info_.hProcess, 10000);
        }
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
        info_ = PROCESS_INFORMATION{};
    }

    HANDLE Process() const { return info_.hProcess; }

private:
    struct WindowSearch {
        DWORD pid;
        const char* className;
        HWND found;
    };
    static BOOL CALLBACK MatchWindow(HWND window, LPARAM param)
    {
        WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid != search->pid || !IsWindowVisible(window))
            return TRUE;
        char name[64] = "";
        GetClassNameA(window, name, sizeof name);
        if (search->className && lstrcmpA(name, search->className) != 0)
            return TRUE;
        search->found = window;
        return FALSE;
    }

    std::string path_;
    PROCESS_INFORMATION info_ = {};
};

// Starts the tester (com1 must be the first port it finds), waits until it
// takes messages and presses "öffnen". The window and the help editor (the
// target of WaitPostedMessagesTaken) come back; false, with a message naming
// the benchmark, when the tester did not come up.
inline bool StartTesterAndOpen(TesterProcess& tester, const char* bench, HWND* window, HWND* editor)
{
    *window = tester.Start() ? tester.WaitMainWindow() : 0;
    *editor = *window ? WaitTesterTakingMessages(*window) : 0;
    if (!*editor || WindowText(FindControl(*window, PORT_LIST)) != "com1") {
        fprintf(stderr, "%s: the tester did not come up\n", bench);
        return false;
    }
    PressButton(FindControl(*window, OPEN_BUTTON));
    return true;
}

}  // namespace bench
