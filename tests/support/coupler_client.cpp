// Client of the virtual coupler: plain file I/O on the daemon's state file
// through Wine's Z: drive (the whole Linux file system). Wine reads and writes
// regular files through the page cache, so the daemon's and the preload
// library's mappings and this client see one another's writes at once.
#include "tests/support/coupler_client.h"

#include <windows.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

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
    if (stateFile == INVALID_HANDLE_VALUE)
        return false;
    OVERLAPPED position;
    memset(&position, 0, sizeof position);
    position.Offset = static_cast<DWORD>(offset);
    DWORD done = 0;
    BOOL ok = write ? WriteFile(stateFile, buffer, size, &done, &position)
                    : ReadFile(stateFile, buffer, size, &done, &position);
    return ok && done == size;
}

bool ReadAt(size_t offset, void* buffer, DWORD size) { return Transfer(offset, buffer, size, false); }

bool WriteAt(size_t offset, const void* buffer, DWORD size)
{
    return Transfer(offset, const_cast<void*>(buffer), size, true);
}

uint32_t ReadWord(size_t offset)
{
    uint32_t value = 0;
    return ReadAt(offset, &value, sizeof value) ? value : 0;
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
    if (!WriteAt(offsetof(CouplerState, op), head, sizeof head) ||
        !WriteAt(offsetof(CouplerState, arg), args, sizeof args))
        return false;
    if (!data.empty() && !WriteAt(offsetof(CouplerState, data), data.data(), static_cast<DWORD>(data.size())))
        return false;
    // The sequence number goes last: it tells the daemon the request is whole.
    if (!WriteAt(offsetof(CouplerState, requestSeq), &seq, sizeof seq))
        return false;
    DWORD start = GetTickCount();
    while (ReadWord(offsetof(CouplerState, ackSeq)) != seq) {
        if (GetTickCount() - start > ANSWER_TIMEOUT_MS)
            return false;
        Sleep(1);
    }
    if (ReadWord(offsetof(CouplerState, result)) != 1)
        return false;
    if (answer) {
        uint32_t length = ReadWord(offsetof(CouplerState, dataLength));
        if (length > COUPLER_DATA_MAX)
            return false;
        answer->assign(length, '\0');
        if (length && !ReadAt(offsetof(CouplerState, data), &(*answer)[0], length))
            return false;
    }
    return true;
}

