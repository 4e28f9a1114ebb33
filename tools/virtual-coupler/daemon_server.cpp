// Changes of the coupler model and the bus, and the client's requests
// (the request channel of the state file).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "daemon.h"

namespace {

// A process the client had take a port's lock and keep it
// (COUPLER_OP_LOCK_HOLDER), -1 none. Started and killed by the client's
// requests; reaped by the next start or StopLockHolder at the latest.
pid_t lockHolder = -1;

// How the coupler passes DTR onto the bus under a coupler fault.
uint32_t SdaPath(uint32_t couplerFault)
{
    switch (couplerFault) {
    case COUPLER_FAULT_SDA_LOW:
        return BUS_SDA_STUCK_LOW;
    case COUPLER_FAULT_SDA_HIGH:
        return BUS_SDA_STUCK_HIGH;
    case COUPLER_FAULT_SLOW_SDA:
        return BUS_SDA_SLOW;
    }
    return BUS_SDA_PASSES;  // the other faults touch only what the program reads back
}

// One fault by its index in FAULT_NAMES, the other kind none (delayMs for
// slow SDA and the SCL leak; laterChanges and laterMs for the mid-job short).
bool SetFaultWith(Port& port, uint32_t name, uint32_t delayMs, int32_t laterChanges, uint32_t laterMs)
{
    uint32_t busFault = name < FAULT_NAME_COUNT ? FAULT_NAMES[name].bus : 0;
    uint32_t couplerFault = name < FAULT_NAME_COUNT ? FAULT_NAMES[name].coupler : 0;
    PortGuard guard(port);
    if (!guard.held)
        return false;
    int64_t now = ModelNow();
    if (busFault == BUS_FAULT_SDA_LOW_LATER)
        BusSetSdaLowLater(&guard.bus, laterChanges, laterMs ? now + int64_t(laterMs) * 10000 : 0, now);
    else
        BusSetFault(&guard.bus, busFault, now);
    BusSetSdaPath(&guard.bus, SdaPath(couplerFault), couplerFault == COUPLER_FAULT_SLOW_SDA ? delayMs : 0, now);
    CouplerModel model = ModelCurrent(&guard.record);
    model.fault = couplerFault;
    model.faultDelayMs = delayMs;
    ModelPush(&guard.record, &guard.bus, model, now);
    return true;
}

void ResetPort(Port& port)
{
    CouplerPort& record = Record(port);
    // The count of requests left goes first: a request between the two would
    // otherwise pull the adapter again.
    __atomic_store_n(&record.vanishAfter, -1, __ATOMIC_RELEASE);
    record.busy = record.vanished = 0;
    SetLock(port);
    SetAdapter(record, {0, 0, 0, 0, 0});
    __atomic_store_n(&record.lineRequests, 0u, __ATOMIC_RELEASE);
    // The options' EEPROM, file and trace again; a trace the client started ends.
    std::string optionsTrace = PortPath(options.tracePath, port.com);
    if (port.trace && port.tracePath != optionsTrace)
        StopTrace(port);
    std::string optionsFile = PortPath(options.eepromPath, port.com);
    if (Bus(port).eeprom.type != options.eepromType || port.eepromPath != optionsFile) {
        SaveEeprom(port);
        port.eepromPath = optionsFile;
        SetEepromType(port, options.eepromType);
    }
    PowerUpBus(port, 0, 0xFF);
    if (port.eepromPath.empty())  // a fresh erased chip for every test
        ChangeBus(port, [](CouplerBus* bus, int64_t) { memset(BusEepromMemory(bus), 0xFF, BusEepromSize(bus)); });
    SetFault(port, 0, 0);
    {
        PortGuard guard(port);
        if (guard.held)
            ModelSetLines(&record, &guard.bus, record.lines, 0, 0, ModelNow());
    }
    ChangeModel(port, 0, ~(COUPLER_MODEL_DTR | COUPLER_MODEL_RTS));
    SetPresent(port, false);
    DrainMaster(port);
    port.fromProgram.clear();
}

// Starts a process that opens the state file itself (a lock through the
// daemon's own descriptor would be the daemon's), takes the port's lock and
// keeps it until it is killed. True once it holds the lock.
bool StartLockHolder(const Port& port)
{
    StopLockHolder();
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        return false;
    pid_t child = fork();
    if (child == 0) {
        int fd = open(options.statePath.c_str(), O_RDWR | O_CLOEXEC);
        char held = fd >= 0 && ModelLock(fd, port.com - 1) ? 1 : 0;
        if (write(ready[1], &held, 1) == 1 && held)
            for (;;)
                pause();
        _exit(1);
    }
    close(ready[1]);
    lockHolder = child;
    char held = 0;
    struct pollfd answer = {ready[0], POLLIN, 0};
    bool started = child > 0 && poll(&answer, 1, 2000) == 1 && read(ready[0], &held, 1) == 1 && held == 1;
    close(ready[0]);
    if (!started)
        StopLockHolder();
    return started;
}

// Kills the holder and leaves it unreaped (a zombie whose PID still
// answers) until the next start or the daemon's end: the kernel has freed
// its lock all the same.
bool KillLockHolder()
{
    return lockHolder > 0 && kill(lockHolder, SIGKILL) == 0;
}

// The request's data as text of length bytes ("" when the length is out of range).
std::string DataText(int32_t length)
{
    if (length <= 0 || length > COUPLER_DATA_MAX)
        return std::string();
    return std::string(reinterpret_cast<const char*>(state->data), static_cast<size_t>(length));
}

// Carries out one request; false when it names no port of ours, is unknown,
// or the port's lock was not had.
bool Serve(uint32_t op, uint32_t com, const int32_t* arg)
{
    if (op == COUPLER_OP_RESET) {
        for (Port& port : ports)
            ResetPort(port);
        return true;
    }
    Port* port = FindPort(com);
    if (!port)
        return false;
    CouplerPort& record = Record(*port);
    state->dataLength = 0;
    switch (op) {
    case COUPLER_OP_PRESENT:
        SetPresent(*port, arg[0] != 0);
        return true;
    case COUPLER_OP_BUSY:
        record.busy = arg[0] != 0;
        SetLock(*port);
        return true;
    case COUPLER_OP_VANISH:
        // Plugged in again, it stays plugged in: no count of requests left.
        if (!arg[0])
            __atomic_store_n(&record.vanishAfter, -1, __ATOMIC_RELEASE);
        record.vanished = arg[0] != 0;
        SetLock(*port);
        return true;
    case COUPLER_OP_HOLD_SDA:
        return ChangeModel(*port, arg[0] ? COUPLER_MODEL_SDA_HELD : 0, COUPLER_MODEL_SDA_HELD);
    case COUPLER_OP_PULL_INT:
        return ChangeModel(*port, arg[0] ? COUPLER_MODEL_INT_PULLED : 0, COUPLER_MODEL_INT_PULLED);
    case COUPLER_OP_SET_INPUTS:
        return ChangeModel(*port,
                           COUPLER_MODEL_OVERRIDE | (arg[0] ? COUPLER_MODEL_DSR : 0) |
                               (arg[1] ? COUPLER_MODEL_CTS : 0) | (arg[2] ? COUPLER_MODEL_DCD : 0),
                           COUPLER_MODEL_DSR | COUPLER_MODEL_CTS | COUPLER_MODEL_DCD);
    case COUPLER_OP_CLEAR_INPUTS:
        return ChangeModel(*port, 0, COUPLER_MODEL_OVERRIDE);
    case COUPLER_OP_FAULT:
        if (arg[0] < 0 || arg[0] >= COUPLER_FAULT_COUNT || arg[1] < 0)
            return false;
        return SetFaultWith(*port, FaultOfCoupler(static_cast<uint32_t>(arg[0])), static_cast<uint32_t>(arg[1]), -1, 0);
    case COUPLER_OP_ADAPTER:
        if (arg[0] < 0 || arg[1] < 0)
            return false;
        SetAdapter(record, {static_cast<uint32_t>(arg[0]), static_cast<uint32_t>(arg[1]), arg[2] != 0, 0, 0});
        return true;
    case COUPLER_OP_ADAPTER_JITTER:
        if (arg[0] < 0 || arg[1] < 0)
            return false;
        SetAdapter(record, {record.statusDelayMs, record.requestCostMs, record.handshakeKept,
                            static_cast<uint32_t>(arg[0]), static_cast<uint32_t>(arg[1])});
        return true;
    case COUPLER_OP_VANISH_AFTER:
        if (arg[0] < 0)
            return false;
        __atomic_store_n(&record.vanishAfter, arg[0], __ATOMIC_RELEASE);
        return true;
    case COUPLER_OP_CHIPS:
        if (arg[0] < 0 || arg[0] > static_cast<int32_t>(BUS_CHIPS_ALL) || arg[1] < 0 || arg[1] > 255)
            return false;
        PowerUpBus(*port, static_cast<uint32_t>(arg[0]), static_cast<uint32_t>(arg[1]));
        port->clientLogRead = port->viewLogRead = Bus(*port).logWrite;
        return true;
    case COUPLER_OP_BUS_FAULT:
        if (arg[0] < 0 || arg[0] >= BUS_FAULT_COUNT)
            return false;
        return SetFaultWith(*port, FaultOfBus(static_cast<uint32_t>(arg[0])), 0, 0, 0);
    case COUPLER_OP_SDA_LOW_LATER:
        if (arg[0] < -1 || arg[1] < 0 || (arg[0] < 0 && arg[1] == 0))
            return false;
        return SetFaultWith(*port, FaultOfBus(BUS_FAULT_SDA_LOW_LATER), 0, arg[0], static_cast<uint32_t>(arg[1]));
    case COUPLER_OP_LOCK_HOLDER:
        return arg[0] ? StartLockHolder(*port) : KillLockHolder();
    case COUPLER_OP_EEPROM: {
        PortGuard guard(*port);
        uint32_t size = BusEepromSize(&guard.bus);
        if (!guard.held || arg[0] < 0 || static_cast<uint32_t>(arg[0]) > size)
            return false;
        uint32_t offset = static_cast<uint32_t>(arg[0]), length = size - offset;
        state->dataLength = length < COUPLER_DATA_MAX ? length : COUPLER_DATA_MAX;
        memcpy(state->data, BusEepromMemory(&guard.bus) + offset, state->dataLength);
        return true;
    }
    case COUPLER_OP_SET_EEPROM: {
        // A content of the chip's size, in parts of at most COUPLER_DATA_MAX.
        uint32_t size = BusEepromSize(&Bus(*port));
        if (arg[0] < 0 || arg[0] > COUPLER_DATA_MAX || arg[1] < 0 || static_cast<uint32_t>(arg[2]) != size ||
            static_cast<uint32_t>(arg[0]) + static_cast<uint32_t>(arg[1]) > size)
            return false;
        return ChangeBus(*port, [arg](CouplerBus* bus, int64_t) {
            memcpy(BusEepromMemory(bus) + arg[1], state->data, static_cast<uint32_t>(arg[0]));
        });
    }
    case COUPLER_OP_EEPROM_TYPE: {
        int type = BusEepromTypeNamed(DataText(arg[0]).c_str());
        return type >= 0 && SetEepromType(*port, static_cast<uint32_t>(type));
    }
    case COUPLER_OP_EEPROM_FILE:
        SaveEeprom(*port);
        port->eepromPath = DataText(arg[0]);
        LoadEeprom(*port);
        return true;
    case COUPLER_OP_TRACE: {
        std::string path = DataText(arg[0]);
        if (path.empty()) {
            StopTrace(*port);
            return true;
        }
        return StartTrace(*port, path);
    }
    case COUPLER_OP_WRITE_PROTECT:
        if (arg[0] < BUS_WP_OFF || arg[0] > BUS_WP_REFUSE)
            return false;
        return ChangeBus(*port, [arg](CouplerBus* bus, int64_t) { BusSetWriteProtect(bus, arg[0]); });
    case COUPLER_OP_EXPANDER:
        if (arg[0] < 0 || arg[0] > 255)
            return false;
        return ChangeBus(*port, [arg](CouplerBus* bus, int64_t now) {
            BusSetExpanderInputs(bus, static_cast<uint8_t>(arg[0]), now);
        });
    case COUPLER_OP_TEMPERATURE:
        return ChangeBus(*port, [arg](CouplerBus* bus, int64_t) { BusSetTemperature(bus, arg[0]); });
    case COUPLER_OP_SENSOR_INT:
        return ChangeBus(*port, [arg](CouplerBus* bus, int64_t) { BusSetSensorInterrupt(bus, arg[0] != 0); });
    case COUPLER_OP_BUS_LOG: {
        PortGuard guard(*port);
        if (!guard.held)
            return false;
        state->dataLength = BusTakeLog(&guard.bus, &port->clientLogRead, reinterpret_cast<char*>(state->data),
                                       COUPLER_DATA_MAX);
        return true;
    }
    case COUPLER_OP_WRITE: {
        uint32_t length = arg[0] < 0 ? 0 : static_cast<uint32_t>(arg[0]);
        if (length > COUPLER_DATA_MAX)
            return false;
        return write(port->master, state->data, length) == static_cast<ssize_t>(length);
    }
    case COUPLER_OP_READ: {
        DrainMaster(*port);
        size_t length =
            port->fromProgram.size() < COUPLER_DATA_MAX ? port->fromProgram.size() : COUPLER_DATA_MAX;
        memcpy(state->data, port->fromProgram.data(), length);
        port->fromProgram.erase(0, length);
        state->dataLength = static_cast<uint32_t>(length);
        return true;
    }
    case COUPLER_OP_LINE_SETTINGS: {
        CouplerTermios settings;
        if (!ReadLineSettings(*port, &settings))
            return false;
        memcpy(state->data, &settings, sizeof settings);
        state->dataLength = sizeof settings;
        return true;
    }
    default:
        return false;
    }
}

}  // namespace

