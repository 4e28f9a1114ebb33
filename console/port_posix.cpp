#include "console/port.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "console/arguments.h"
#include "line/latency.h"
#include "line/posix_lines.h"

const char* const PORT_WORD = "GERÄT";
const char* const PORT_USAGE =
    "  GERÄT          die Schnittstelle mit dem Koppler, ein Gerätepfad oder ein Name unter /dev:"
    " /dev/ttyUSB0 oder ttyUSB0";
const char* const PORT_LIST_USAGE =
    "  --list         die Schnittstellen /dev/ttyS*, ttyUSB*, ttyACM* und ihre Namen in /dev/serial/by-id,"
    " hinter denen ein Gerät steht (ohne sie zu öffnen)";

struct ConsolePort {
    PosixLines posix;
    std::string path;      // as opened, for the adapter's latency timer
    LatencyTimer latency;  // set by PortLowLatency, put back by PortClose
    int32_t mismatch;  // read back once the settings were made
};

namespace {

// Device names of the serial ports --list looks at.
const char* const FAMILIES[] = {"ttyS", "ttyUSB", "ttyACM"};

bool Serial(const char* name)
{
    for (const char* family : FAMILIES) {
        size_t length = strlen(family);
        if (!strncmp(name, family, length) && name[length] && strspn(name + length, "0123456789") == strlen(name + length))
            return true;
    }
    return false;
}

// The names below folder (as folder/name) that pass keep, in natural order.
std::vector<std::string> Names(const std::string& folder, bool (*keep)(const char*))
{
    std::vector<std::string> names;
    if (DIR* entries = opendir(folder.c_str())) {
        while (dirent* entry = readdir(entries))
            if (entry->d_name[0] != '.' && keep(entry->d_name))
                names.push_back(folder + "/" + entry->d_name);
        closedir(entries);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return strverscmp(a.c_str(), b.c_str()) < 0; });
    return names;
}

bool Any(const char*) { return true; }

// Whether the tty's sysfs folder (entry) shows hardware with a driver; a
// ttyS also a UART the driver found (its type not 0, "unknown"): the 8250
// driver makes ttyS0 to ttyS3 whether there is a UART behind them or not.
bool RealPort(const std::string& entry, const std::string& name)
{
    if (access((entry + "/device/driver").c_str(), F_OK) != 0)
        return false;
    if (name.compare(0, 4, "ttyS") != 0)
        return true;
    int type = 0;
    if (FILE* file = fopen((entry + "/type").c_str(), "r")) {
        if (fscanf(file, "%d", &type) != 1)
            type = 0;
        fclose(file);
    }
    return type != 0;
}

// A sysfs attribute's first line, without its end; "" when it cannot be read.
std::string FirstLine(const std::string& path)
{
    char line[128] = "";
    FILE* file = fopen(path.c_str(), "r");
    bool read = file && fgets(line, sizeof line, file);
    if (file)
        fclose(file);
    std::string text = read ? line : "";
    return text.substr(0, text.find('\n'));
}

// Whether the tty (its sysfs entry) is an FTDI chip's: its device is a port
// of a USB interface, whose device names its vendor and serial number.
bool FtdiChip(const std::string& entry, std::string* serial)
{
    char real[PATH_MAX];
    std::string usb = realpath((entry + "/device").c_str(), real) ? real : "";
    for (int up = 0; up < 2 && !usb.empty(); up++)
        usb.erase(usb.rfind('/'));
    bool ftdi = !usb.empty() && FirstLine(usb + "/idVendor") == "0403";
    *serial = ftdi ? FirstLine(usb + "/serial") : "";
    return ftdi;
}

}  // namespace

bool PortArgument(const char* word, std::string* port, char* error, int size)
{
    // A COM word is the Windows build's; here the device has a path.
    size_t digits = strncasecmp(word, "com", 3) == 0 ? strspn(word + 3, "0123456789") : 0;
    if (digits && (!word[3 + digits] || !strcmp(word + 3 + digits, ":")))
        return Refuse(error, size,
                      "%s gibt es unter Linux nicht: den Gerätepfad angeben, z. B. /dev/ttyUSB0"
                      " (coupler-check --list zeigt die Schnittstellen)",
                      word);
    if (!*word || !strcmp(word, "-"))
        return Refuse(error, size, "\"%s\" ist keine Schnittstelle: den Gerätepfad angeben, z. B. /dev/ttyUSB0", word);
    // A bare name is one under /dev, as the kernel names its ports.
    *port = word[0] == '/' || word[0] == '.' ? word : std::string("/dev/") + word;
    return true;
}

bool PortLike(const char* word) { return strncmp(word, "/dev/", 5) == 0; }