bool ReadPort(int com, CouplerPort* port)
{
    if (com < 1 || com > COUPLER_MAX_PORTS)
        return false;
    // The record up to its history: the client reads no model.
    return ReadAt(offsetof(CouplerState, ports) + (com - 1) * sizeof(CouplerPort), port,
                  offsetof(CouplerPort, history)) &&
           port->exists;
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
    for (char& c : windowsPath)
        if (c == '/')
            c = '\\';
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

bool CouplerClearInputs(int com) { return Request(COUPLER_OP_CLEAR_INPUTS, com); }

bool CouplerSetFault(int com, CouplerFaultKind fault, int delayMs)
{
    return Request(COUPLER_OP_FAULT, com, fault, delayMs);
}

int CouplerDtr(int com)
{
    CouplerPort port;
    return ReadPort(com, &port) ? (port.lines & COUPLER_LINE_DTR ? 1 : 0) : -1;
}

int CouplerRts(int com)
{
    CouplerPort port;
    return ReadPort(com, &port) ? (port.lines & COUPLER_LINE_RTS ? 1 : 0) : -1;
}

int64_t CouplerLineChangeCount(int com)
{
    CouplerPort port;
    return ReadPort(com, &port) ? static_cast<int64_t>(port.lines >> COUPLER_LINE_COUNT_SHIFT) : -1;
}

int64_t CouplerLastLineChange(int com)
{
    CouplerPort port;
    return ReadPort(com, &port) ? port.lastChange : -1;
}

int64_t CouplerCloseCount(int com)
{
    CouplerPort port;
    return ReadPort(com, &port) ? static_cast<int64_t>(port.closes) : -1;
}

int CouplerLinesAtClose(int com)
{
    CouplerPort port;
    return ReadPort(com, &port) ? static_cast<int>(port.linesAtClose & 3) : -1;
}

bool CouplerLineSettings(int com, CouplerLine* line)
{
    std::string answer;
    CouplerTermios settings;
    if (!Request(COUPLER_OP_LINE_SETTINGS, com, 0, 0, 0, std::string(), &answer) ||
        answer.size() != sizeof settings)
        return false;
    memcpy(&settings, answer.data(), sizeof settings);
    line->baud = settings.baud;
    line->dataBits = settings.dataBits;
    line->parity = static_cast<char>(settings.parity);
    line->stopBits = settings.stopBits;
    line->rtsCts = settings.rtsCts != 0;
    line->xonOutput = settings.xonOutput != 0;
    line->xonInput = settings.xonInput != 0;
    return true;
}

bool CouplerWriteToProgram(int com, const std::string& bytes)
{
    return Request(COUPLER_OP_WRITE, com, static_cast<int32_t>(bytes.size()), 0, 0, bytes);
}

std::string CouplerReadFromProgram(int com)
{
    std::string answer;
    return Request(COUPLER_OP_READ, com, 0, 0, 0, std::string(), &answer) ? answer : std::string();
}

bool CouplerSetAdapter(int com, int delay, int cost, bool kept)
{
    return Request(COUPLER_OP_ADAPTER, com, delay, cost, kept);
}

int64_t CouplerLineRequests(int com)
{
    CouplerPort port;
    return ReadPort(com, &port) ? static_cast<int64_t>(port.lineRequests) : -1;
}

bool CouplerVanishAfter(int com, int requests) { return Request(COUPLER_OP_VANISH_AFTER, com, requests); }
bool CouplerSetChips(int com, unsigned chips) { return CouplerPowerUpChips(com, chips, 0xFF); }
bool CouplerPowerUpChips(int com, unsigned chips, int inputs)
{
    return Request(COUPLER_OP_CHIPS, com, int32_t(chips), inputs);
}
bool CouplerSetBusFault(int com, CouplerBusFaultKind f) { return Request(COUPLER_OP_BUS_FAULT, com, f); }
bool CouplerSetSdaLowLater(int com, int changes, int ms) { return Request(COUPLER_OP_SDA_LOW_LATER, com, changes, ms); }

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
    size_t offset = 0;
    do {
        std::string part = bytes.substr(offset, COUPLER_DATA_MAX);
        if (!Request(COUPLER_OP_SET_EEPROM, com, static_cast<int32_t>(part.size()), static_cast<int32_t>(offset),
                     static_cast<int32_t>(bytes.size()), part))
            return false;
        offset += part.size();
    } while (offset < bytes.size());
    return true;
}

bool CouplerSetEepromType(int com, const char* type)
{
    std::string name = type ? type : "";
    return Request(COUPLER_OP_EEPROM_TYPE, com, static_cast<int32_t>(name.size()), 0, 0, name);
}

bool CouplerSetEepromFile(int com, const std::string& path)
{
    return Request(COUPLER_OP_EEPROM_FILE, com, static_cast<int32_t>(path.size()), 0, 0, path);
}

bool CouplerTrace(int com, const std::string& path)
{
    return Request(COUPLER_OP_TRACE, com, static_cast<int32_t>(path.size()), 0, 0, path);
}

bool CouplerSetWriteProtectMode(int com, CouplerWriteProtectKind mode)
{
    return Request(COUPLER_OP_WRITE_PROTECT, com, mode);
}
bool CouplerSetWriteProtect(int com, bool on) { return CouplerSetWriteProtectMode(com, on ? WP_ACK : WP_OFF); }
bool CouplerHoldPortLock(int com, bool held) { return Request(COUPLER_OP_LOCK_HOLDER, com, held); }
bool CouplerSetExpanderInputs(int com, int inputs) { return Request(COUPLER_OP_EXPANDER, com, inputs); }
bool CouplerSetTemperature(int com, int half) { return Request(COUPLER_OP_TEMPERATURE, com, half); }
bool CouplerSetSensorInterrupt(int com, bool wired) { return Request(COUPLER_OP_SENSOR_INT, com, wired); }

std::string CouplerBusLog(int com)
{
    std::string answer;
    return Request(COUPLER_OP_BUS_LOG, com, 0, 0, 0, std::string(), &answer) ? answer : std::string();
}