// Changes the coupler model from now on: model flags set and cleared, the
// coupler's SDA hold passed to the bus, and the bus's outputs taken anew (a
// request may have changed the bus).
bool ChangeModel(Port& port, uint32_t set, uint32_t clear)
{
    PortGuard guard(port);
    if (!guard.held)
        return false;
    int64_t now = ModelNow();
    CouplerModel model = ModelCurrent(&guard.record);
    model.flags = (model.flags & ~clear) | set;
    BusSetSdaHeld(&guard.bus, (model.flags & COUPLER_MODEL_SDA_HELD) != 0, now);
    ModelPush(&guard.record, &guard.bus, model, now);
    return true;
}

void SetFault(Port& port, uint32_t name, uint32_t delayMs)
{
    SetFaultWith(port, name, delayMs, options.laterChanges, options.laterMs);
}

uint32_t FaultDelay(uint32_t name)
{
    uint32_t fault = name < FAULT_NAME_COUNT ? FAULT_NAMES[name].coupler : 0;
    return fault == COUPLER_FAULT_SLOW_SDA ? options.slowSdaMs : fault == COUPLER_FAULT_SCL_LEAK ? options.sclLeakMs : 0;
}

// The fault's index in FAULT_NAMES.
uint32_t FaultName(const Port& port)
{
    uint32_t busFault = Bus(port).fault;
    return busFault ? FaultOfBus(busFault) : FaultOfCoupler(ModelCurrent(&Record(port)).fault);
}