std::string PortDeniedAdvice(const PortAccess& access, const std::string& path)
{
    char mode[8];
    snprintf(mode, sizeof mode, "%03o", access.mode & 0777);
    // The bits that apply: the owner's, else the group's for a member, else the others'.
    uint32_t bits = access.owner ? access.mode >> 6 : access.member ? access.mode >> 3 : access.mode;
    std::string group = access.group, modeWords = std::string("Modus ") + mode;
    if ((bits & 6) == 6)
        return modeWords + " erlaubt Lesen und Schreiben; verwehrt hat es etwas anderes (eine Zugriffsliste,"
                           " ein Sicherheitsmodul): der Verwalter sieht nach (getfacl " + path + ")";
    // No user belongs in root's group: the port goes to a group for ports.
    std::string fix = std::string("der Verwalter stellt ihn mit einer udev-Regel ein (GROUP=\"") +
                      (access.rootGroup ? "dialout" : access.group) + "\", MODE=\"0660\"), bis zum Abziehen mit sudo chmod 660 " + path;
    if (access.owner || access.member)
        return modeWords + ": " + (access.owner ? "der Besitzer" : "die Gruppe " + group + ", in der der Benutzer ist,") +
               " darf nicht lesen und schreiben; " + fix;
    if (access.rootGroup)
        return modeWords + ", Gruppe root: in die Gruppe root gehört kein Benutzer; der Verwalter gibt die Schnittstelle"
                           " einer Gruppe wie dialout (udev-Regel GROUP=\"dialout\", MODE=\"0660\"), der Benutzer"
                           " kommt in diese Gruppe (sudo adduser $USER dialout, dann neu anmelden)";
    if (((access.mode >> 3) & 6) != 6)
        return modeWords + ": auch die Gruppe " + group + " darf nicht lesen und schreiben; " + fix +
               "; dann den Benutzer in die Gruppe " + group + " aufnehmen";
    if (access.listed)
        return "der Benutzer ist in der Gruppe " + group + " eingetragen, diese Anmeldung aber noch nicht: neu anmelden";
    return "den Benutzer in die Gruppe " + group + " aufnehmen (sudo adduser $USER " + group + ", dann neu anmelden)";
}

namespace {

// The advice for a refused open from the node and the user's groups; the
// bare refusal where the node cannot be looked at.
std::string Denied(const std::string& path)
{
    struct stat node;
    if (stat(path.c_str(), &node) != 0)
        return "keine Rechte";
    const group* owner = getgrgid(node.st_gid);
    std::string name = owner ? owner->gr_name : std::to_string(node.st_gid);
    PortAccess access = {static_cast<uint32_t>(node.st_mode & 07777), name.c_str(), node.st_gid == 0,
                         node.st_uid == geteuid(), node.st_gid == getegid(), false};
    gid_t groups[NGROUPS_MAX];
    int count = getgroups(NGROUPS_MAX, groups);
    for (int i = 0; i < count; i++)
        access.member = access.member || groups[i] == node.st_gid;
    // Listed in the group file, or the group is the user's own: in it from the next login on.
    const passwd* user = getpwuid(geteuid());
    access.listed = user && user->pw_gid == node.st_gid;
    for (char* const* member = owner ? owner->gr_mem : nullptr; user && member && *member; member++)
        access.listed = access.listed || !strcmp(*member, user->pw_name);
    return PortDeniedAdvice(access, path);
}

}  // namespace

ConsolePort* PortOpen(const std::string& name, int baud, int, PortError* error)
{
    ConsolePort* port = new ConsolePort();
    port->path = name;
    PosixOpen opened = PosixLinesOpen(&port->posix, name.c_str(), baud, &port->mismatch);
    int code = errno;
    if (opened == POSIX_OPENED)
        return port;
    delete port;
    char detail[300] = "";
    error->certain = true;
    // A path that is there but no port for the coupler, unless said otherwise below.
    error->code = "port_not_serial";
    switch (opened) {
    case POSIX_MISSING:
        error->words = "gibt es nicht";
        error->code = "port_missing";
        return nullptr;
    case POSIX_BUSY:
        error->words = "ist belegt";
        error->code = "port_busy";
        if (PosixPortHolder(name.c_str(), detail, sizeof detail))
            error->words += std::string(": ") + detail + " hält sie offen";
        return nullptr;
    case POSIX_DENIED:
        error->words = "darf nicht geöffnet werden: " + Denied(name);
        error->code = "port_permission";
        return nullptr;
    case POSIX_NOT_A_PORT:
        error->words = "ist keine serielle Schnittstelle";
        return nullptr;
    case POSIX_OWN_TERMINAL:
        error->words = "ist das Terminal dieses Programms, nicht der Adapter des Kopplers: den Gerätepfad"
                       " des Adapters angeben (coupler-check --list zeigt die Schnittstellen)";
        return nullptr;
    case POSIX_NO_LINES:
        error->words = "hat keine Steuerleitungen (DTR, RTS, DSR, CTS), die sich lesen lassen:"
                       " keine serielle Schnittstelle für den Koppler";
        return nullptr;
    case POSIX_OPENED:
    case POSIX_FAILED:
        break;
    }
    error->words = "lässt sich nicht öffnen (Fehler " + std::to_string(code) + ")";
    error->code = "port_failed";
    return nullptr;
}

