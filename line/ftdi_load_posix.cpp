#include "line/ftdi_load.h"

#include <dirent.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <new>

namespace {

// The library's calls as its manual gives them; the context stays opaque.
using NewFn = void* (*)();
using FreeFn = void (*)(void*);
using OpenFn = int (*)(void*, int vendor, int product, const char* description, const char* serial, unsigned index);
using CloseFn = int (*)(void*);
using ByteByteFn = int (*)(void*, unsigned char, unsigned char);
using IntFn = int (*)(void*, int);
using ByteFn = int (*)(void*, unsigned char);
using WriteFn = int (*)(void*, const unsigned char*, int);
using ReadFn = int (*)(void*, unsigned char*, int);
using ErrorFn = const char* (*)(void*);

constexpr int VENDOR = 0x0403;
// FT232R, FT2232, FT232H, FT4232H.
constexpr int PRODUCTS[] = {0x6001, 0x6010, 0x6014, 0x6011};
constexpr double READ_LIMIT_MS = 1000;

}  // namespace

struct FtdiLibrary {
    void* handle = nullptr;
    void* context = nullptr;
    bool open = false;
    std::string serial;  // the chip's, where the job named it by one
    NewFn make = nullptr;
    FreeFn release = nullptr;
    OpenFn openIndex = nullptr;
    CloseFn close = nullptr;
    ByteByteFn bitMode = nullptr;
    IntFn baud = nullptr;
    ByteFn latency = nullptr;
    WriteFn write = nullptr;
    ReadFn read = nullptr;
    ErrorFn error = nullptr;
};

namespace {

FtdiLibrary* Of(void* data) { return static_cast<FtdiLibrary*>(data); }

double Now(void*)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1000 + static_cast<double>(now.tv_nsec) / 1e6;
}

void WaitUntil(void* data, double ms)
{
    for (double left = ms - Now(data); left > 0; left = ms - Now(data)) {
        int64_t ns = static_cast<int64_t>(left * 1e6);
        timespec wait;
        wait.tv_sec = static_cast<time_t>(ns / 1000000000);
        wait.tv_nsec = ns % 1000000000;
        nanosleep(&wait, nullptr);
    }
}

// A serial number, or a small number counting the chips found.
bool Open(void* data, const char* which)
{
    FtdiLibrary* library = Of(data);
    if (library->open || !which)
        return false;
    unsigned index = 0;
    const char* end = which;
    for (; *end >= '0' && *end <= '9'; end++)
        index = index * 10 + static_cast<unsigned>(*end - '0');
    bool byIndex = *which && !*end && end - which < 4;
    library->serial = byIndex ? "" : which;
    for (int product : PRODUCTS) {
        if (library->openIndex(library->context, VENDOR, product, nullptr, byIndex ? nullptr : which,
                               byIndex ? index : 0) == 0)
            return library->open = true;
    }
    return false;
}

// The kernel's serial driver takes back every FTDI interface left without a
// driver (the job's chip, named by its serial number where it was).
void Reattach(const std::string& serial)
{
    DIR* devices = opendir("/sys/bus/usb/devices");
    if (!devices)
        return;
    while (dirent* entry = readdir(devices)) {
        std::string base = std::string("/sys/bus/usb/devices/") + entry->d_name, text;
        char line[128] = "";
        FILE* file = fopen((base + "/idVendor").c_str(), "r");
        bool ftdi = file && fgets(line, sizeof line, file) && !strncmp(line, "0403", 4);
        if (file)
            fclose(file);
        if (ftdi && !serial.empty() && (file = fopen((base + "/serial").c_str(), "r"))) {
            ftdi = fgets(line, sizeof line, file) && !strncmp(line, serial.c_str(), serial.size());
            fclose(file);
        }
        std::string interface = std::string(entry->d_name) + ":1.0";
        DIR* driver = ftdi ? opendir((base + "/" + interface + "/driver").c_str()) : nullptr;
        if (driver) {
            closedir(driver);
            continue;
        }
        if (ftdi && (file = fopen("/sys/bus/usb/drivers/ftdi_sio/bind", "w"))) {
            fputs(interface.c_str(), file);
            fclose(file);
        }
    }
    closedir(devices);
}

bool SetBitMode(void* data, uint8_t mask, uint8_t mode)
{
    return Of(data)->open && Of(data)->bitMode(Of(data)->context, mask, mode) == 0;
}
bool SetBaudRate(void* data, int32_t baud) { return Of(data)->open && Of(data)->baud(Of(data)->context, baud) == 0; }
bool SetLatency(void* data, uint8_t ms) { return Of(data)->open && Of(data)->latency(Of(data)->context, ms) == 0; }

int32_t Write(void* data, const uint8_t* bytes, int32_t count)
{
    return Of(data)->open ? Of(data)->write(Of(data)->context, bytes, count) : -1;
}

// The library answers what has come so far: asked again until all is there.
int32_t Read(void* data, uint8_t* bytes, int32_t count)
{
    FtdiLibrary* library = Of(data);
    double until = Now(data) + READ_LIMIT_MS;
    int32_t got = 0;
    while (library->open && got < count && Now(data) < until) {
        int part = library->read(library->context, bytes + got, count - got);
        if (part < 0)
            return -1;
        got += part;
    }
    return got;
}

void Close(void* data)
{
    FtdiLibrary* library = Of(data);
    if (!library->open)
        return;
    library->open = false;
    library->close(library->context);
    Reattach(library->serial);
}

template <typename Fn>
bool Find(void* handle, const char* name, Fn* fn)
{
    *fn = reinterpret_cast<Fn>(dlsym(handle, name));
    return *fn != nullptr;
}

}  // namespace

FtdiLibrary* FtdiLibraryLoad(std::string* why)
{
    void* handle = dlopen("libftdi1.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        *why = "libftdi1 ist nicht installiert (Paket libftdi1-2)";
        return nullptr;
    }
    FtdiLibrary* library = new (std::nothrow) FtdiLibrary;
    if (!library) {
        dlclose(handle);
        *why = "kein Speicher";
        return nullptr;
    }
    library->handle = handle;
    bool found = Find(handle, "ftdi_new", &library->make) && Find(handle, "ftdi_free", &library->release) &&
                 Find(handle, "ftdi_usb_open_desc_index", &library->openIndex) &&
                 Find(handle, "ftdi_usb_close", &library->close) && Find(handle, "ftdi_set_bitmode", &library->bitMode) &&
                 Find(handle, "ftdi_set_baudrate", &library->baud) &&
                 Find(handle, "ftdi_set_latency_timer", &library->latency) &&
                 Find(handle, "ftdi_write_data", &library->write) && Find(handle, "ftdi_read_data", &library->read) &&
                 Find(handle, "ftdi_get_error_string", &library->error);
    library->context = found ? library->make() : nullptr;
    if (!library->context) {
        *why = "libftdi1 ist unvollständig";
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
    const char* said = library && library->context ? library->error(library->context) : nullptr;
    return said ? said : "";
}

void FtdiLibraryUnload(FtdiLibrary** library)
{
    if (!*library)
        return;
    Close(*library);
    if ((*library)->context)
        (*library)->release((*library)->context);
    dlclose((*library)->handle);
    delete *library;
    *library = nullptr;
}
