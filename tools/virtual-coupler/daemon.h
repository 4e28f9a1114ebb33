// The virtual coupler daemon's modules and what they share.
//
//   daemon.cpp         options, the state file, start, the main loop, stop
//   daemon_ptys.cpp    pseudo-terminals as COM ports: links, locks, bytes, closes
//   daemon_server.cpp  changes of the model and the bus, the client's requests
//   daemon_view.cpp    the live view and its keys (--interactive)
//   daemon_trace.cpp   the bus's trace as a value change dump (--trace)
//
// One thread. Every read or change of a port's record or bus is made inside
// one PortGuard, which takes the port's lock and then the bus's (model.h).
#pragma once

#include <signal.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "faults.h"
#include "model.h"

// An adapter model: status delay, cost per line request, and a driver that
// keeps the RTS/CTS handshake on whatever the program sets; with jitter, each
// sample's delay drawn up to delayMaxMs and each request's cost up to
// costMaxMs (not above the lower end: none).
struct Adapter {
    uint32_t delayMs, costMs, handshakeKept, delayMaxMs, costMaxMs;
};

struct Options {
    std::string statePath;     // --state: the state file
    std::string prefix;        // --prefix: the Wine prefix whose links are set
    std::string absentDir;     // --absent: where an absent port points
    std::vector<int> ports;    // --ports: COM numbers to create
    bool present = false;      // --present: map the ports at start
    bool registry = false;     // --registry: also set the prefix's Ports values
    bool interactive = false;  // --interactive: live view and keys
    uint32_t fault = 0;        // --fault: every port starts with it, an index of FAULT_NAMES
    uint32_t slowSdaMs = 80;   // --fault slow-sda:MS, also for the live key
    uint32_t sclLeakMs = 0;    // --fault scl-leak:MS, also for the live key
    int32_t laterChanges = 0;  // --fault sda-low-later:N, line changes before SDA goes low (-1 none)
    uint32_t laterMs = 0;      // --fault sda-low-later:Nms, milliseconds before it does (0 none)
    Adapter adapter = {0, 0, 0, 0, 0};  // --adapter DELAY[-MAX][,COST[-MAX]][,rtscts]
    Adapter keyAdapter = {16, 1, 0, 0, 0};  // the adapter the live key switches on
    uint32_t chips = 0;        // --chips: BUS_CHIP_* switched on at start
    uint32_t eepromType = BUS_EEPROM_24C02;  // --chips eeprom=TYPE: a BusEepromType
    uint32_t inputs = 0xFF;    // --inputs: the expander's pins as the outside world drives them at power-up
    uint32_t writeProtect = 0; // --write-protect: a BusWriteProtect
    int32_t temperature = 43;  // --temperature: the sensor's in half degrees, 21.5 degC as at power-up
    std::string eepromPath;    // --eeprom: the EEPROM's file, "%d" standing for the COM number
    std::string tracePath;     // --trace: each bus's value change dump, "%d" standing for the COM number
};

// Per-port things that do not belong in the state file.
struct Port {
    int com = 0;
    int master = -1;            // pty master, open for the daemon's life
    int watch = -1;             // inotify watch on the pty's slave device
    std::string fromProgram;    // bytes the program wrote, not yet fetched
    uint32_t shownChanges = 0;  // line change count last shown (interactive)
    int openCount = 0;          // opens of the slave not yet closed, as the daemon knows them
    int64_t closedAt = 0;       // time of a last close still waiting for its hang-up, 0 none
    bool hangUpUnsure = false;  // an open was refused (locked pty): the master shows no hang-up
                                // at the next close, until an open succeeds again
    uint32_t seenLines = 0;     // the lines word at the last look (before the latest close)
    uint32_t seenRequests = 0;  // the line requests made by then
    bool locked = false;        // the pty is locked against new opens
    uint32_t viewLogRead = 0;   // bus log position of the live view
    uint32_t clientLogRead = 0; // bus log position of the client's requests
    std::string viewLogLine;    // a transfer the live view has not seen end yet
    std::string eepromPath;     // the EEPROM's file, empty when none
    std::vector<uint8_t> eepromSaved;  // the content the file holds
    bool eepromRefused = false; // the file's size is not the chip's: neither loaded nor written
    // The trace (daemon_trace.cpp): the open dump, owned here from StartTrace
    // to StopTrace, which closes it and resets these.
    FILE* trace = nullptr;
    std::string tracePath;      // its file
    uint32_t traceRead = 0;     // position in the bus's trace ring
    uint32_t traceSignals = 0;  // BUS_TRACE_* as last written
    int64_t traceStart = 0;     // time 0 of the dump, in state-file time units
    int64_t traceLastUs = 0;    // the dump's latest timestamp
};

