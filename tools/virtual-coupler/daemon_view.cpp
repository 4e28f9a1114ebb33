// The live view (--interactive): every port's lines, I2C transfers and
// bytes as they happen, and the keys that change the coupler and the bus.
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "daemon.h"

namespace {

// The terminal's mode before the view made it raw, and whether it did: set by
// StartView, restored by StopView.
struct termios savedStdin;
bool stdinRaw = false;
size_t selected = 0;     // the port the keys act on, an index of ports
int64_t startTicks = 0;  // the view's start, in state-file time units: times are shown from it
std::string typed;       // text being entered after 't'
bool typing = false;     // 't' was pressed and Enter not yet

const char* const WRITE_PROTECT_NAMES[] = {"off", "on, everything acknowledged", "on, data bytes refused"};

std::string Printable(const std::string& bytes)
{
    std::string text;
    char hex[8];
    for (unsigned char c : bytes) {
        if (c >= 32 && c < 127) {
            text += static_cast<char>(c);
        } else {
            snprintf(hex, sizeof hex, "\\x%02x", c);
            text += hex;
        }
    }
    return text;
}

void ShowLines(Port& port)
{
    CouplerPort& record = Record(port);
    uint32_t lines = __atomic_load_n(&record.lines, __ATOMIC_ACQUIRE);
    if (lines >> COUPLER_LINE_COUNT_SHIFT == port.shownChanges)
        return;
    port.shownChanges = lines >> COUPLER_LINE_COUNT_SHIFT;
    int inputs;
    {
        PortGuard guard(port);
        if (!guard.held)
            return;
        inputs = ModelInputs(&guard.record, &guard.bus, ModelNow());
    }
    unsigned dtr = lines & COUPLER_LINE_DTR, rts = (lines & COUPLER_LINE_RTS) >> 1;
    char text[160];
    snprintf(text, sizeof text, "DTR %u  RTS %u    SDA %d  SCL %u  INT %s   (changed at %.3f s)", dtr, rts,
             (inputs & COUPLER_IN_DSR) != 0, rts, (inputs & COUPLER_IN_CTS) ? "low" : "high",
             (record.lastChange - startTicks) / 1e7);
    Show("%s", text, port);
}

// Each decoded transfer on one line, once it has ended.
void ShowBusLog(Port& port)
{
    char text[BUS_LOG_EVENTS * 8];
    uint32_t length;
    {
        PortGuard guard(port);
        if (!guard.held)
            return;
        length = BusTakeLog(&guard.bus, &port.viewLogRead, text, sizeof text);
    }
    port.viewLogLine.append(text, length);
    size_t end;
    while ((end = port.viewLogLine.find('\n')) != std::string::npos) {
        Show("I2C  %s", port.viewLogLine.substr(0, end), port);
        port.viewLogLine.erase(0, end + 1);
    }
}

void ShowHelp()
{
    printf("keys: Tab next port, s hold/release SDA, i pull/release INT, f next fault, a adapter on/off,\r\n"
           "      w EEPROM write protect, e next EEPROM type, b chips' state, 0-7 toggle an expander input, + - temperature,\r\n"
           "      t send text, q quit\r\n");
    fflush(stdout);
}

void ShowBus(Port& port)
{
    char text[320];
    {
        PortGuard guard(port);
        if (!guard.held)
            return;
        BusDescribeAt(&guard.bus, ModelNow(), text, sizeof text);
    }
    Show("bus: %s", text, port);
}

void ShowTraffic(Port& port)
{
    DrainMaster(port);
    if (port.fromProgram.empty())
        return;
    Show("program wrote: %s", Printable(port.fromProgram), port);
    port.fromProgram.clear();
}

void HandleKey(char key)
{
    Port& port = ports[selected];
    CouplerPort& record = Record(port);
    if (typing) {
        if (key == '\r' || key == '\n') {
            typing = false;
            if (write(port.master, typed.data(), typed.size()) < 0)
                typed = "(not sent)";
            Show("sent to the program: %s", Printable(typed), port);
            typed.clear();
        } else if (key == 127 || key == 8) {
            if (!typed.empty())
                typed.pop_back();
        } else {
            typed += key;
        }
        return;
    }
    uint32_t flags = ModelCurrent(&record).flags;
    uint32_t held = flags & COUPLER_MODEL_SDA_HELD, pulled = flags & COUPLER_MODEL_INT_PULLED;
    char text[96];
    switch (key) {
    case '\t':
        selected = (selected + 1) % ports.size();
        Show("%s", "selected", ports[selected]);
        break;
    case 's':
        ChangeModel(port, held ? 0 : COUPLER_MODEL_SDA_HELD, COUPLER_MODEL_SDA_HELD);
        Show("%s", held ? "SDA released" : "SDA held at ground by a slave", port);
        break;
    case 'i':
        ChangeModel(port, pulled ? 0 : COUPLER_MODEL_INT_PULLED, COUPLER_MODEL_INT_PULLED);
        Show("%s", pulled ? "INT released (CTS off)" : "INT pulled to ground (CTS on)", port);
        break;
    case 'f': {
        uint32_t name = (FaultName(port) + 1) % FAULT_NAME_COUNT;
        SetFault(port, name, FaultDelay(name));
        Show("fault: %s", FAULT_NAMES[name].name, port);
        break;
    }
    case 'a':
        SetAdapter(record, record.statusDelayMs || record.requestCostMs || record.handshakeKept
                               ? Adapter{0, 0, 0, 0, 0}
                               : options.keyAdapter);
        snprintf(text, sizeof text, "adapter: status %u ms late, %u ms per line request%s", record.statusDelayMs,
                 record.requestCostMs, record.handshakeKept ? ", RTS/CTS kept on" : "");
        Show("%s", text, port);
        break;
    case 'w': {
        uint32_t next = (Bus(port).eeprom.writeProtect + 1) % 3;
        ChangeBus(port, [next](CouplerBus* bus, int64_t) { BusSetWriteProtect(bus, static_cast<int>(next)); });
        Show("EEPROM write protect: %s", WRITE_PROTECT_NAMES[next], port);
        break;
    }
    case 'e': {
        uint32_t next = (Bus(port).eeprom.type + 1) % BUS_EEPROM_TYPE_COUNT;
        SetEepromType(port, next);
        ShowBus(port);
        break;
    }
    case 'b':
        ShowBus(port);
        break;
    case '+':
    case '-':
        ChangeBus(port, [key](CouplerBus* bus, int64_t) {
            BusSetTemperature(bus, bus->sensor.ambient + (key == '+' ? 1 : -1));
        });
        ShowBus(port);
        break;
    case 't':
        typing = true;
        Show("%s", "type text, Enter sends it", port);
        break;
    case 'q':
        stopRequested = 1;
        break;
    default:
        if (key >= '0' && key <= '7') {
            ChangeBus(port, [key](CouplerBus* bus, int64_t now) {
                BusSetExpanderInputs(bus, static_cast<uint8_t>(bus->expander.inputs ^ (1u << (key - '0'))), now);
            });
            ShowBus(port);
        } else {
            ShowHelp();
        }
        break;
    }
}

}  // namespace

void Show(const char* format, const std::string& detail, const Port& port)
{
    printf("%9.3f s  COM%-2d  ", (ModelNow() - startTicks) / 1e7, port.com);
    printf(format, detail.c_str());
    printf("\r\n");
    fflush(stdout);
}

void StartView()
{
    startTicks = ModelNow();
    if (!options.interactive || !isatty(0) || tcgetattr(0, &savedStdin) != 0)
        return;
    struct termios raw = savedStdin;
    raw.c_lflag &= ~(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    stdinRaw = tcsetattr(0, TCSANOW, &raw) == 0;
    if (!stdinRaw)
        return;
    for (Port& port : ports)
        printf("COM%d is %s, fault: %s\r\n", port.com, Record(port).pts, FAULT_NAMES[FaultName(port)].name);
    ShowHelp();
}

void StopView()
{
    if (stdinRaw)
        tcsetattr(0, TCSANOW, &savedStdin);
    stdinRaw = false;
}

bool ViewRunning() { return stdinRaw; }

void ViewTick()
{
    char key;
    while (read(0, &key, 1) == 1)
        HandleKey(key);
    for (Port& port : ports) {
        ShowLines(port);
        ShowBusLog(port);
        ShowTraffic(port);
    }
}
