// Encoding: a console gets UTF-16 through WriteConsoleW, which shows the
// umlauts in a Windows console whatever its code page, and under Wine in a
// Linux terminal (Wine converts console output to the terminal's locale). A
// pipe or file gets UTF-8: the bytes pass through Wine untouched, so
// `scripts/check | cat` in a UTF-8 terminal reads right, and so do today's
// Windows editors and shells.
#include <windows.h>
#include <ctype.h>
#include <string.h>

#include <string>

#include "console/output.h"
#include "console/output_platform.h"

namespace {

// The program's Windows-1252 text as UTF-16, whole (every byte has a
// character in that code page).
std::wstring Wide(const char* text)
{
    int length = MultiByteToWideChar(1252, 0, text, -1, nullptr, 0);
    std::wstring wide(length > 1 ? static_cast<size_t>(length) : 1, L'\0');
    MultiByteToWideChar(1252, 0, text, -1, &wide[0], length);
    wide.resize(length > 1 ? static_cast<size_t>(length - 1) : 0);
    return wide;
}

HANDLE Handle(OutputStream stream) { return GetStdHandle(stream == STREAM_OUT ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE); }

// Keys from a standard input that is no console: a thread blocks in ReadFile
// and queues them. Polling the handle instead fails under Wine, which may
// present a Unix pipe as a character device, or as a pipe on which
// PeekNamedPipe fails. The reader and its lock and event are made by
// KeysStart and live as long as the process (the thread may block for good).
HANDLE keyReader = nullptr;
HANDLE keyArrived = nullptr;  // set for every key queued and at the end
CRITICAL_SECTION keyLock;     // guards keys, keyCount and inputEnded
unsigned char keys[64];
int keyCount = 0;
bool inputEnded = false;

DWORD WINAPI ReadKeys(void* input)
{
    for (;;) {
        unsigned char key = 0;
        DWORD count = 0;
        bool read = ReadFile(static_cast<HANDLE>(input), &key, 1, &count, nullptr) && count == 1;
        EnterCriticalSection(&keyLock);
        if (read && keyCount < static_cast<int>(sizeof keys) && key > ' ')
            keys[keyCount++] = key;
        inputEnded = !read;
        LeaveCriticalSection(&keyLock);
        SetEvent(keyArrived);
        if (!read)
            return 0;
    }
}

}  // namespace

bool OutputIsConsole(OutputStream stream)
{
    DWORD mode;
    return GetConsoleMode(Handle(stream), &mode) != 0;
}

void OutputWrite(OutputStream stream, const std::string& text, bool console)
{
    DWORD done = 0;
    if (console) {
        std::wstring wide = Wide(text.c_str());
        WriteConsoleW(Handle(stream), wide.data(), static_cast<DWORD>(wide.size()), &done, nullptr);
        return;
    }
    std::string bytes = ToUtf8(text.c_str());
    WriteFile(Handle(stream), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
}

uint32_t OutputTicks() { return GetTickCount(); }

// One byte, one character in Windows-1252.
size_t OutputWidth(const std::string& text) { return text.size(); }

std::string ToUtf8(const char* text)
{
    std::wstring wide = Wide(text);
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string bytes(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &bytes[0], length, nullptr,
                            nullptr);
    return bytes;
}

void OutputColour(OutputStream stream, int colour)
{
    // The console's own colours, taken before the first change, come back after.
    static WORD before = 0;
    static bool taken = false;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!taken && GetConsoleScreenBufferInfo(Handle(stream), &info))
        before = info.wAttributes, taken = true;
    static const WORD COLOURS[] = {FOREGROUND_GREEN | FOREGROUND_INTENSITY, FOREGROUND_RED | FOREGROUND_INTENSITY};
    if (taken)
        SetConsoleTextAttribute(Handle(stream), colour >= 0 && colour < 2 ? COLOURS[colour] : before);
}

std::string FromUtf8(const std::string& text)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(length > 0 ? static_cast<size_t>(length) : 0, L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    int size = WideCharToMultiByte(1252, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, "?", nullptr);
    std::string bytes(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(1252, 0, wide.data(), static_cast<int>(wide.size()), &bytes[0], size, "?", nullptr);
    return bytes;
}

void KeysStart()
{
    DWORD mode;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (GetConsoleMode(input, &mode) || keyReader)
        return;
    InitializeCriticalSection(&keyLock);
    keyArrived = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    keyReader = CreateThread(nullptr, 0, ReadKeys, input, 0, nullptr);
}

void KeysDiscard()
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode;
    if (GetConsoleMode(input, &mode)) {
        FlushConsoleInputBuffer(input);
    } else if (keyReader) {
        EnterCriticalSection(&keyLock);
        keyCount = 0;
        LeaveCriticalSection(&keyLock);
    }
}

int KeyWithin(uint32_t ms)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD count = 0;
    if (GetConsoleMode(input, &count)) {
        // Waiting on the handle is what makes Wine's console read the terminal.
        WaitForSingleObject(input, ms);
        INPUT_RECORD record;
        while (GetNumberOfConsoleInputEvents(input, &count) && count > 0 &&
               ReadConsoleInputA(input, &record, 1, &count) && count == 1)
            if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
                record.Event.KeyEvent.uChar.AsciiChar)
                return tolower(static_cast<unsigned char>(record.Event.KeyEvent.uChar.AsciiChar));
        return 0;
    }
    if (!keyReader) {
        Sleep(ms);
        return -1;
    }
    for (int round = 0; round < 2; round++) {
        EnterCriticalSection(&keyLock);
        int key = keyCount ? keys[0] : inputEnded && round ? -1 : 0;
        if (keyCount)
            memmove(keys, keys + 1, --keyCount);
        LeaveCriticalSection(&keyLock);
        if (key > 0)
            return tolower(key);
        if (key < 0 || round)
            return key;
        WaitForSingleObject(keyArrived, ms);
    }
    return 0;
}

// A console's mode is never changed: nothing to put back.
void KeysStop() {}
