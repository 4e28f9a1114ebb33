// Client of the virtual coupler: plain file I/O on the daemon's state file
// through Wine's Z: drive (the whole Linux file system). Wine reads and writes
// regular files through the page cache, so the daemon's and the preload
// library's mappings and this client see one another's writes at once.
#include "tools/virtual-coupler/coupler_client.h"

#include <windows.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "tools/virtual-coupler/coupler_state.h"

static_assert(+FAULT_SDA_STUCK_LOW == +COUPLER_FAULT_SDA_LOW && +FAULT_SDA_NOT_WIRED == +COUPLER_FAULT_NO_READBACK &&
                  +FAULT_SLOW_SDA == +COUPLER_FAULT_SLOW_SDA,
              "the client's fault numbers are the state file's");
static_assert(+BUS_STUCK_SLAVE_9 == +BUS_FAULT_STUCK_SLAVE_9 && +BUS_SDA_LOW_LATER == +BUS_FAULT_SDA_LOW_LATER &&
                  +WP_REFUSE == +BUS_WP_REFUSE,
              "the client's bus numbers are the bus's");

namespace {

// The open state file, or INVALID_HANDLE_VALUE. Opened by CouplerAttach,
// closed by CouplerDetach; lives for the test process otherwise.
HANDLE stateFile = INVALID_HANDLE_VALUE;

// A request is answered within a few milliseconds; this bounds a dead daemon.
constexpr DWORD ANSWER_TIMEOUT_MS = 3000;

// Reads or writes size bytes at offset of the state file.
bool Transfer(size_t offset, void* buffer, DWORD size, bool write)
{
    OVERLAPPED position = {};
    position.Offset = static_cast<DWORD>(offset);
    DWORD done = 0;
    return stateFile != INVALID_HANDLE_VALUE &&
           (write ? WriteFile(stateFile, buffer, size, &done, &position)
                  : ReadFile(stateFile, buffer, size, &done, &position)) && done == size;
}

bool WriteAt(size_t offset, const void* buffer, DWORD size)
{
    return Transfer(offset, const_cast<void*>(buffer), size, true);
}

uint32_t ReadWord(size_t offset)
{
    uint32_t value = 0;
    return Transfer(offset, &value, sizeof value, false) ? value : 0;
}

// Places one request and waits for the daemon's answer. answer (optional)
// receives the answer's data.
bool Request(uint32_t op, int com, int32_t a0 = 0, int32_t a1 = 0, int32_t a2 = 0,
             const std::string& data = std::string(), std::string* answer = nullptr)
{
    if (data.size() > COUPLER_DATA_MAX)
        return false;
    uint32_t seq = ReadWord(offsetof(CouplerState, ackSeq)) + 1;
    const int32_t args[4] = {a0, a1, a2, 0};
    const uint32_t head[2] = {op, static_cast<uint32_t>(com)};
    // The sequence number goes last: it tells the daemon the request is whole.
    if (!WriteAt(offsetof(CouplerState, op), head, sizeof head) ||
        !WriteAt(offsetof(CouplerState, arg), args, sizeof args) ||
        (!data.empty() && !WriteAt(offsetof(CouplerState, data), data.data(), static_cast<DWORD>(data.size()))) ||
        !WriteAt(offsetof(CouplerState, requestSeq), &seq, sizeof seq))
        return false;
    for (DWORD start = GetTickCount(); ReadWord(offsetof(CouplerState, ackSeq)) != seq; Sleep(1))
        if (GetTickCount() - start > ANSWER_TIMEOUT_MS)
            return false;
    uint32_t length = answer ? ReadWord(offsetof(CouplerState, dataLength)) : 0;
    if (ReadWord(offsetof(CouplerState, result)) != 1 || length > COUPLER_DATA_MAX)
        return false;
    if (answer)
        answer->assign(length, '\0');
    return !length || Transfer(offsetof(CouplerState, data), &(*answer)[0], length, false);
}

bool ReadPort(int com, CouplerPort* port)
{
    if (com < 1 || com > COUPLER_MAX_PORTS)
        return false;
    // The record up to its history: the client reads no model.
    return Transfer(offsetof(CouplerState, ports) + (com - 1) * sizeof(CouplerPort), port,
                    offsetof(CouplerPort, history), false) &&
           port->exists;
}

// A figure of the port's record, or -1 when the port cannot be read.
template <typename Figure>
int64_t Read(int com, Figure figure)
{
    CouplerPort port;
    return ReadPort(com, &port) ? static_cast<int64_t>(figure(port)) : -1;
}

// A request whose data is a text.
bool RequestText(uint32_t op, int com, const std::string& text)
{
    return Request(op, com, static_cast<int32_t>(text.size()), 0, 0, text);
}

}  // namespace

