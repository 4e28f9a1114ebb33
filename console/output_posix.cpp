// The texts are UTF-8 already (the native build's execution character set):
// they go to a terminal, a pipe or a file as they are.
#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <ctype.h>

#include "console/output.h"
#include "console/output_platform.h"

namespace {

// The keys' state, for the process: set by KeysStart, the terminal's mode
// put back by KeysStop (also at exit), which owns savedMode.
bool keysStarted = false;
bool terminalChanged = false;  // savedMode is to be put back
bool inputEnded = false;       // standard input has reached its end
termios savedMode;

void Pause(uint32_t ms)
{
    timespec wait = {};
    wait.tv_sec = static_cast<time_t>(ms / 1000);
    wait.tv_nsec = static_cast<int32_t>(ms % 1000) * 1000000;
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

// One byte of standard input within ms: 1, 0 when none came (or a signal
// cut the wait short), -1 at the input's end.
int ReadByte(uint32_t ms, unsigned char* byte)
{
    pollfd input = {STDIN_FILENO, POLLIN, 0};
    int ready = poll(&input, 1, static_cast<int>(ms));
    if (ready <= 0)
        return 0;
    ssize_t count = read(STDIN_FILENO, byte, 1);
    return count == 1 ? 1 : count == 0 || errno != EINTR ? -1 : 0;
}

}  // namespace

bool OutputIsConsole(OutputStream stream) { return isatty(stream == STREAM_OUT ? STDOUT_FILENO : STDERR_FILENO); }

void OutputWrite(OutputStream stream, const std::string& text, bool)
{
    int fd = stream == STREAM_OUT ? STDOUT_FILENO : STDERR_FILENO;
    // A pipe may take a long line in parts; a signal may cut a write short.
    for (size_t done = 0; done < text.size();) {
        ssize_t count = write(fd, text.data() + done, text.size() - done);
        if (count < 0 && errno != EINTR)
            return;
        done += count > 0 ? static_cast<size_t>(count) : 0;
    }
}

uint32_t OutputTicks()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Wraps as GetTickCount does; the callers take differences only.
    return static_cast<uint32_t>(now.tv_sec) * 1000 + static_cast<uint32_t>(now.tv_nsec / 1000000);
}

// Every byte but the continuation bytes (10xxxxxx) begins a character.
size_t OutputWidth(const std::string& text)
{
    size_t characters = 0;
    for (unsigned char byte : text)
        characters += (byte & 0xC0) != 0x80;
    return characters;
}

std::string ToUtf8(const char* text) { return text; }

std::string FromUtf8(const std::string& text) { return text; }

void OutputColour(OutputStream stream, int colour)
{
    static const char* const CODES[] = {"\033[1;32m", "\033[1;31m"};
    OutputWrite(stream, colour >= 0 && colour < 2 ? CODES[colour] : "\033[0m", true);
}

void KeysStart()
{
    if (keysStarted)
        return;
    keysStarted = true;
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &savedMode) != 0)
        return;
    // Single keys, no echo; ISIG stays, so that Ctrl+C still stops the job.
    termios keys = savedMode;
    keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keys.c_cc[VMIN] = 0;
    keys.c_cc[VTIME] = 0;
    terminalChanged = tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0;
    if (terminalChanged)
        atexit(KeysStop);
}

void KeysStop()
{
    if (terminalChanged)
        tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
    terminalChanged = false;
}

void KeysDiscard()
{
    if (!keysStarted || inputEnded)
        return;
    if (isatty(STDIN_FILENO)) {
        tcflush(STDIN_FILENO, TCIFLUSH);
        return;
    }
    unsigned char byte;
    int read = 1;
    while (read == 1)
        read = ReadByte(0, &byte);
    inputEnded = read < 0;
}

int KeyWithin(uint32_t ms)
{
    unsigned char byte = 0;
    int read = keysStarted && !inputEnded ? ReadByte(ms, &byte) : -1;
    if (read < 0) {
        // As on Windows: the end is told after the wait.
        inputEnded = true;
        Pause(ms);
        return -1;
    }
    return read && byte > ' ' ? tolower(byte) : 0;
}
