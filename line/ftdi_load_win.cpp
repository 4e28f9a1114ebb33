#include "line/ftdi_load.h"

#include <windows.h>

#include <new>

namespace {

// FTDI's D2XX calls as its programmer's guide gives them (stdcall).
using Status = ULONG;
using Handle = PVOID;
using OpenFn = Status(WINAPI*)(int device, Handle* handle);
using OpenExFn = Status(WINAPI*)(PVOID what, DWORD flags, Handle* handle);
using CloseFn = Status(WINAPI*)(Handle handle);
using BitModeFn = Status(WINAPI*)(Handle handle, UCHAR mask, UCHAR mode);
using BaudFn = Status(WINAPI*)(Handle handle, ULONG baud);
using LatencyFn = Status(WINAPI*)(Handle handle, UCHAR ms);
using TransferFn = Status(WINAPI*)(Handle handle, LPVOID bytes, DWORD count, LPDWORD done);
using TimeoutsFn = Status(WINAPI*)(Handle handle, ULONG readMs, ULONG writeMs);

constexpr Status OK = 0;
constexpr DWORD OPEN_BY_SERIAL_NUMBER = 1;
constexpr ULONG TIMEOUT_MS = 1000;

}  // namespace

struct FtdiLibrary {
    HMODULE module = nullptr;
    Handle chip = nullptr;
    OpenFn open = nullptr;
    OpenExFn openEx = nullptr;
    CloseFn close = nullptr;
    BitModeFn bitMode = nullptr;
    BaudFn baud = nullptr;
    LatencyFn latency = nullptr;
    TransferFn write = nullptr, read = nullptr;
    TimeoutsFn timeouts = nullptr;
    Status last = OK;
    LARGE_INTEGER frequency = {};
};

namespace {

FtdiLibrary* Of(void* data) { return static_cast<FtdiLibrary*>(data); }

bool Done(FtdiLibrary* library, Status status) { return (library->last = status) == OK; }

double Now(void* data)
{
    LARGE_INTEGER ticks;
    QueryPerformanceCounter(&ticks);
    return static_cast<double>(ticks.QuadPart) * 1000 / static_cast<double>(Of(data)->frequency.QuadPart);
}

void WaitUntil(void* data, double ms)
{
    for (double left = ms - Now(data); left > 0; left = ms - Now(data))
        Sleep(left >= 2 ? static_cast<DWORD>(left - 1) : 0);
}

bool Open(void* data, const char* which)
{
    FtdiLibrary* library = Of(data);
    if (library->chip || !which || !*which)
        return false;
    int index = 0;
    const char* end = which;
    for (; *end >= '0' && *end <= '9'; end++)
        index = index * 10 + (*end - '0');
    bool byIndex = !*end && end - which < 4;
    bool opened = byIndex ? Done(library, library->open(index, &library->chip))
                          : Done(library, library->openEx(const_cast<char*>(which), OPEN_BY_SERIAL_NUMBER, &library->chip));
    if (!opened)
        library->chip = nullptr;
    return opened && Done(library, library->timeouts(library->chip, TIMEOUT_MS, TIMEOUT_MS));
}

bool SetBitMode(void* data, uint8_t mask, uint8_t mode)
{
    return Of(data)->chip && Done(Of(data), Of(data)->bitMode(Of(data)->chip, mask, mode));
}
bool SetBaudRate(void* data, int32_t baud)
{
    return Of(data)->chip && Done(Of(data), Of(data)->baud(Of(data)->chip, static_cast<ULONG>(baud)));
}
bool SetLatency(void* data, uint8_t ms) { return Of(data)->chip && Done(Of(data), Of(data)->latency(Of(data)->chip, ms)); }

int32_t Write(void* data, const uint8_t* bytes, int32_t count)
{
    DWORD done = 0;
    return Of(data)->chip && Done(Of(data), Of(data)->write(Of(data)->chip, const_cast<uint8_t*>(bytes),
                                                            static_cast<DWORD>(count), &done))
               ? static_cast<int32_t>(done)
               : -1;
}

// A read returns when all is there or its time-out has passed.
int32_t Read(void* data, uint8_t* bytes, int32_t count)
{
    DWORD done = 0;
    return Of(data)->chip && Done(Of(data), Of(data)->read(Of(data)->chip, bytes, static_cast<DWORD>(count), &done))
               ? static_cast<int32_t>(done)
               : -1;
}

void Close(void* data)
{
    FtdiLibrary* library = Of(data);
    if (!library->chip)
        return;
    library->close(library->chip);
    library->chip = nullptr;
}

// GetProcAddress's generic pointer, through the type that matches every
// function, to the call's own type.
template <typename Fn>
bool Find(HMODULE module, const char* name, Fn* fn)
{
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    return *fn != nullptr;
}

}  // namespace

FtdiLibrary* FtdiLibraryLoad(std::string* why)
{
    HMODULE module = LoadLibraryA("ftd2xx.dll");
    if (!module) {
        *why = "ftd2xx.dll ist nicht installiert (FTDI-Treiber mit D2XX)";
        return nullptr;
    }
    FtdiLibrary* library = new (std::nothrow) FtdiLibrary;
    if (!library) {
        FreeLibrary(module);
        *why = "kein Speicher";
        return nullptr;
    }
    library->module = module;
    QueryPerformanceFrequency(&library->frequency);
    bool found = Find(module, "FT_Open", &library->open) && Find(module, "FT_OpenEx", &library->openEx) &&
                 Find(module, "FT_Close", &library->close) && Find(module, "FT_SetBitMode", &library->bitMode) &&
                 Find(module, "FT_SetBaudRate", &library->baud) && Find(module, "FT_SetLatencyTimer", &library->latency) &&
                 Find(module, "FT_Write", &library->write) && Find(module, "FT_Read", &library->read) &&
                 Find(module, "FT_SetTimeouts", &library->timeouts);
    if (!found) {
        *why = "ftd2xx.dll ist unvollständig";
        FtdiLibraryUnload(&library);
    }
    return library;
}

FtdiApi FtdiLibraryApi(FtdiLibrary* library)
{
    return {library, Open, SetBitMode, SetBaudRate, SetLatency, Write, Read, Close, Now, WaitUntil};
}

std::string FtdiLibraryError(FtdiLibrary* library)
{
    if (!library || library->last == OK)
        return "";
    char text[32];
    wsprintfA(text, "D2XX-Status %u", static_cast<unsigned>(library->last));
    return text;
}

void FtdiLibraryUnload(FtdiLibrary** library)
{
    if (!*library)
        return;
    Close(*library);
    FreeLibrary((*library)->module);
    delete *library;
    *library = nullptr;
}