bool CouplerAttach()
{
    if (stateFile != INVALID_HANDLE_VALUE)
        return true;
    const char* path = getenv("COUPLER_STATE");
    if (!path || path[0] != '/')
        return false;
    // Z: is Wine's view of the Linux root.
    std::string windowsPath = std::string("Z:") + path;
    std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
    stateFile = CreateFileA(windowsPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (stateFile == INVALID_HANDLE_VALUE)
        return false;
    if (ReadWord(offsetof(CouplerState, magic)) != COUPLER_MAGIC ||
        ReadWord(offsetof(CouplerState, version)) != COUPLER_VERSION) {
        CouplerDetach();
        return false;
    }
    return true;
}

void CouplerDetach()
{
    if (stateFile != INVALID_HANDLE_VALUE)
        CloseHandle(stateFile);
    stateFile = INVALID_HANDLE_VALUE;
}

bool CouplerReset() { return Request(COUPLER_OP_RESET, 0); }
bool CouplerPortPresent(int com, bool present) { return Request(COUPLER_OP_PRESENT, com, present); }
bool CouplerPortBusy(int com, bool busy) { return Request(COUPLER_OP_BUSY, com, busy); }
bool CouplerPortVanish(int com, bool vanished) { return Request(COUPLER_OP_VANISH, com, vanished); }
bool CouplerHoldSda(int com, bool held) { return Request(COUPLER_OP_HOLD_SDA, com, held); }
bool CouplerPullInt(int com, bool pulled) { return Request(COUPLER_OP_PULL_INT, com, pulled); }

bool CouplerSetInputs(int com, bool dsr, bool cts, bool dcd)
{
    return Request(COUPLER_OP_SET_INPUTS, com, dsr, cts, dcd);
}
bool CouplerSetFault(int com, CouplerFaultKind fault, int ms) { return Request(COUPLER_OP_FAULT, com, fault, ms); }

int CouplerDtr(int com) { return int(Read(com, [](auto& p) { return (p.lines & COUPLER_LINE_DTR) != 0; })); }
int CouplerRts(int com) { return int(Read(com, [](auto& p) { return (p.lines & COUPLER_LINE_RTS) != 0; })); }
int64_t CouplerLineChangeCount(int com)
{
    return Read(com, [](auto& p) { return p.lines >> COUPLER_LINE_COUNT_SHIFT; });
}
int64_t CouplerLastLineChange(int com) { return Read(com, [](auto& p) { return p.lastChange; }); }
int64_t CouplerCloseCount(int com) { return Read(com, [](auto& p) { return p.closes; }); }
int CouplerLinesAtClose(int com) { return int(Read(com, [](auto& p) { return p.linesAtClose & 3; })); }
int64_t CouplerLineRequests(int com) { return Read(com, [](auto& p) { return p.lineRequests; }); }

bool CouplerLineSettings(int com, CouplerLine* line)
{
    std::string answer;
    CouplerTermios settings;
    if (!Request(COUPLER_OP_LINE_SETTINGS, com, 0, 0, 0, "", &answer) || answer.size() != sizeof settings)
        return false;
    memcpy(&settings, answer.data(), sizeof settings);
    *line = {settings.baud, settings.dataBits, static_cast<char>(settings.parity), settings.stopBits,
             settings.rtsCts != 0, settings.xonOutput != 0, settings.xonInput != 0};
    return true;
}

bool CouplerWriteToProgram(int com, const std::string& text) { return RequestText(COUPLER_OP_WRITE, com, text); }
std::string CouplerReadFromProgram(int com)
{
    std::string answer;
    return Request(COUPLER_OP_READ, com, 0, 0, 0, "", &answer) ? answer : "";
}

bool CouplerSetAdapter(int com, int late, int cost, bool kept)
{
    return Request(COUPLER_OP_ADAPTER, com, late, cost, kept);
}
bool CouplerVanishAfter(int com, int requests) { return Request(COUPLER_OP_VANISH_AFTER, com, requests); }
bool CouplerSetChips(int com, unsigned chips) { return CouplerPowerUpChips(com, chips, 0xFF); }
bool CouplerPowerUpChips(int com, unsigned chips, int in) { return Request(COUPLER_OP_CHIPS, com, int32_t(chips), in); }
bool CouplerSetBusFault(int com, CouplerBusFaultKind f) { return Request(COUPLER_OP_BUS_FAULT, com, f); }
bool CouplerSetSdaLowLater(int com, int changes, int ms)
{
    return Request(COUPLER_OP_SDA_LOW_LATER, com, changes, ms);
}

// The array in parts of at most COUPLER_DATA_MAX bytes: a short part is the last.
bool CouplerEeprom(int com, std::string* to)
{
    to->clear();
    for (std::string part(COUPLER_DATA_MAX, '\0'); part.size() == COUPLER_DATA_MAX; *to += part)
        if (!Request(COUPLER_OP_EEPROM, com, static_cast<int32_t>(to->size()), 0, 0, "", &part))
            return false;
    return true;
}

bool CouplerSetEeprom(int com, const std::string& bytes)
{
    for (size_t at = 0; at == 0 || at < bytes.size(); at += COUPLER_DATA_MAX) {
        std::string part = bytes.substr(at, COUPLER_DATA_MAX);
        if (!Request(COUPLER_OP_SET_EEPROM, com, int32_t(part.size()), int32_t(at), int32_t(bytes.size()), part))
            return false;
    }
    return true;
}

bool CouplerSetEepromType(int com, const char* type)
{
    return RequestText(COUPLER_OP_EEPROM_TYPE, com, type ? type : "");
}
bool CouplerSetEepromFile(int com, const std::string& file) { return RequestText(COUPLER_OP_EEPROM_FILE, com, file); }
bool CouplerTrace(int com, const std::string& path) { return RequestText(COUPLER_OP_TRACE, com, path); }

bool CouplerSetWriteProtectMode(int com, CouplerWriteProtectKind m)
{
    return Request(COUPLER_OP_WRITE_PROTECT, com, m);
}
bool CouplerSetWriteProtect(int com, bool on) { return CouplerSetWriteProtectMode(com, on ? WP_ACK : WP_OFF); }
bool CouplerHoldPortLock(int com, bool held) { return Request(COUPLER_OP_LOCK_HOLDER, com, held); }
bool CouplerSetExpanderInputs(int com, int inputs) { return Request(COUPLER_OP_EXPANDER, com, inputs); }
bool CouplerSetTemperature(int com, int half) { return Request(COUPLER_OP_TEMPERATURE, com, half); }
bool CouplerSetSensorInterrupt(int com, bool wired) { return Request(COUPLER_OP_SENSOR_INT, com, wired); }

std::string CouplerBusLog(int com)
{
    std::string answer;
    return Request(COUPLER_OP_BUS_LOG, com, 0, 0, 0, "", &answer) ? answer : "";
}