void SetAdapter(CouplerPort& record, const Adapter& adapter)
{
    // The jitter first: a request in between draws from the old range at worst.
    CouplerJitter& jitter = state->jitter[&record - state->ports];
    jitter.seed = static_cast<uint32_t>(&record - state->ports) + 1;  // one sequence per port, run after run
    __atomic_store_n(&jitter.statusDelayMaxMs, adapter.delayMaxMs, __ATOMIC_RELEASE);
    __atomic_store_n(&jitter.requestCostMaxMs, adapter.costMaxMs, __ATOMIC_RELEASE);
    __atomic_store_n(&record.statusDelayMs, adapter.delayMs, __ATOMIC_RELEASE);
    __atomic_store_n(&record.requestCostMs, adapter.costMs, __ATOMIC_RELEASE);
    __atomic_store_n(&record.handshakeKept, adapter.handshakeKept, __ATOMIC_RELEASE);
}

// Power-up of the bus with the given chips and the expander's inputs as the
// outside world drives them then (the EEPROM keeps its content).
void PowerUpBus(Port& port, uint32_t chips, uint32_t inputs)
{
    PortGuard guard(port);
    if (!guard.held)
        return;
    uint32_t lines = guard.record.lines;
    BusPowerUpWithInputs(&guard.bus, chips, (lines & COUPLER_LINE_RTS) != 0, (lines & COUPLER_LINE_DTR) != 0,
                         static_cast<uint8_t>(inputs));
    ModelPush(&guard.record, &guard.bus, ModelCurrent(&guard.record), ModelNow());
}

