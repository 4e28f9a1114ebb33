// Serial line access over the Windows communications API. No state of its own:
// everything lives in the caller's handle and in the port driver.
#include "serial/serial.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

// Handshake modes of SerialOpen.
constexpr int32_t HANDSHAKE_NONE = 0;
constexpr int32_t HANDSHAKE_RTS_ON = 1;
constexpr int32_t HANDSHAKE_RTS_CTS = 2;
constexpr int32_t HANDSHAKE_XON_XOFF = 3;

// Read time-outs in milliseconds: a read ends when the bytes have come, after
// 100 ms of silence between two bytes, or after 100 + 10 per byte requested.
constexpr DWORD READ_INTERVAL_TIMEOUT = 100;
constexpr DWORD READ_TOTAL_MULTIPLIER = 10;
constexpr DWORD READ_TOTAL_CONSTANT = 100;

HANDLE ToHandle(int32_t handle)
{
    // Handles are 32-bit values; -1 widens back to INVALID_HANDLE_VALUE.
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}

// The device a settings string names: "com" and its digits, in any case, ahead
// of ':', a blank or the end ("com3:9600,n,8,1", "COM12 baud=9600 ..."),
// numbered 1 to 255 without a leading zero: "com0" and "com01" are no device. An
// empty text means the string names no serial device; the caller then must not
// open anything, or a stray file of that name would be opened instead.
// com1 to com9 open by their plain name; com10 and above need the "\\.\"
// device namespace, since the plain name is only understood for the first nine.
std::string DeviceName(const char* settings)
{
    if (_strnicmp(settings, "com", 3) != 0)
        return std::string();
    size_t end = 3;
    while (settings[end] >= '0' && settings[end] <= '9')
        ++end;
    char next = settings[end];
    if (end == 3 || (next != ':' && next != ' ' && next != '\0') || settings[3] == '0' || end > 6 ||
        atoi(settings + 3) > 255)
        return std::string();
    std::string name(settings, end);
    return end == 4 ? name : "\\\\.\\" + name;
}

void ApplyHandshake(DCB* dcb, int32_t handshake)
{
    switch (handshake) {
    case HANDSHAKE_NONE:
        dcb->fRtsControl = RTS_CONTROL_DISABLE;
        dcb->fOutxCtsFlow = 0;
        break;
    case HANDSHAKE_RTS_ON:
        dcb->fRtsControl = RTS_CONTROL_ENABLE;
        dcb->fOutxCtsFlow = 0;
        break;
    case HANDSHAKE_RTS_CTS:
        dcb->fRtsControl = RTS_CONTROL_HANDSHAKE;
        dcb->fOutxCtsFlow = 1;
        break;
    case HANDSHAKE_XON_XOFF:
        dcb->fOutX = 1;
        dcb->fInX = 1;
        break;
    default:
        break;  // flow control as the port and the string left it
    }
}

int32_t SampleModemLine(int32_t handle, DWORD bit)
{
    DWORD status = 0;
    if (!GetCommModemStatus(ToHandle(handle), &status))
        return 0;
    return (status & bit) == bit ? 1 : 0;
}

// Flow control that takes a modem line away from the caller: a line under
// handshake cannot be switched, and the driver says so only by doing nothing.
// Compared as handshake or not, since drivers report an enabled line as the
// line's present level (Wine reads DTR and RTS back from the device).
uint32_t FlowControl(const DCB& dcb)
{
    return (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE ? 1u : 0u) |
           (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE ? 2u : 0u) | (dcb.fOutxCtsFlow ? 4u : 0u) |
           (dcb.fOutxDsrFlow ? 8u : 0u) | (dcb.fOutX ? 16u : 0u) | (dcb.fInX ? 32u : 0u);
}

COMSTAT QueueStatus(int32_t handle)
{
    DWORD errors = 0;
    COMSTAT status;
    memset(&status, 0, sizeof status);
    if (!ClearCommError(ToHandle(handle), &errors, &status))
        memset(&status, 0, sizeof status);
    return status;
}

}  // namespace

