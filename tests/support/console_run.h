// Running a console program (coupler-check, coupler-i2c) for the suites that
// prove it, in both builds: the Windows programs under Wine (driver.cpp), the
// native ones with posix_spawn (console_run_posix.cpp, where <windows.h> is
// a small stand-in shared with the coupler client, tools/support/posix/windows.h).
//
// Natively a port word COMn in the arguments becomes the virtual coupler's
// pseudo-terminal of COMn (a missing device path while the port is absent),
// and that path in the program's output becomes COMn again: the tables
// expect the same texts of both builds, the port's name aside.
#pragma once

#include <windows.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>

// Whether the programs under test are the Windows ones.
extern const bool WINDOWS_PROGRAMS;
// The port word of the usage ("COMn", natively "GERÄT").
extern const char* const USAGE_PORT;
// How the program names the coupler's port com in a record: "COM3", natively its device path.
std::string PortName(int com);

// Whether text holds part, and how often.
inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
inline size_t Count(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size())
        count++;
    return count;
}
// The whole content of a file ("" when it cannot be read).
inline std::string Slurp(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}
// What a Python expression over d, the JSON text read by Python's JSON
// reader, prints; natively only ("" for the Windows programs, whose suites
// run under Wine).
std::string JsonSays(const std::string& json, const std::string& expression);
// A new name for a file in the temporary folder, beginning with prefix; no
// such file exists yet.
std::string TempPath(const char* prefix);
// A console program's run: its exit code (99 when it did not start, 98 when
// it was ended after 60 s) and its standard output and error as the bytes came;
// with errorsApart, output holds standard output alone and errors the rest.
struct ConsoleRun {
    DWORD code = 99;
    std::string output;
    std::string errors;
};
// Runs the program (a Linux path) with the arguments (blank-separated, "..."
// quoting) and input waiting on its standard input; watch sees the output so
// far and may write more input.
ConsoleRun RunConsole(const char* program, const std::string& arguments, const std::string& input = "",
                      std::function<void(const std::string&, HANDLE)> watch = nullptr, bool errorsApart = false);
// A run made again (three times at most) while refused says a busy PC kept it from
// a result that proves anything; *runs: how many runs it took.
inline ConsoleRun RunAgainWhile(const std::function<ConsoleRun()>& run,
                                const std::function<bool(const ConsoleRun&)>& refused, int* runs = nullptr)
{
    ConsoleRun result;
    int tries = 0;
    do
        result = run(), tries++;
    while (tries < 3 && refused(result));
    if (runs)
        *runs = tries;
    return result;
}