// The bus idles with the options' chips at power-up (no chip: the plain
// coupler), the EEPROM from its file, the options' WP, temperature, fault
// and adapter.
void SetupBus(Port& port)
{
    ChangeBus(port, [](CouplerBus* bus, int64_t) { BusSetEepromType(bus, options.eepromType); });
    LoadEeprom(port);
    PowerUpBus(port, options.chips, options.inputs);
    ChangeBus(port, [](CouplerBus* bus, int64_t) {
        BusSetWriteProtect(bus, static_cast<int>(options.writeProtect));
        BusSetTemperature(bus, options.temperature);
    });
    SetFault(port, options.fault, FaultDelay(options.fault));
    SetAdapter(Record(port), options.adapter);
}

// The EEPROM's content comes from its file at start and goes back whenever
// it changed (written aside, then renamed: a cut-off run leaves the old file).
// A file whose size is not the chip's belongs to another chip: it is
// refused (said on stderr), the chip starts erased and the file is left as
// it is for as long as the chip is of this type.
void LoadEeprom(Port& port)
{
    uint32_t size = BusEepromSize(&Bus(port));
    std::vector<uint8_t> content(size, 0xFF);
    port.eepromRefused = false;
    FILE* file = port.eepromPath.empty() ? nullptr : fopen(port.eepromPath.c_str(), "rb");
    if (file) {
        long length = fseek(file, 0, SEEK_END) == 0 ? ftell(file) : -1;
        rewind(file);
        if (length != static_cast<long>(size) || fread(content.data(), 1, size, file) != size) {
            fprintf(stderr, "vcoupler: COM%d: %s holds %ld bytes, a %s %u: not loaded, and not written while the "
                    "EEPROM is of this type\n", port.com, port.eepromPath.c_str(), length,
                    BusEepromTypeName(Bus(port).eeprom.type), size);
            std::fill(content.begin(), content.end(), 0xFF);
            port.eepromRefused = true;
        }
        fclose(file);
    }
    if (ChangeBus(port, [&content](CouplerBus* bus, int64_t) {
            memcpy(BusEepromMemory(bus), content.data(), content.size());
        }))
        port.eepromSaved = content;
}

