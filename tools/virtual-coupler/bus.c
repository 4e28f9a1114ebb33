/* The I2C bus behind the virtual coupler (see bus.h): the SDA wire (the
 * coupler's path for DTR, its holds, the faults), the decoder's reports
 * (bus_decoder.c) turned into the log and into the chips' turns (bus_chips.c),
 * which take part in a transfer through one SDA driver; the trace, the
 * settings and the read-outs. Plain C99 over the record alone: no I/O, no
 * allocation, nothing outside the record. */
#include "bus.h"

#include "bus_chips.h"
#include "faults.h"

#include <stdio.h>
#include <string.h>

#define TICKS_PER_MS 10000
#define TIMEOUT_TICKS (30 * TICKS_PER_MS) /* SMBus parts give up after 25..35 ms of SCL low */

/* ---- the log: timed events ---- */

static void Log(struct CouplerBus* bus, uint32_t kind, uint32_t byte, int64_t now)
{
    struct BusEvent* event = &bus->log[bus->logWrite % BUS_LOG_EVENTS];
    event->time = now;
    event->kind = kind;
    event->byte = byte & 0xFF;
    ++bus->logWrite;
}

static int EndsLine(uint32_t kind) { return kind == BUS_EVENT_STOP || kind == BUS_EVENT_END; }

/* A line has tokens and no end yet. */
static int LineOpen(const struct CouplerBus* bus)
{
    return bus->logWrite != bus->logStart && !EndsLine(bus->log[(bus->logWrite - 1) % BUS_LOG_EVENTS].kind);
}

static void EndLine(struct CouplerBus* bus, int64_t now)
{
    if (LineOpen(bus))
        Log(bus, BUS_EVENT_END, 0, now);
}

/* ---- the chips' turns ---- */

/* Every chip leaves the transfer: SDA released, the addressed one told
 * whether the transfer ended cleanly. */
static void DropTransfer(struct CouplerBus* bus, int clean, int64_t now)
{
    const struct ChipModel* chip = ChipByBit(bus->slave.chip);
    if (chip)
        chip->stop(bus, clean, now);
    memset(&bus->slave, 0, sizeof bus->slave);
    bus->slave.drive = 1;
}

/* The address byte is complete (SCL fell after its eighth bit): the chip at
 * that address pulls SDA low for the acknowledge, unless it is switched off,
 * refuses, or the bus acknowledges nothing. */
static void Address(struct CouplerBus* bus, int64_t now)
{
    uint32_t address = bus->decoder.address, read = address & 1;
    const struct ChipModel* chip = ChipAt(bus, address >> 1);
    if (!chip || !(chip->bit & bus->chips) || bus->fault == BUS_FAULT_NO_ACK || !chip->select(bus, (int)read, now))
        return;
    bus->slave.chip = chip->bit;
    bus->slave.sending = read;
    bus->slave.drive = 0;
}

/* ---- the wire ---- */

static int TimedOut(const struct CouplerBus* bus, int64_t now)
{
    return bus->fault == BUS_FAULT_TIMEOUT && bus->slave.chip && !bus->decoder.scl &&
           now - bus->decoder.sclFell > TIMEOUT_TICKS;
}

static int LaterFired(const struct CouplerBus* bus, int64_t now)
{
    return bus->fault == BUS_FAULT_SDA_LOW_LATER &&
           (bus->later.fired || (bus->later.at > 0 && now >= bus->later.at));
}

int BusHoldsSdaLow(const struct CouplerBus* bus, int64_t now)
{
    if (bus->coupler.path == BUS_SDA_STUCK_HIGH)
        return 0;
    if (bus->fault == BUS_FAULT_NO_PULLUP || bus->coupler.path == BUS_SDA_STUCK_LOW || bus->coupler.held ||
        LaterFired(bus, now))
        return 1;
    return bus->slave.drive == 0 && !TimedOut(bus, now);
}

/* The SDA wire: the wired AND of DTR as the coupler passes it and every
 * other driver. */
static uint32_t Wire(const struct CouplerBus* bus, int64_t now)
{
    if (bus->coupler.path == BUS_SDA_STUCK_HIGH)
        return 1;
    return bus->coupler.passed && !BusHoldsSdaLow(bus, now);
}

/* ---- the trace ---- */

/* The lines as the chips see them at now: SCL, the wire, DTR, and which chip
 * pulls SDA low (a chip dropped on the time-out has let go). */
