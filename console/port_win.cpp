#include "console/port.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "console/arguments.h"
#include "line/serial_lines.h"
#include "serial/serial.h"

const char* const PORT_WORD = "COMn";
const char* const PORT_USAGE =
    "  COMn           die Schnittstelle mit dem Koppler, COM1 bis COM255, z. B. COM3 oder com3:";
const char* const PORT_LIST_USAGE = "  --list         die Schnittstellen COM1 bis COM20, die sich öffnen lassen";

struct ConsolePort {
    int32_t handle;
    char settings[40];  // what it was opened with, for the mismatch
    SerialLines serial;
};

namespace {

// Opens COMn as the tester opens a port; nullptr with the reason.
ConsolePort* Open(int com, int baud, int queueSize, PortError* error)
{
    ConsolePort* port = new ConsolePort();
    snprintf(port->settings, sizeof port->settings, "com%d:%d,n,8,1", com, baud);
    port->handle = SerialOpen(port->settings, 0, queueSize, queueSize);
    if (port->handle > 0)
        return port;
    delete port;
    // Windows calls a missing port "not found" and one held by another
    // program "access denied". Wine refuses a held port with other errors
    // (998), and a port mapped to a folder, its way of having none, with
    // "access denied": the folder tells these apart.
    DWORD code = GetLastError();
    char device[20];
    snprintf(device, sizeof device, "\\\\.\\COM%d", com);
    DWORD attributes = GetFileAttributesA(device);
    bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    bool absent = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
                  (code == ERROR_ACCESS_DENIED && folder);
    *error = {absent ? "gibt es nicht" : "ist belegt", false, absent ? "port_missing" : "port_busy"};
    return nullptr;
}

}  // namespace

namespace {

// Digits of a COMn word ("COM3", "com3:"), 0 when it is none.
size_t ComDigits(const char* word)
{
    size_t digits = _strnicmp(word, "com", 3) == 0 ? strspn(word + 3, "0123456789") : 0;
    return digits && (!word[3 + digits] || !strcmp(word + 3 + digits, ":")) ? digits : 0;
}

}  // namespace

bool PortArgument(const char* word, std::string* port, char* error, int size)
{
    size_t digits = ComDigits(word);
    if (!digits)
        return Refuse(error, size, "%s ist keine Schnittstelle: COM1 bis COM255, z. B. COM3", word);
    // The serial layer opens com1 to com255, written without a leading zero.
    if (word[3] == '0' || digits > 3 || atoi(word + 3) > 255)
        return Refuse(error, size, "Schnittstelle %s gibt es nicht: COM1 bis COM255", word);
    *port = "COM" + std::to_string(atoi(word + 3));
    return true;
}

bool PortLike(const char* word) { return ComDigits(word) != 0; }

ConsolePort* PortOpen(const std::string& name, int baud, int queueSize, PortError* error)
{
    return Open(atoi(name.c_str() + 3), baud, queueSize, error);
}

int32_t PortMismatch(ConsolePort* port) { return SerialSettingsMismatch(port->handle, port->settings, 0); }

LinePort PortLines(ConsolePort* port) { return SerialLinesOpen(&port->serial, port->handle); }

void PortClose(ConsolePort** port)
{
    if (!*port)
        return;
    SerialLinesClose(&(*port)->serial);
    SerialClose((*port)->handle);
    delete *port;
    *port = nullptr;
}

std::vector<PortFound> PortList(const char*, const char*)
{
    std::vector<PortFound> ports;
    for (int com = 1; com <= 20; com++) {
        PortError error;
        ConsolePort* port = Open(com, 9600, 1024, &error);
        bool opened = port != nullptr;
        PortClose(&port);
        if (opened || error.words == "ist belegt") {
            PortFound found;
            found.path = "COM" + std::to_string(com);
            found.busy = !opened;
            ports.push_back(found);
        }
    }
    return ports;
}

std::vector<std::string> PortListLines(const std::vector<PortFound>& ports, const char*)
{
    std::vector<std::string> lines;
    for (const PortFound& port : ports)
        lines.push_back(port.path + (port.busy ? " (belegt)" : ""));
    if (lines.empty())
        lines.push_back("Keine Schnittstelle COM1 bis COM20 gefunden");
    return lines;
}

// The COM port's USB device is not looked up here.
std::string PortFtdiOffer(ConsolePort*) { return ""; }

std::string PortLatencyHint(ConsolePort*, double echoMs, bool* known)
{
    // Which chip is behind a COM port Windows does not say here.
    *known = false;
    char text[300];
    snprintf(text, sizeof text,
             "Hinweis: DSR kommt %.1f ms nach DTR: hat der USB-Adapter einen Latenz-Zeitgeber (FTDI), ihn im"
             " Geräte-Manager unter Anschlusseinstellungen, Erweitert, auf 1 ms stellen",
             echoMs);
    return text;
}

bool PortLowLatency(ConsolePort*, std::string* why)
{
    *why = "unter Windows im Geräte-Manager (Anschlusseinstellungen, Erweitert, Latenzzeit 1 ms)";
    return false;
}