int32_t SerialOpen(const char* settings, int32_t handshake, int32_t inputQueueSize, int32_t outputQueueSize)
{
    std::string device = DeviceName(settings);
    if (device.empty())
        return -1;
    HANDLE port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    int32_t result = static_cast<int32_t>(reinterpret_cast<intptr_t>(port));
    if (port == INVALID_HANDLE_VALUE)
        return -1;

    if (inputQueueSize > 0 && outputQueueSize > 0)
        SetupComm(port, static_cast<DWORD>(inputQueueSize), static_cast<DWORD>(outputQueueSize));

    // A failed step leaves the port configured as far as it got; the caller
    // still owns the open handle.
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb))
        return result;
    if (!BuildCommDCBA(settings, &dcb))
        return result;
    ApplyHandshake(&dcb, handshake);
    if (!SetCommState(port, &dcb))
        return result;

    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = READ_INTERVAL_TIMEOUT;
    timeouts.ReadTotalTimeoutMultiplier = READ_TOTAL_MULTIPLIER;
    timeouts.ReadTotalTimeoutConstant = READ_TOTAL_CONSTANT;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    SetCommTimeouts(port, &timeouts);
    return result;
}

int32_t SerialClose(int32_t handle) { return CloseHandle(ToHandle(handle)) ? 1 : 0; }

int32_t SerialSetDtr(int32_t handle, int32_t state)
{
    return EscapeCommFunction(ToHandle(handle), state == 0 ? CLRDTR : SETDTR) ? 1 : 0;
}

int32_t SerialSetRts(int32_t handle, int32_t state)
{
    return EscapeCommFunction(ToHandle(handle), state == 0 ? CLRRTS : SETRTS) ? 1 : 0;
}

int32_t SerialGetCts(int32_t handle) { return SampleModemLine(handle, MS_CTS_ON); }
int32_t SerialGetDsr(int32_t handle) { return SampleModemLine(handle, MS_DSR_ON); }
int32_t SerialGetDcd(int32_t handle) { return SampleModemLine(handle, MS_RLSD_ON); }

int32_t SerialModemStatus(int32_t handle)
{
    DWORD status = 0;
    if (!GetCommModemStatus(ToHandle(handle), &status))
        return -1;
    return static_cast<int32_t>(status & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON));
}

int32_t SerialSettingsMismatch(int32_t handle, const char* settings, int32_t handshake)
{
    DCB held, wanted;
    memset(&held, 0, sizeof held);
    held.DCBlength = sizeof held;
    if (!GetCommState(ToHandle(handle), &held))
        return -1;
    // What the open would have written, built on what the port holds now.
    wanted = held;
    if (!BuildCommDCBA(settings, &wanted))
        return -1;
    ApplyHandshake(&wanted, handshake);
    int32_t mismatch = 0;
    if (held.BaudRate != wanted.BaudRate)
        mismatch |= SETTINGS_BAUD;
    if (held.ByteSize != wanted.ByteSize || held.Parity != wanted.Parity || held.StopBits != wanted.StopBits)
        mismatch |= SETTINGS_FRAME;
    if (FlowControl(held) != FlowControl(wanted))
        mismatch |= SETTINGS_HANDSHAKE;
    return mismatch;
}

uint32_t SerialInputCount(int32_t handle) { return QueueStatus(handle).cbInQue; }
uint32_t SerialOutputCount(int32_t handle) { return QueueStatus(handle).cbOutQue; }

int32_t SerialWriteString(int32_t handle, const char* text)
{
    return SerialWriteBlock(handle, text, static_cast<uint32_t>(strlen(text)));
}

int32_t SerialWriteBlock(int32_t handle, const void* buffer, uint32_t count)
{
    DWORD written = 0;
    return WriteFile(ToHandle(handle), buffer, count, &written, nullptr) ? 1 : 0;
}

int32_t SerialReadByte(int32_t handle, void* buffer) { return SerialReadBytes(handle, buffer, 1); }

int32_t SerialReadBytes(int32_t handle, void* buffer, uint32_t count)
{
    DWORD received = 0;
    return ReadFile(ToHandle(handle), buffer, count, &received, nullptr) ? 1 : 0;
}

int32_t SerialReadBlock(int32_t handle, void* buffer, uint32_t count)
{
    return SerialReadBytes(handle, buffer, count);
}