static uint32_t Signals(const struct CouplerBus* bus, int64_t now)
{
    uint32_t signals = (bus->decoder.scl ? BUS_TRACE_SCL : 0) | (Wire(bus, now) ? BUS_TRACE_SDA : 0) |
                       (bus->coupler.dtr ? BUS_TRACE_DTR : 0);
    if (bus->slave.chip && bus->slave.drive == 0 && !TimedOut(bus, now))
        signals |= bus->slave.chip << BUS_TRACE_CHIP_SHIFT;
    return signals;
}

/* Appends the lines at now when they differ from the latest change: called
 * after every step that may move a line, so that a change within one line
 * request (SCL falls, then the chip lets SDA go) keeps its order. */
static void Trace(struct CouplerBus* bus, int64_t now)
{
    uint32_t signals = Signals(bus, now);
    if (signals == bus->traceSignals)
        return;
    bus->trace[bus->traceWrite % BUS_TRACE_CHANGES] = ((uint64_t)now << 8) | signals;
    bus->traceSignals = signals;
    ++bus->traceWrite;
}

/* A START or STOP the decoder saw: logged (a cut byte first), and the chip
 * in the transfer leaves it, cleanly only at a STOP after whole bytes. */
static void Condition(struct CouplerBus* bus, uint32_t event, uint32_t cut, int64_t now)
{
    if (cut)
        Log(bus, BUS_EVENT_CUT, 0, now);
    Log(bus, event == DECODER_STOP ? BUS_EVENT_STOP : event == DECODER_RESTART ? BUS_EVENT_RESTART : BUS_EVENT_START,
        0, now);
    DropTransfer(bus, event == DECODER_STOP && !cut, now);
}

/* The wire may have changed: a fall while SCL is high is a START, a rise a
 * STOP, whoever made it (the master, the coupler, a fault). */
static void WireChanged(struct CouplerBus* bus, int64_t now)
{
    uint32_t level = Wire(bus, now), cut = 0;
    if (level == bus->decoder.level)
        return;
    uint32_t event = DecoderSda(&bus->decoder, level, &cut);
    if (event != DECODER_NONE) {
        Condition(bus, event, cut, now);
        DecoderSettle(&bus->decoder, Wire(bus, now));
    }
    Trace(bus, now);
}

/* What happened by itself since the last call, each at its own time: a slow
 * SDA path passing a DTR level held long enough, a timed short to ground. */
static void CatchUp(struct CouplerBus* bus, int64_t now)
{
    struct BusCouplerSda* coupler = &bus->coupler;
    int64_t passAt = coupler->dtrChanged + coupler->delayTicks;
    int passDue = coupler->path == BUS_SDA_SLOW && coupler->passed != bus->coupler.dtr && now >= passAt;
    int laterDue = bus->fault == BUS_FAULT_SDA_LOW_LATER && !bus->later.fired && bus->later.at > 0 &&
                   now >= bus->later.at;
    if (laterDue && (!passDue || bus->later.at <= passAt)) {
        bus->later.fired = 1;
        WireChanged(bus, bus->later.at);
    }
    if (passDue) {
        coupler->passed = bus->coupler.dtr;
        WireChanged(bus, passAt);
    }
    if (laterDue && !bus->later.fired) {
        bus->later.fired = 1;
        WireChanged(bus, bus->later.at);
    }
}

/* ---- the decoder's reports ---- */

/* SCL moved: on a rise the log takes the byte or the acknowledge, and a NACK
 * from the master ends the chip's sending; on a fall the chip in the
 * transfer changes its SDA now, and only now. */
static void Clocked(struct CouplerBus* bus, uint32_t event, int64_t now)
{
    struct BusDecoder* decoder = &bus->decoder;
    struct BusSlave* slave = &bus->slave;
    const struct ChipModel* chip = ChipByBit(slave->chip);
    switch (event) {
    case DECODER_BYTE:
        Log(bus, decoder->byteIndex == 0 ? BUS_EVENT_ADDRESS : BUS_EVENT_BYTE, decoder->shift, now);
        break;
    case DECODER_ACK:
    case DECODER_NACK:
        Log(bus, event == DECODER_NACK ? BUS_EVENT_NACK : BUS_EVENT_ACK, 0, now);
        if (decoder->byteIndex > 0 && slave->sending && event == DECODER_NACK)
            slave->sending = 0;
        break;
    case DECODER_ACK_SLOT:
        if (decoder->byteIndex == 0)
            Address(bus, now);
        else if (chip && !(decoder->address & 1))
            slave->drive = chip->write(bus, decoder->shift, now) ? 0 : 1;
        else
            slave->drive = 1; /* the master's acknowledge */
        break;
    case DECODER_NEXT_BYTE:
        slave->drive = 1;
        if (chip && slave->sending) {
            slave->txByte = slave->forceZero ? 0 : chip->read(bus);
            slave->forceZero = 0;
            slave->drive = (slave->txByte >> 7) & 1;
        }
        break;
    case DECODER_DATA_SLOT:
        if (chip && slave->sending)
            slave->drive = (slave->txByte >> (7 - decoder->bit)) & 1;
        break;
    }
}

