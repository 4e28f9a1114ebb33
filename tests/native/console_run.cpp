// The native programs' runner: posix_spawn with pipes, every wait bounded;
// the program gets the virtual coupler's 64-bit preload library, which answers
// the modem-line requests on its pseudo-terminals.
#include "tests/support/console_run.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/wait.h>

#include <utility>
#include <vector>

#include "tools/virtual-coupler/coupler_state.h"

extern char** environ;

const bool WINDOWS_PROGRAMS = false;
const char* const USAGE_PORT = "GERÄT";

// Set by a suite to a terminal the next programs get as standard input
// instead of a pipe (-1: a pipe); the suite owns it. The child running now,
// for a suite that signals it (0: none); owned by RunConsole.
int consoleTerminal = -1;
pid_t consoleChild = 0;

// The device the virtual coupler serves as COMn: its pseudo-terminal, or a
// path that does not exist while the port is absent; "" when there is none.
std::string PortName(int com)
{
    CouplerPort port = {};
    const char* state = getenv("COUPLER_STATE");
    int file = state && com >= 1 && com <= COUPLER_MAX_PORTS ? open(state, O_RDONLY | O_CLOEXEC) : -1;
    bool read = file >= 0 && pread(file, &port, offsetof(CouplerPort, history),
                                   offsetof(CouplerState, ports) + (com - 1) * sizeof port) > 0;
    close(file);
    if (!read || !port.exists)
        return "";
    return port.present ? std::string(port.pts) : "/dev/coupler-absent/COM" + std::to_string(com);
}

namespace {

// The words of a command line, "..." holding blanks.
std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    bool quoted = false, within = false;
    for (char c : line) {
        if (c == ' ' && !quoted) {
            within = false;
            continue;
        }
        if (!within)
            words.emplace_back(), within = true;
        if (c == '"')
            quoted = !quoted;
        else
            words.back() += c;
    }
    return words;
}

}  // namespace

std::string TempPath(const char* prefix)
{
    std::string path = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/" + prefix + "XXXXXX";
    close(mkstemp(&path[0]));
    unlink(path.c_str());
    return path;
}

std::string JsonSays(const std::string& json, const std::string& expression)
{
    std::string path = TempPath("json");
    FILE* file = fopen(path.c_str(), "wb");
    bool saved = file && fwrite(json.data(), 1, json.size(), file) == json.size();
    if (file)
        fclose(file);
    std::string command = "python3 -c 'import json,sys; d = json.load(open(sys.argv[1])); print(" + expression +
                          ")' " + path + " 2>&1", said;
    FILE* pipe = saved ? popen(command.c_str(), "r") : nullptr;
    char buffer[4096];
    for (size_t count; pipe && (count = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        said.append(buffer, count);
    if (pipe)
        pclose(pipe);
    unlink(path.c_str());
    return said;
}

ConsoleRun RunConsole(const char* program, const std::string& arguments, const std::string& input,
                      std::function<void(const std::string&, HANDLE)> watch, bool errorsApart)
{
    ConsoleRun result;
    std::vector<std::string> words = Words(arguments);
    std::vector<std::pair<std::string, std::string>> names;  // device, COMn
    for (std::string& word : words) {
        size_t digits = strspn(word.c_str() + 3, "0123456789");
        bool port = !strncasecmp(word.c_str(), "com", 3) && digits && word[3] != '0' &&
                    (word.size() == 3 + digits || word.substr(3 + digits) == ":");
        std::string device = port ? PortName(atoi(word.c_str() + 3)) : "";
        if (!device.empty())
            names.emplace_back(device, "COM" + std::to_string(atoi(word.c_str() + 3))), word = device;
    }
    std::vector<char*> argv = {const_cast<char*>(program)};
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    std::string state = getenv("COUPLER_STATE") ? getenv("COUPLER_STATE") : "";
    std::string preload = "LD_PRELOAD=" + state.substr(0, state.rfind('/')) + "/lib/x86_64-linux-gnu/libvcoupler.so";
    std::vector<char*> env = {&preload[0]};
    for (char** variable = environ; *variable; variable++)
        if (strncmp(*variable, "LD_PRELOAD=", 11))
            env.push_back(*variable);
    env.push_back(nullptr);

    // The virtual adapter reports what the coupler did up to 64 ms before
    // (its status delay); a native program starts within a millisecond, and
    // would read the state from before the suite set it up. Under Wine the
    // start takes longer than that.
    Sleep(70);
    signal(SIGPIPE, SIG_IGN);
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    bool piped = pipe2(in, O_CLOEXEC) == 0 && pipe2(out, O_CLOEXEC) == 0 && (!errorsApart || pipe2(err, O_CLOEXEC) == 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, consoleTerminal >= 0 ? consoleTerminal : in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errorsApart ? err[1] : out[1], 2);
    pid_t child = 0;
    bool started = piped && posix_spawn(&child, program, &actions, nullptr, argv.data(), env.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {in[0], out[1], err[1]})
        close(fd);
    if (started) {
        consoleChild = child;
        if (!input.empty() && write(in[1], input.data(), input.size()) < 0)
            result.errors += "input not written\n";
        // Until the program has ended and its pipes are drained (their ends are
        // closed then), or for 60 s.
        int status = 0;
        bool ended = false, open[2] = {true, errorsApart};
        for (DWORD start = GetTickCount(); (!ended || open[0] || open[1]) && GetTickCount() - start < 60000;) {
            pollfd pipes[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
            poll(pipes, errorsApart ? 2 : 1, 5);
            ended = ended || waitpid(child, &status, WNOHANG) == child;
            for (int i = 0; i < 2; i++)
                if (pipes[i].revents & (POLLIN | POLLHUP)) {
                    char buffer[4096];
                    ssize_t count = read(pipes[i].fd, buffer, sizeof buffer);
                    open[i] = count > 0;
                    (i ? result.errors : result.output).append(buffer, count > 0 ? static_cast<size_t>(count) : 0);
                }
            if (watch && !ended)
                watch(result.output, in[1]);
        }
        if (!ended) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        consoleChild = 0;
        result.code = !ended ? 98 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    for (int fd : {in[1], out[0], err[0]})
        close(fd);
    for (const auto& name : names)
        for (std::string* text : {&result.output, &result.errors})
            for (size_t at = 0; (at = text->find(name.first, at)) != std::string::npos; at += name.second.size())
                text->replace(at, name.first.size(), name.second);
    return result;
}
