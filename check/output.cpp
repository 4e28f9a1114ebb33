// Encoding: a console gets UTF-16 through WriteConsoleW, which shows the
// umlauts in a Windows console whatever its code page, and under Wine in a
// Linux terminal (Wine converts console output to the terminal's locale). A
// pipe or file gets UTF-8: the bytes pass through Wine untouched, so
// `scripts/check | cat` in a UTF-8 terminal reads right, and so do today's
// Windows editors and shells.
#include "check/output.h"

#include <windows.h>
#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

// Output state, set once by OutputStart and kept for the process.
bool quietRun = false;
bool outConsole = false;     // standard output is a console
DWORD progressShown = 0;     // characters of progress text on the screen now
DWORD startTicks = 0;        // GetTickCount at OutputStart
DWORD progressTicks = 0;     // GetTickCount of the last progress text

void Write(DWORD which, const char* text, bool newLine)
{
    HANDLE handle = GetStdHandle(which);
    WCHAR wide[1024];
    int length = MultiByteToWideChar(1252, 0, text, -1, wide, 1000);
    length = length > 0 ? length - 1 : 0;
    if (newLine)
        wide[length++] = L'\n';
    DWORD done = 0;
    if (which == STD_OUTPUT_HANDLE ? outConsole : GetConsoleMode(handle, &done)) {
        WriteConsoleW(handle, wide, static_cast<DWORD>(length), &done, nullptr);
        return;
    }
    char bytes[3072];
    int size = WideCharToMultiByte(CP_UTF8, 0, wide, length, bytes, sizeof bytes, nullptr, nullptr);
    WriteFile(handle, bytes, static_cast<DWORD>(size), &done, nullptr);
}

void WipeProgress()
{
    if (progressShown == 0)
        return;
    char blanks[100];
    snprintf(blanks, sizeof blanks, "\r%*s\r", static_cast<int>(progressShown), "");
    Write(STD_OUTPUT_HANDLE, blanks, false);
    progressShown = 0;
}

void Line(DWORD which, const char* format, va_list arguments)
{
    char text[1000];
    vsnprintf(text, sizeof text, format, arguments);
    WipeProgress();
    Write(which, text, true);
}

}  // namespace

void OutputStart(bool quiet)
{
    DWORD mode;
    quietRun = quiet;
    outConsole = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
    startTicks = GetTickCount();
}

void Say(const char* format, ...)
{
    if (quietRun)
        return;
    va_list arguments;
    va_start(arguments, format);
    Line(STD_OUTPUT_HANDLE, format, arguments);
    va_end(arguments);
}

void SayAlways(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    Line(STD_OUTPUT_HANDLE, format, arguments);
    va_end(arguments);
}

void SayError(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    Line(STD_ERROR_HANDLE, format, arguments);
    va_end(arguments);
}

void ShowProgress(const char* format, ...)
{
    // Only runs that take longer than about a second show progress, at most
    // ten times a second.
    DWORD now = GetTickCount();
    if (quietRun || !outConsole || now - startTicks < 1000 || now - progressTicks < 100)
        return;
    progressTicks = now;
    char text[90];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    WipeProgress();
    Write(STD_OUTPUT_HANDLE, text, false);
    progressShown = static_cast<DWORD>(strlen(text));
}

int KeyWithin(unsigned long ms)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD count = 0, mode;
    if (GetConsoleMode(input, &mode)) {
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
    // A pipe is asked how much waits; a file always has its next byte ready.
    DWORD type = GetFileType(input);
    if ((type == FILE_TYPE_PIPE && (!PeekNamedPipe(input, nullptr, 0, nullptr, &count, nullptr) || count == 0)) ||
        (type != FILE_TYPE_PIPE && type != FILE_TYPE_DISK)) {
        Sleep(ms);
        return 0;
    }
    char key = 0;
    return ReadFile(input, &key, 1, &count, nullptr) && count == 1 ? tolower(static_cast<unsigned char>(key))
                                                                   : 0;
}