static void DtrChange(struct CouplerBus* bus, uint32_t dtr, int64_t now)
{
    if (dtr == bus->coupler.dtr)
        return;
    bus->coupler.dtr = dtr;
    bus->coupler.dtrChanged = now;
    if (bus->coupler.path != BUS_SDA_SLOW)
        bus->coupler.passed = dtr;
    WireChanged(bus, now);
}

void BusLines(struct CouplerBus* bus, int scl, int sda, int64_t now)
{
    struct BusDecoder* decoder = &bus->decoder;
    uint32_t newScl = scl != 0, newDtr = sda != 0;
    if (newScl == decoder->scl && newDtr == bus->coupler.dtr)
        return;
    bus->seen = now;
    CatchUp(bus, now);
    if (TimedOut(bus, now)) {
        /* The chip let SDA go when SCL had been low too long, not now. */
        Trace(bus, decoder->sclFell + TIMEOUT_TICKS + 1);
        Log(bus, BUS_EVENT_TIMEOUT, 0, now);
        DropTransfer(bus, 0, now);
    }
    /* A UART promises no order between two lines changed by one request. */
    if (newScl != decoder->scl && newDtr != bus->coupler.dtr) {
        Log(bus, BUS_EVENT_BOTH, 0, now);
        if (!decoder->inTransfer)
            Log(bus, BUS_EVENT_END, 0, now);
    }
    if (newScl)
        DtrChange(bus, newDtr, now);
    if (newScl != decoder->scl) {
        uint32_t event = DecoderScl(decoder, newScl, Wire(bus, now), now);
        Trace(bus, now);
        Clocked(bus, event, now);
        DecoderSettle(decoder, Wire(bus, now));
        Trace(bus, now);
    }
    DtrChange(bus, newDtr, now);
    Trace(bus, now);
    if (bus->fault == BUS_FAULT_SDA_LOW_LATER && bus->later.changesLeft > 0 && --bus->later.changesLeft == 0) {
        bus->later.fired = 1;
        WireChanged(bus, now);
    }
}

/* ---- settings ---- */

void BusPowerUpWithInputs(struct CouplerBus* bus, uint32_t chips, int scl, int sda, uint8_t inputs)
{
    /* Kept: the lock, the EEPROM's type (its array lies after the cleared
     * part), the coupler's SDA path and holds, the latest time, the log's
     * and the trace's positions. */
    struct BusCouplerSda coupler = bus->coupler; /* the coupler's, not the chips' */
    uint32_t lock = bus->lock, type = bus->eeprom.type;
    int64_t seen = bus->seen;
    memset(bus, 0, offsetof(struct CouplerBus, logWrite));
    bus->lock = lock;
    bus->seen = seen;
    bus->eeprom.type = type < BUS_EEPROM_TYPE_COUNT ? type : BUS_EEPROM_24C02;
    bus->logStart = bus->logWrite;
    bus->chips = chips & BUS_CHIPS_ALL;
    bus->coupler = coupler;
    /* The master's lines as they are: a power-up makes no START or STOP. */
    bus->coupler.dtr = sda != 0;
    if (bus->coupler.path != BUS_SDA_SLOW)
        bus->coupler.passed = bus->coupler.dtr;
    bus->slave.drive = 1;
    bus->later.changesLeft = -1;
    DecoderReset(&bus->decoder, scl != 0, Wire(bus, bus->coupler.dtrChanged));
    ChipsPowerUp(bus, inputs);
    Trace(bus, bus->seen);
}

void BusPowerUp(struct CouplerBus* bus, uint32_t chips, int scl, int sda)
{
    BusPowerUpWithInputs(bus, chips, scl, sda, 0xFF);
}

/* Any fault first ends the transfer on the bus. The stuck slaves are the
 * EEPROM left in the middle of a read; the normal state machine frees them
 * after the master's clocks and a STOP: 8 clocks when it is left driving the
 * first bit of a 0x00 byte, 9 when left acknowledging its read address with
 * a 0x00 byte to follow (the worst case the bus clear's nine clocks cover). */
