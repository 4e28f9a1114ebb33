// Client of the virtual coupler for the tests and the benchmarks (under Wine,
// and natively through tools/support/posix/windows.h).
//
// The bench runs a daemon on the Linux side that makes pseudo-terminals look
// like serial ports COM1 to COM20 with a coupler attached (SDA on DTR and read
// back on DSR, SCL on RTS, INT on CTS). This client reaches it through its
// state file, whose Linux path the bench puts in COUPLER_STATE. Every port
// starts absent; a test makes the ports it needs present.
//
// One client at a time: the requests share one channel in the state file.
#pragma once

#include <stdint.h>

#include <string>

// Opens the state file; false when no virtual coupler runs (then every other
// call fails or answers -1/empty). Safe to call again.
bool CouplerAttach();
void CouplerDetach();

// Every port absent, every fault and model input off, pending bytes dropped.
bool CouplerReset();

// Port faults and presence. A busy port refuses new opens (held elsewhere); a
// vanished one fails every line request on handles already open and refuses
// new opens, until it comes back.
bool CouplerPortPresent(int com, bool present);
bool CouplerPortBusy(int com, bool busy);
bool CouplerPortVanish(int com, bool vanished);

// The coupler model: a slave holding SDA at ground makes DSR read off whatever
// DTR is; INT pulled to ground makes CTS read on.
bool CouplerHoldSda(int com, bool held);
bool CouplerPullInt(int com, bool pulled);
// Sets DSR, CTS and DCD directly, past the model, until CouplerReset.
bool CouplerSetInputs(int com, bool dsr, bool cts, bool dcd);

// Coupler faults, one at a time per port (CouplerReset clears it). The names
// are those of the daemon's --fault option.
enum CouplerFaultKind {
    FAULT_NONE = 0,
    FAULT_SDA_STUCK_LOW = 1,   // DSR always off
    FAULT_SDA_STUCK_HIGH = 2,  // DSR always on
    FAULT_SDA_NOT_WIRED = 3,   // read-back not wired: DSR always off
    FAULT_SCL_LEAK = 4,        // DSR inverted for 5 ms, delayMs after every RTS change
    FAULT_INT_STUCK_LOW = 5,   // CTS always on
    FAULT_SLOW_SDA = 6         // DSR takes a DTR level once DTR has held it delayMs
};
bool CouplerSetFault(int com, CouplerFaultKind fault, int delayMs = 0);

// The output lines as the program last set them: 1 on, 0 off, -1 unknown.
int CouplerDtr(int com);
int CouplerRts(int com);
// DTR/RTS changes so far, and the time of the last one in
// QueryPerformanceCounter ticks (the same clock under Wine); -1 when unknown.
int64_t CouplerLineChangeCount(int com);
int64_t CouplerLastLineChange(int com);
// A serial driver drops DTR and RTS when the last handle to the port closes,
// and so does the virtual coupler: CouplerDtr and CouplerRts read 0 once the
// program has closed the port or ended. CouplerCloseCount counts those
// closes (-1 unknown); CouplerLinesAtClose gives the lines as the program
// left them just before the last one (bit 0 DTR, bit 1 RTS; -1 unknown).
int64_t CouplerCloseCount(int com);
int CouplerLinesAtClose(int com);

// The port's line settings as the program configured them.
struct CouplerLine {
    uint32_t baud;
    uint32_t dataBits;
    char parity;         // 'n', 'e' or 'o'
    uint32_t stopBits;
    bool rtsCts;         // hardware handshake
    bool xonOutput;      // output stops on XOFF
    bool xonInput;       // XOFF sent when input fills
};
bool CouplerLineSettings(int com, CouplerLine* line);

// Adapter models, per port, cleared by CouplerReset: DSR, CTS and DCD read as they were statusDelayMs
// ago (as USB adapters report modem status late); every line request (switch or sample) takes requestCostMs;
// a driver that keeps the RTS/CTS handshake on whatever the program sets (left so by another program).
bool CouplerSetAdapter(int com, int statusDelayMs, int requestCostMs, bool handshakeKept = false);
int64_t CouplerLineRequests(int com);  // switches and samples of the lines the program asked for
// The adapter is pulled once the program has made `requests` more line requests (0: at once): the
// next request and every later one fails, new opens fail (as CouplerPortVanish(com, true)).
bool CouplerVanishAfter(int com, int requests);