void SaveEeprom(Port& port)
{
    if (port.eepromPath.empty() || port.eepromRefused)
        return;
    std::vector<uint8_t> content;
    {
        PortGuard guard(port);
        if (!guard.held)
            return;
        const uint8_t* memory = BusEepromMemory(&guard.bus);
        content.assign(memory, memory + BusEepromSize(&guard.bus));
    }
    if (content == port.eepromSaved)
        return;
    std::string temporary = port.eepromPath + ".new";
    FILE* file = fopen(temporary.c_str(), "wb");
    if (!file)
        return;
    bool written = fwrite(content.data(), 1, content.size(), file) == content.size();
    if (fclose(file) == 0 && written && rename(temporary.c_str(), port.eepromPath.c_str()) == 0)
        port.eepromSaved = content;
}

// A new chip of that type in the EEPROM's place, switched on at power-up
// with the other chips as they were; its content from the file when the
// file fits it, else erased. The old chip's content goes to the file first.
bool SetEepromType(Port& port, uint32_t type)
{
    SaveEeprom(port);
    uint32_t chips, inputs;
    {
        PortGuard guard(port);
        if (!guard.held || !BusSetEepromType(&guard.bus, type))
            return false;
        chips = guard.bus.chips | BUS_CHIP_EEPROM;
        inputs = guard.bus.expander.inputs;
    }
    PowerUpBus(port, chips, inputs);
    LoadEeprom(port);
    port.clientLogRead = port.viewLogRead = Bus(port).logWrite;
    return true;
}

void ServeRequests()
{
    uint32_t seq = __atomic_load_n(&state->requestSeq, __ATOMIC_ACQUIRE);
    if (seq == state->ackSeq)
        return;
    int32_t arg[4];
    memcpy(arg, state->arg, sizeof arg);
    state->result = Serve(state->op, state->com, arg) ? 1 : 0;
    __atomic_store_n(&state->ackSeq, seq, __ATOMIC_RELEASE);
}

void StopLockHolder()
{
    if (lockHolder > 0) {
        kill(lockHolder, SIGKILL);
        waitpid(lockHolder, nullptr, 0);
    }
    lockHolder = -1;
}