static void SetFault(struct CouplerBus* bus, uint32_t fault, int64_t now)
{
    struct BusDecoder* decoder = &bus->decoder;
    bus->seen = now;
    CatchUp(bus, now);
    DropTransfer(bus, 0, now);
    EndLine(bus, now);
    DecoderAbandon(decoder);
    bus->fault = fault < BUS_FAULT_COUNT ? fault : (uint32_t)BUS_FAULT_NONE;
    bus->later.changesLeft = -1;
    bus->later.fired = 0;
    bus->later.at = 0;
    int stuck = bus->fault == BUS_FAULT_STUCK_SLAVE || bus->fault == BUS_FAULT_STUCK_SLAVE_9;
    if (stuck && (bus->chips & BUS_CHIP_EEPROM)) {
        int nine = bus->fault == BUS_FAULT_STUCK_SLAVE_9;
        DecoderPlace(decoder, (BUS_EEPROM_ADDRESS << 1) | 1, nine ? 0 : 1, nine ? 8 : 0);
        bus->slave.chip = BUS_CHIP_EEPROM;
        bus->slave.sending = 1;
        bus->slave.txByte = 0x00;
        bus->slave.forceZero = (uint32_t)nine;
        bus->slave.drive = 0;
    }
    DecoderSettle(decoder, Wire(bus, now));
    Trace(bus, now);
}

void BusSetFault(struct CouplerBus* bus, uint32_t fault, int64_t now)
{
    SetFault(bus, fault, now);
    if (bus->fault == BUS_FAULT_SDA_LOW_LATER) {
        bus->later.fired = 1;
        DecoderSettle(&bus->decoder, Wire(bus, now));
        Trace(bus, now);
    }
}

void BusSetSdaLowLater(struct CouplerBus* bus, int32_t changes, int64_t at, int64_t now)
{
    SetFault(bus, BUS_FAULT_SDA_LOW_LATER, now);
    bus->later.changesLeft = changes >= 0 ? changes : -1;
    bus->later.at = at > 0 ? at : 0;
    if (changes == 0)
        bus->later.fired = 1;
    WireChanged(bus, now);
}

void BusSetSdaPath(struct CouplerBus* bus, uint32_t path, uint32_t delayMs, int64_t now)
{
    bus->seen = now;
    CatchUp(bus, now);
    bus->coupler.path = path <= BUS_SDA_SLOW ? path : (uint32_t)BUS_SDA_PASSES;
    bus->coupler.delayTicks = (int64_t)delayMs * TICKS_PER_MS;
    if (bus->coupler.path != BUS_SDA_SLOW)
        bus->coupler.passed = bus->coupler.dtr;
    WireChanged(bus, now);
}

void BusSetSdaHeld(struct CouplerBus* bus, int held, int64_t now)
{
    bus->seen = now;
    CatchUp(bus, now);
    bus->coupler.held = held != 0;
    WireChanged(bus, now);
}

int BusSetEepromType(struct CouplerBus* bus, uint32_t type)
{
    if (type >= BUS_EEPROM_TYPE_COUNT)
        return 0;
    if (bus->slave.chip == BUS_CHIP_EEPROM)
        DropTransfer(bus, 0, bus->seen);
    ChipsNewEeprom(bus, type);
    Trace(bus, bus->seen);
    return 1;
}

/* ---- reading it out ---- */

/* The oldest position still kept. */
static uint32_t Oldest(const struct CouplerBus* bus)
{
    return bus->logWrite - bus->logStart > BUS_LOG_EVENTS ? bus->logWrite - BUS_LOG_EVENTS : bus->logStart;
}

/* A reader's position, moved to the oldest kept when it is from before the
 * power-up, overwritten since, or ahead of a record written anew. */
static uint32_t ReadFrom(const struct CouplerBus* bus, uint32_t read)
{
    uint32_t oldest = Oldest(bus);
    return (int32_t)(read - oldest) < 0 || (int32_t)(bus->logWrite - read) < 0 ? oldest : read;
}

uint32_t BusTakeEvents(const struct CouplerBus* bus, uint32_t* read, struct BusEvent* events, uint32_t max)
{
    uint32_t from = ReadFrom(bus, *read), count = bus->logWrite - from < max ? bus->logWrite - from : max;
    for (uint32_t i = 0; i < count; ++i)
        events[i] = bus->log[(from + i) % BUS_LOG_EVENTS];
    *read = from + count;
    return count;
}