int32_t PortMismatch(ConsolePort* port) { return port->mismatch; }

LinePort PortLines(ConsolePort* port) { return PosixLinesPort(&port->posix); }

void PortClose(ConsolePort** port)
{
    if (!*port)
        return;
    LatencyTimerRestore(&(*port)->latency);
    PosixLinesClose(&(*port)->posix);
    delete *port;
    *port = nullptr;
}

std::vector<PortFound> PortList(const char* devices, const char* sysfs)
{
    std::string classes = std::string(sysfs) + "/class/tty";
    std::vector<std::string> links = Names(std::string(devices) + "/serial/by-id", Any);
    std::vector<PortFound> ports;
    for (const std::string& entry : Names(classes, Serial)) {
        std::string name = entry.substr(classes.size() + 1), device = std::string(devices) + "/" + name;
        if (!RealPort(entry, name) || access(device.c_str(), F_OK) != 0)
            continue;
        PortFound port;
        port.path = device;
        // Held by whom /proc shows ("name (PID n)"): the port itself stays untouched.
        char holder[300];
        port.busy = PosixPortHolder(device.c_str(), holder, sizeof holder);
        std::string held = port.busy ? holder : "";
        size_t pid = held.rfind(" (PID ");
        port.holderProgram = held.substr(0, pid);
        port.holderPid = pid != std::string::npos ? strtoll(held.c_str() + pid + 6, nullptr, 10) : 0;
        char target[PATH_MAX], real[PATH_MAX];
        port.ftdi = FtdiChip(entry, &port.ftdiSerial);
        for (const std::string& link : links)
            if (realpath(link.c_str(), target) && realpath(device.c_str(), real) && !strcmp(target, real))
                port.names.push_back(link);
        ports.push_back(port);
    }
    return ports;
}

std::vector<std::string> PortListLines(const std::vector<PortFound>& ports, const char* devices)
{
    std::vector<std::string> lines;
    for (const PortFound& port : ports) {
        std::string line = port.path;
        if (port.busy)
            line += " (belegt: " + port.holderProgram + " (PID " + std::to_string(port.holderPid) + "))";
        for (const std::string& name : port.names)
            line += ", auch " + name;
        if (port.ftdi)
            line += ", FTDI-Baustein" + (port.ftdiSerial.empty() ? "" : " (--ftdi " + port.ftdiSerial + ")");
        lines.push_back(line);
    }
    if (lines.empty())
        lines.push_back(std::string("Keine Schnittstelle ") + devices + "/ttyS*, ttyUSB* oder ttyACM* gefunden");
    return lines;
}

std::string PortFtdiOffer(ConsolePort* port)
{
    char real[PATH_MAX];
    std::string name = realpath(port->path.c_str(), real) ? real : port->path, serial;
    name = name.substr(name.rfind('/') + 1);
    if (!FtdiChip("/sys/class/tty/" + name, &serial))
        return "";
    return "Hinweis: der Adapter ist ein FTDI-Baustein; mit --ftdi " + (serial.empty() ? std::string("0") : serial) +
           " geht eine ganze Übertragung in wenigen USB-Paketen";
}

std::string PortLatencyHint(ConsolePort* port, double echoMs, bool* known)
{
    char late[80];
    snprintf(late, sizeof late, "Hinweis: DSR kommt %.1f ms nach DTR", echoMs);
    LatencyTimer timer;
    int ms = LatencyTimerFind("/sys", port->path.c_str(), &timer) ? LatencyTimerRead(&timer) : -1;
    *known = ms > 1;
    if (ms > 1)
        return std::string(late) + "; der Latenz-Zeitgeber des Adapters steht auf " + std::to_string(ms) +
               " ms (" + timer.path + "): --low-latency stellt ihn für den Auftrag auf 1 ms";
    return std::string(late) +
           ": der Adapter meldet den Leitungszustand spät (ein Latenz-Zeitgeber ist in /sys nicht zu sehen)";
}

bool PortLowLatency(ConsolePort* port, std::string* why)
{
    if (!LatencyTimerFind("/sys", port->path.c_str(), &port->latency)) {
        *why = "der Adapter hat keinen Latenz-Zeitgeber in /sys";
        return false;
    }
    if (!LatencyTimerSet(&port->latency, 1)) {
        *why = std::string(port->latency.path) + " lässt sich nicht schreiben (Rechte von root nötig)";
        return false;
    }
    return true;
}