// The I2C bus behind the coupler (all off after CouplerReset; the bench starts
// with none). Chips: a 24C EEPROM at 0x50 (a 24C02 unless chosen), 8-bit port at 0x20, temperature
// sensor at 0x48.
enum CouplerChipBits { CHIP_EEPROM = 1, CHIP_EXPANDER = 2, CHIP_SENSOR = 4 };
bool CouplerSetChips(int com, unsigned chips);  // switches chips on at their power-up state
// The same with the expander's pins driven to expanderInputs (0..255) from before the power-up: INT is
// active from the start while a pin is low (the interrupt compares the pins with the power-up latch 0xFF).
bool CouplerPowerUpChips(int com, unsigned chips, int expanderInputs);
// One bus fault at a time (it clears the coupler's fault). BUS_STUCK_SLAVE_9 needs nine clocks to free;
// BUS_SDA_LOW_LATER set here holds SDA low at once (CouplerSetSdaLowLater arms it for later).
enum CouplerBusFaultKind {
    BUS_OK, BUS_STUCK_SLAVE, BUS_NO_ACK, BUS_NO_PULLUP, BUS_SCL_TIMEOUT, BUS_STUCK_SLAVE_9, BUS_SDA_LOW_LATER
};
bool CouplerSetBusFault(int com, CouplerBusFaultKind fault);
// SDA goes to ground for good mid-job: after `changes` more DTR/RTS changes of the program (-1: not
// counted), or `ms` milliseconds from now (0: not timed), whichever comes first.
bool CouplerSetSdaLowLater(int com, int changes, int ms);
bool CouplerEeprom(int com, std::string* bytes);           // the EEPROM's whole array
bool CouplerSetEeprom(int com, const std::string& bytes);  // refused unless of the chip's size
// A new EEPROM of the 24C type named ("24c16", "24C256"; 24c01 to 24c512) in the old one's place, the bus
// powered up with it on and the other chips as they were; erased unless its file fits it. CouplerReset
// puts the daemon's own type back (a 24C02 on the bench).
bool CouplerSetEepromType(int com, const char* type);
// The EEPROM's file from now on (a Linux path; "" none), loaded at once: a file of the chip's size is
// its content, and changes go back to it; one of another size is refused (a line on the daemon's
// standard error), the chip erased and the file left alone. CouplerReset puts the daemon's own back.
bool CouplerSetEepromFile(int com, const std::string& linuxPath);
// The daemon writes the bus's trace into the file (a Linux path) from now on: a value change dump of
// SCL, SDA, DTR and each chip pulling SDA low. "" ends it, and the file is then complete.
bool CouplerTrace(int com, const std::string& linuxPath);
// The EEPROM's WP input high, as makers differ: WP_ACK acknowledges everything and writes nothing,
// WP_REFUSE does not acknowledge the data bytes after the word address. CouplerSetWriteProtect(com,
// true) is WP_ACK.
enum CouplerWriteProtectKind { WP_OFF, WP_ACK, WP_REFUSE };
bool CouplerSetWriteProtectMode(int com, CouplerWriteProtectKind mode);
bool CouplerSetWriteProtect(int com, bool on);
bool CouplerSetExpanderInputs(int com, int inputs);   // levels the outside world drives, 0..255
bool CouplerSetTemperature(int com, int halfDegrees);  // 43 = 21.5 degC, -11 = -5.5 degC
bool CouplerSetSensorInterrupt(int com, bool wired);   // sensor's O.S. output wired to INT
// Decoded transfers since the last call, one line each: "S 50 W A 00 A Sr 50 R A FF N P\n"; "~" where
// one line request changed SDA and SCL together (a line of its own outside a transfer).
std::string CouplerBusLog(int com);

// A process takes the port's lock and keeps it (held true) until it is killed (held false); while it
// holds it, every line request on the port fails after the coupler's bounded wait (half a second).
bool CouplerHoldPortLock(int com, bool held);

// Bytes that arrive at the program reading the port, and the bytes the
// program wrote since the last call.
bool CouplerWriteToProgram(int com, const std::string& bytes);
std::string CouplerReadFromProgram(int com);