uint32_t BusTakeTrace(const struct CouplerBus* bus, uint32_t* read, struct BusTraceChange* changes, uint32_t max,
                      uint32_t* lost)
{
    uint32_t from = *read, behind = bus->traceWrite - from, skipped = 0;
    if ((int32_t)behind < 0) /* ahead of a record written anew */
        from = bus->traceWrite, behind = 0;
    if (behind > BUS_TRACE_CHANGES)
        skipped = behind - BUS_TRACE_CHANGES, from += skipped, behind = BUS_TRACE_CHANGES;
    uint32_t count = behind < max ? behind : max;
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t change = bus->trace[(from + i) % BUS_TRACE_CHANGES];
        changes[i].time = (int64_t)(change >> 8);
        changes[i].signals = (uint32_t)(change & 0xFF);
        changes[i].pad = 0;
    }
    *read = from + count;
    if (lost)
        *lost = skipped;
    return count;
}

uint32_t BusEventText(const struct BusEvent* event, const struct BusEvent* previous, char* text, uint32_t size)
{
    static const char* const TOKENS[] = {"", "S", "Sr", "P", "", "", "A", "N", "?", "T", "~", ""};
    int open = previous && !EndsLine(previous->kind);
    char token[12];
    if (event->kind == BUS_EVENT_ADDRESS)
        snprintf(token, sizeof token, "%02X %c", (unsigned)(event->byte >> 1) & 0x7F, (event->byte & 1) ? 'R' : 'W');
    else if (event->kind == BUS_EVENT_BYTE)
        snprintf(token, sizeof token, "%02X", (unsigned)event->byte & 0xFF);
    else
        snprintf(token, sizeof token, "%s", event->kind <= BUS_EVENT_END ? TOKENS[event->kind] : "");
    const char* before = event->kind == BUS_EVENT_END ? (open ? "\n" : "")
                         : event->kind == BUS_EVENT_START && open ? "\n"
                         : open                                   ? " "
                                                                  : "";
    int length = snprintf(text, size, "%s%s%s", before, token, event->kind == BUS_EVENT_STOP ? "\n" : "");
    return length < 0 ? 0 : (uint32_t)length < size ? (uint32_t)length : size ? size - 1 : 0;
}

uint32_t BusTakeLog(const struct CouplerBus* bus, uint32_t* read, char* text, uint32_t size)
{
    uint32_t from = ReadFrom(bus, *read), used = 0;
    const struct BusEvent* previous = from != Oldest(bus) ? &bus->log[(from - 1) % BUS_LOG_EVENTS] : 0;
    for (; from != bus->logWrite; ++from) {
        char piece[16];
        const struct BusEvent* event = &bus->log[from % BUS_LOG_EVENTS];
        uint32_t length = BusEventText(event, previous, piece, sizeof piece);
        if (used + length > size)
            break;
        memcpy(text + used, piece, length);
        used += length;
        previous = event;
    }
    *read = from;
    return used;
}

void BusDescribeAt(const struct CouplerBus* bus, int64_t now, char* text, uint32_t size)
{
    static const char* const PATH[] = {"", "SDA stuck low", "SDA stuck high", "SDA slow"};
    char fault[32] = "";
    if (!size)
        return;
    text[0] = 0;
    ChipsDescribe(bus, now, text, size);
    BusDescribePart(text, size, bus->coupler.held ? "SDA held" : "");
    BusDescribePart(text, size, PATH[bus->coupler.path <= BUS_SDA_SLOW ? bus->coupler.path : 0]);
    if (FaultOfBus(bus->fault))
        snprintf(fault, sizeof fault, "fault %s", FAULT_NAMES[FaultOfBus(bus->fault)].name);
    BusDescribePart(text, size, fault);
}

void BusDescribe(const struct CouplerBus* bus, char* text, uint32_t size)
{
    BusDescribeAt(bus, bus->seen, text, size);
}

/* ---- the lock ---- */

/* A spin lock: holders only step the model, for microseconds. */
void BusLock(struct CouplerBus* bus)
{
    while (__atomic_exchange_n(&bus->lock, 1u, __ATOMIC_ACQUIRE))
        while (__atomic_load_n(&bus->lock, __ATOMIC_RELAXED)) {
#if defined(__i386__) || defined(__x86_64__)
            __builtin_ia32_pause();
#endif
        }
}

void BusUnlock(struct CouplerBus* bus) { __atomic_store_n(&bus->lock, 0u, __ATOMIC_RELEASE); }