// Module-wide state. Each is defined once, in the module named beside it.
extern Options options;        // daemon.cpp: parsed at start, read-only afterwards
extern CouplerState* state;    // daemon.cpp: the mapped state file, from CreateState to Shutdown
extern int stateFd;            // daemon.cpp: the daemon's own descriptor of the state file (its locks)
extern std::vector<Port> ports;  // daemon_ptys.cpp: one per COM number, built at start, kept to the end
extern volatile sig_atomic_t stopRequested;  // daemon.cpp: set by a signal or the q key


// The port's lock, then the bus's, for one scope (ModelLock): `held` is false
// when a holder kept them past the wait, and the caller then changes nothing.
struct PortGuard {
    explicit PortGuard(const Port& port);
    ~PortGuard();
    PortGuard(const PortGuard&) = delete;
    PortGuard& operator=(const PortGuard&) = delete;
    CouplerPort& record;
    CouplerBus& bus;
    const int slot;
    const bool held;
};

inline CouplerPort& Record(const Port& port) { return state->ports[port.com - 1]; }
inline CouplerBus& Bus(const Port& port) { return state->buses[port.com - 1]; }

// daemon_ptys.cpp
bool CreatePort(int com);  // the pty, its watch and its record; false when the system refuses
void PointLink(const Port& port);
std::string LinkTarget(const Port& port);
void KeepLinks();
void RunWineReg(int com, const std::string& target);
void SetPresent(Port& port, bool present);
void SetLock(Port& port);
void DrainMaster(Port& port);
bool ReadLineSettings(const Port& port, CouplerTermios* settings);
void WatchCloses();
bool StartCloseWatch();
void StopCloseWatch();  // frees and resets: safe to call twice
Port* FindPort(uint32_t com);
std::string PortPath(const std::string& pattern, int com);  // "%d" in pattern replaced by com

// daemon_server.cpp
bool ChangeModel(Port& port, uint32_t set, uint32_t clear);  // false: the guard was not had
void SetFault(Port& port, uint32_t name, uint32_t delayMs);
uint32_t FaultName(const Port& port);
uint32_t FaultDelay(uint32_t name);  // the options' delay for a fault by name
void SetAdapter(CouplerPort& record, const Adapter& adapter);
void PowerUpBus(Port& port, uint32_t chips, uint32_t inputs);
void SetupBus(Port& port);  // the options' chips, EEPROM file, fault and adapter
void LoadEeprom(Port& port);  // the file's content when its size is the chip's, else erased and refused
void SaveEeprom(Port& port);
bool SetEepromType(Port& port, uint32_t type);  // powers the bus up with an EEPROM of that type on
void ServeRequests();
void StopLockHolder();  // ends a process the client had keep a lock; safe to call twice

// Runs change(bus, now) on the port's bus under its guard, then renews the
// model's view of the bus; false when the guard was not had.
template <typename Change>
bool ChangeBus(Port& port, Change change)
{
    {
        PortGuard guard(port);
        if (!guard.held)
            return false;
        change(&guard.bus, ModelNow());
    }
    return ChangeModel(port, 0, 0);
}

// daemon_trace.cpp
bool StartTrace(Port& port, const std::string& path);  // ends a trace already running first
void StopTrace(Port& port);  // writes what is left, closes and resets: safe to call twice
void TraceTick();            // every running trace takes the bus's new changes

// daemon_view.cpp
void Show(const char* format, const std::string& detail, const Port& port);
void StartView();  // raw keys and the first lines, when stdin is a terminal
void StopView();   // the terminal as it was: safe to call twice
bool ViewRunning();
void ViewTick();   // keys, lines, transfers and bytes of every port
