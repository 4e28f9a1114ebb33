/* The I2C bus behind the virtual coupler (see bus.h): a decoder that sees
 * what every device on the bus sees, the coupler's part of SDA, and three
 * chips behind one table that take part in a transfer through one SDA
 * driver. Plain C99 over the record alone: no I/O, no allocation, nothing
 * outside the record. */
#include "bus.h"

#include <stdio.h>
#include <string.h>

#define TICKS_PER_MS 10000
#define WRITE_CYCLE_TICKS (5 * TICKS_PER_MS) /* the 24C02's tWR, 5 ms at most */
#define TIMEOUT_TICKS (30 * TICKS_PER_MS)    /* SMBus parts give up after 25..35 ms of SCL low */

#define EEPROM_ADDRESS 0x50
#define EXPANDER_ADDRESS 0x20
#define SENSOR_ADDRESS 0x48

/* LM75 configuration bits */
#define SENSOR_SHUTDOWN 0x01  /* no conversions: the temperature register is frozen */
#define SENSOR_INTERRUPT 0x02 /* O.S. in interrupt mode (else comparator) */
#define SENSOR_POLARITY 0x04  /* O.S. active high */
#define SENSOR_QUEUE_SHIFT 3  /* bits 3-4: the fault queue */
#define SENSOR_CONFIG_BITS 0x1F

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

/* ---- the 24C EEPROM family ---- */

/* The makers' figures per type (Atmel AT24C01A-16, Microchip 24LC01B-512):
 * block bits are the device address's low bits that a chip of more than
 * 256 bytes with one word-address byte takes as the word address's high
 * bits (P0..P2); it answers at all the addresses they span. */
struct EepromModel {
    const char* name;
    uint32_t size;      /* bytes */
    uint32_t page;      /* page-buffer bytes */
    uint32_t wordBytes; /* word-address bytes, high first */
    uint32_t blockBits;
};

static const struct EepromModel EEPROMS[BUS_EEPROM_TYPE_COUNT] = {
    [BUS_EEPROM_24C02] = {"24C02", 256, 8, 1, 0},        [BUS_EEPROM_24C01] = {"24C01", 128, 8, 1, 0},
    [BUS_EEPROM_24C04] = {"24C04", 512, 16, 1, 1},       [BUS_EEPROM_24C08] = {"24C08", 1024, 16, 1, 2},
    [BUS_EEPROM_24C16] = {"24C16", 2048, 16, 1, 3},      [BUS_EEPROM_24C32] = {"24C32", 4096, 32, 2, 0},
    [BUS_EEPROM_24C64] = {"24C64", 8192, 32, 2, 0},      [BUS_EEPROM_24C128] = {"24C128", 16384, 64, 2, 0},
    [BUS_EEPROM_24C256] = {"24C256", 32768, 64, 2, 0},   [BUS_EEPROM_24C512] = {"24C512", 65536, 128, 2, 0},
};

static const struct EepromModel* Eeprom(const struct CouplerBus* bus)
{
    return &EEPROMS[bus->eeprom.type < BUS_EEPROM_TYPE_COUNT ? bus->eeprom.type : BUS_EEPROM_24C02];
}

static int EepromBusy(const struct CouplerBus* bus, int64_t now) { return now < bus->eeprom.busyUntil; }

/* The block the device address selects, as word-address bits 8 and up. */
static uint32_t EepromBlock(const struct CouplerBus* bus)
{
    return ((bus->decoder.address >> 1) & ((1u << Eeprom(bus)->blockBits) - 1)) << 8;
}

/* It does not acknowledge its address during the write cycle (a master
 * polls). A block-select chip's current-address read takes the block from
 * the device address and the rest from its counter. */
static int EepromSelect(struct CouplerBus* bus, int read, int64_t now)
{
    struct BusEeprom* chip = &bus->eeprom;
    if (EepromBusy(bus, now))
        return 0;
    memset(chip->mask, 0, sizeof chip->mask);
    chip->wordSeen = 0;
    if (read && Eeprom(bus)->blockBits)
        chip->pointer = EepromBlock(bus) | (chip->pointer & 0xFF);
    return 1;
}

/* The word address first (one byte, or two high first; a block-select chip
 * adds its block), then data into the page buffer: the pointer's offset in
 * the page counts and wraps within the page, later bytes overwriting earlier
 * ones. Makers whose WP refuses the data bytes NACK them. */
static int EepromWrite(struct CouplerBus* bus, uint32_t value, int64_t now)
{
    struct BusEeprom* chip = &bus->eeprom;
    const struct EepromModel* model = Eeprom(bus);
    (void)now;
    if (chip->wordSeen < model->wordBytes) {
        if (model->wordBytes == 2 && chip->wordSeen == 0)
            chip->pointer = (value << 8) & (model->size - 1);
        else if (model->wordBytes == 2)
            chip->pointer = (chip->pointer & 0xFF00) | (value & 0xFF);
        else
            chip->pointer = (EepromBlock(bus) | (value & 0xFF)) & (model->size - 1);
        ++chip->wordSeen;
        return 1;
    }
    if (chip->writeProtect == BUS_WP_REFUSE)
        return 0;
    uint32_t offset = chip->pointer & (model->page - 1);
    chip->page[offset] = (uint8_t)value;
    chip->mask[offset / 32] |= 1u << (offset % 32);
    chip->pointer = (chip->pointer & ~(model->page - 1)) | ((offset + 1) & (model->page - 1));
    return 1;
}

/* Sequential reads run over the whole array and roll over at its end. */
static uint32_t EepromRead(struct CouplerBus* bus)
{
    uint32_t value = bus->memory[bus->eeprom.pointer];
    bus->eeprom.pointer = (bus->eeprom.pointer + 1) & (Eeprom(bus)->size - 1);
    return value;
}

/* The page buffer goes to the array only at a STOP after whole bytes; with WP
 * high the chip starts no write cycle and is ready at once. */
static void EepromStop(struct CouplerBus* bus, int clean, int64_t now)
{
    struct BusEeprom* chip = &bus->eeprom;
    uint32_t page = Eeprom(bus)->page, any = chip->mask[0] | chip->mask[1] | chip->mask[2] | chip->mask[3];
    if (clean && !(bus->decoder.address & 1) && any && chip->writeProtect == BUS_WP_OFF) {
        uint32_t base = chip->pointer & ~(page - 1);
        for (uint32_t offset = 0; offset < page; ++offset)
            if (chip->mask[offset / 32] & (1u << (offset % 32)))
                bus->memory[base + offset] = chip->page[offset];
        chip->busyUntil = now + chip->cycleTicks;
    }
    memset(chip->mask, 0, sizeof chip->mask);
    chip->wordSeen = 0;
}

/* A block-select type answers at every address its block bits span. */
static int EepromAnswers(const struct CouplerBus* bus, uint32_t address7)
{
    return (address7 & ~((1u << Eeprom(bus)->blockBits) - 1)) == EEPROM_ADDRESS;
}

/* ---- the PCF8574 ---- */

/* Quasi-bidirectional pins: a latch 1 is a weak pull-up that the outside
 * world can pull down, a latch 0 drives low. */
static uint32_t PortPins(const struct CouplerBus* bus) { return bus->expander.latch & bus->expander.inputs; }

static int ExpanderSelect(struct CouplerBus* bus, int read, int64_t now)
{
    (void)bus, (void)read, (void)now;
    return 1;
}

/* Writing the port sets the latch and resets INT. */
static int ExpanderWrite(struct CouplerBus* bus, uint32_t value, int64_t now)
{
    (void)now;
    bus->expander.latch = value & 0xFF;
    bus->expander.lastPort = PortPins(bus);
    return 1;
}

/* Reading the port returns the pin levels and resets INT. */
static uint32_t ExpanderRead(struct CouplerBus* bus)
{
    bus->expander.lastPort = PortPins(bus);
    return bus->expander.lastPort;
}

/* ---- the LM75 ---- */

static int SensorPullsOsLow(const struct CouplerBus* bus)
{
    uint32_t activeHigh = (bus->sensor.config & SENSOR_POLARITY) != 0;
    return bus->sensor.osActive != activeHigh;
}

/* One conversion. O.S. changes once as many conversions in a row as the
 * fault queue asks (1, 2, 4, 6) have met the next event's condition: a
 * temperature above Tos, or below Thyst once O.S. went active. In comparator
 * mode O.S. follows those events; in interrupt mode each event makes O.S.
 * active, and only a read of a register makes it inactive. */
static void SensorConvert(struct CouplerBus* bus)
{
    static const uint32_t QUEUE[4] = {1, 2, 4, 6};
    struct BusSensor* chip = &bus->sensor;
    if (chip->config & SENSOR_SHUTDOWN)
        return;
    chip->temperature = chip->ambient;
    int met = chip->expectBelow ? chip->temperature < chip->hysteresis : chip->temperature > chip->overTemp;
    if (!met) {
        chip->faults = 0;
        return;
    }
    if (++chip->faults < QUEUE[(chip->config >> SENSOR_QUEUE_SHIFT) & 3])
        return;
    chip->faults = 0;
    chip->expectBelow = !chip->expectBelow;
    chip->osActive = (chip->config & SENSOR_INTERRUPT) ? 1 : chip->expectBelow;
}

/* Reserved bits 5-7 stay 0. A change of the O.S. mode starts it inactive;
 * shutdown in interrupt mode resets O.S.; leaving shutdown converts at once. */
static void SensorConfigure(struct BusSensor* chip, uint32_t value)
{
    uint32_t old = chip->config;
    chip->config = value & SENSOR_CONFIG_BITS;
    if ((old ^ chip->config) & SENSOR_INTERRUPT)
        chip->osActive = chip->expectBelow = chip->faults = 0;
    if ((chip->config & SENSOR_SHUTDOWN) && (chip->config & SENSOR_INTERRUPT))
        chip->osActive = 0;
}

static int SensorSelect(struct CouplerBus* bus, int read, int64_t now)
{
    (void)read, (void)now;
    bus->sensor.byteNext = 0;
    return 1;
}

/* The first byte written sets the pointer; then the configuration (one byte)
 * or a limit (MSB, then LSB); the temperature itself is read-only. */
static int SensorWrite(struct CouplerBus* bus, uint32_t value, int64_t now)
{
    struct BusSensor* chip = &bus->sensor;
    (void)now;
    if (bus->decoder.byteIndex == 1) {
        chip->pointer = value & 3;
        chip->byteNext = 0;
    } else if (chip->pointer == 1) {
        uint32_t wasShutDown = chip->config & SENSOR_SHUTDOWN;
        SensorConfigure(chip, value);
        if (wasShutDown && !(chip->config & SENSOR_SHUTDOWN))
            SensorConvert(bus);
    } else if (chip->pointer >= 2 && chip->byteNext == 0) {
        chip->regLatch = value;
        chip->byteNext = 1;
    } else if (chip->pointer >= 2) {
        int32_t half = (int32_t)((chip->regLatch << 1) | (value >> 7));
        if (half & 0x100)
            half -= 0x200;
        *(chip->pointer == 2 ? &chip->hysteresis : &chip->overTemp) = half;
        chip->byteNext = 0;
    }
    return 1;
}

/* A temperature register as sent: 9-bit two's complement in half degrees,
 * MSB first, the LSB's top bit holding the half. Any read resets O.S. in
 * interrupt mode. */
static uint32_t SensorRead(struct CouplerBus* bus)
{
    struct BusSensor* chip = &bus->sensor;
    if (chip->config & SENSOR_INTERRUPT)
        chip->osActive = 0;
    if (chip->pointer == 1)
        return chip->config;
    int32_t half = chip->pointer == 0 ? chip->temperature : chip->pointer == 2 ? chip->hysteresis : chip->overTemp;
    uint32_t value = chip->byteNext == 0 ? ((uint32_t)half >> 1) & 0xFF : ((uint32_t)half & 1) << 7;
    chip->byteNext ^= 1;
    return value;
}

static void NoStop(struct CouplerBus* bus, int clean, int64_t now) { (void)bus, (void)clean, (void)now; }

static int ExpanderAnswers(const struct CouplerBus* bus, uint32_t address7)
{
    (void)bus;
    return address7 == EXPANDER_ADDRESS;
}

static int SensorAnswers(const struct CouplerBus* bus, uint32_t address7)
{
    (void)bus;
    return address7 == SENSOR_ADDRESS;
}

/* ---- the chip table ---- */

struct ChipModel {
    uint32_t bit;
    int (*answers)(const struct CouplerBus* bus, uint32_t address7);   /* the address is its own */
    int (*select)(struct CouplerBus* bus, int read, int64_t now);        /* addressed: 1 acknowledges */
    int (*write)(struct CouplerBus* bus, uint32_t value, int64_t now);   /* a data byte: 1 acknowledges */
    uint32_t (*read)(struct CouplerBus* bus);                             /* the next byte it sends */
    void (*stop)(struct CouplerBus* bus, int clean, int64_t now);        /* it leaves the transfer */
};

static const struct ChipModel CHIPS[] = {
    {BUS_CHIP_EEPROM, EepromAnswers, EepromSelect, EepromWrite, EepromRead, EepromStop},
    {BUS_CHIP_EXPANDER, ExpanderAnswers, ExpanderSelect, ExpanderWrite, ExpanderRead, NoStop},
    {BUS_CHIP_SENSOR, SensorAnswers, SensorSelect, SensorWrite, SensorRead, NoStop},
};
#define CHIP_COUNT (sizeof CHIPS / sizeof CHIPS[0])

static const struct ChipModel* ChipByBit(uint32_t bit)
{
    for (size_t i = 0; i < CHIP_COUNT; ++i)
        if (CHIPS[i].bit == bit)
            return &CHIPS[i];
    return 0;
}

static const struct ChipModel* ChipAt(const struct CouplerBus* bus, uint32_t address7)
{
    for (size_t i = 0; i < CHIP_COUNT; ++i)
        if (CHIPS[i].answers(bus, address7))
            return &CHIPS[i];
    return 0;
}

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
    uint32_t address = bus->decoder.shift & 0xFF, read = address & 1;
    const struct ChipModel* chip = ChipAt(bus, address >> 1);
    bus->decoder.address = address;
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
                       (bus->decoder.dtr ? BUS_TRACE_DTR : 0);
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

/* A START or STOP while SCL is high right after a rise: that rise was no
 * data bit. Returns the bits the interrupted byte had (0: it ended cleanly). */
static uint32_t BitsBeforeCondition(struct BusDecoder* decoder)
{
    if (decoder->risenHigh && decoder->bit > 0)
        --decoder->bit;
    decoder->risenHigh = 0;
    return decoder->bit;
}

static void Start(struct CouplerBus* bus, int64_t now)
{
    struct BusDecoder* decoder = &bus->decoder;
    if (decoder->inTransfer) {
        if (BitsBeforeCondition(decoder))
            Log(bus, BUS_EVENT_CUT, 0, now);
        Log(bus, BUS_EVENT_RESTART, 0, now);
    } else {
        Log(bus, BUS_EVENT_START, 0, now);
    }
    DropTransfer(bus, 0, now);
    decoder->inTransfer = 1;
    decoder->bit = decoder->byteIndex = decoder->shift = 0;
}

static void Stop(struct CouplerBus* bus, int64_t now)
{
    struct BusDecoder* decoder = &bus->decoder;
    if (!decoder->inTransfer)
        return;
    uint32_t bits = BitsBeforeCondition(decoder);
    if (bits)
        Log(bus, BUS_EVENT_CUT, 0, now);
    Log(bus, BUS_EVENT_STOP, 0, now);
    DropTransfer(bus, bits == 0, now);
    decoder->inTransfer = 0;
    decoder->bit = 0;
}

/* The wire may have changed: a fall while SCL is high is a START, a rise a
 * STOP, whoever made it (the master, the coupler, a fault). */
static void WireChanged(struct CouplerBus* bus, int64_t now)
{
    uint32_t level = Wire(bus, now);
    if (level == bus->decoder.level)
        return;
    bus->decoder.level = level;
    if (bus->decoder.scl) {
        if (level)
            Stop(bus, now);
        else
            Start(bus, now);
    }
    bus->decoder.level = Wire(bus, now);
    Trace(bus, now);
}

/* What happened by itself since the last call, each at its own time: a slow
 * SDA path passing a DTR level held long enough, a timed short to ground. */
static void CatchUp(struct CouplerBus* bus, int64_t now)
{
    struct BusCouplerSda* coupler = &bus->coupler;
    int64_t passAt = coupler->dtrChanged + coupler->delayTicks;
    int passDue = coupler->path == BUS_SDA_SLOW && coupler->passed != bus->decoder.dtr && now >= passAt;
    int laterDue = bus->fault == BUS_FAULT_SDA_LOW_LATER && !bus->later.fired && bus->later.at > 0 &&
                   now >= bus->later.at;
    if (laterDue && (!passDue || bus->later.at <= passAt)) {
        bus->later.fired = 1;
        WireChanged(bus, bus->later.at);
    }
    if (passDue) {
        coupler->passed = bus->decoder.dtr;
        WireChanged(bus, passAt);
    }
    if (laterDue && !bus->later.fired) {
        bus->later.fired = 1;
        WireChanged(bus, bus->later.at);
    }
}

/* ---- the decoder ---- */

/* SCL rose: everybody samples SDA. Bits 1..8 shift in, bit 9 is the
 * acknowledge (low: ACK). A NACK from the master ends the chip's sending. */
static void Rise(struct CouplerBus* bus, int64_t now)
{
    struct BusDecoder* decoder = &bus->decoder;
    decoder->risenHigh = 0;
    if (!decoder->inTransfer || decoder->bit >= 9)
        return;
    ++decoder->bit;
    decoder->risenHigh = 1;
    if (decoder->bit <= 8) {
        decoder->shift = ((decoder->shift << 1) | decoder->level) & 0xFF;
        if (decoder->bit == 8)
            Log(bus, decoder->byteIndex == 0 ? BUS_EVENT_ADDRESS : BUS_EVENT_BYTE, decoder->shift, now);
        return;
    }
    Log(bus, decoder->level ? BUS_EVENT_NACK : BUS_EVENT_ACK, 0, now);
    if (decoder->byteIndex > 0 && bus->slave.sending && decoder->level)
        bus->slave.sending = 0;
}

/* SCL fell: the chip in the transfer changes its SDA now, and only now. */
static void Fall(struct CouplerBus* bus, int64_t now)
{
    struct BusDecoder* decoder = &bus->decoder;
    struct BusSlave* slave = &bus->slave;
    const struct ChipModel* chip = ChipByBit(slave->chip);
    decoder->sclFell = now;
    decoder->risenHigh = 0;
    if (!decoder->inTransfer)
        return;
    if (decoder->bit == 8) {
        if (decoder->byteIndex == 0)
            Address(bus, now);
        else if (chip && !(decoder->address & 1))
            slave->drive = chip->write(bus, decoder->shift, now) ? 0 : 1;
        else
            slave->drive = 1; /* the master's acknowledge */
    } else if (decoder->bit == 9) {
        slave->drive = 1;
        decoder->bit = decoder->shift = 0;
        ++decoder->byteIndex;
        if (chip && slave->sending) {
            slave->txByte = slave->forceZero ? 0 : chip->read(bus);
            slave->forceZero = 0;
            slave->drive = (slave->txByte >> 7) & 1;
        }
    } else if (decoder->bit > 0 && chip && slave->sending) {
        slave->drive = (slave->txByte >> (7 - decoder->bit)) & 1;
    }
}

static void DtrChange(struct CouplerBus* bus, uint32_t dtr, int64_t now)
{
    if (dtr == bus->decoder.dtr)
        return;
    bus->decoder.dtr = dtr;
    bus->coupler.dtrChanged = now;
    if (bus->coupler.path != BUS_SDA_SLOW)
        bus->coupler.passed = dtr;
    WireChanged(bus, now);
}

void BusLines(struct CouplerBus* bus, int scl, int sda, int64_t now)
{
    struct BusDecoder* decoder = &bus->decoder;
    uint32_t newScl = scl != 0, newDtr = sda != 0;
    if (newScl == decoder->scl && newDtr == decoder->dtr)
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
    if (newScl != decoder->scl && newDtr != decoder->dtr) {
        Log(bus, BUS_EVENT_BOTH, 0, now);
        if (!decoder->inTransfer)
            Log(bus, BUS_EVENT_END, 0, now);
    }
    if (newScl)
        DtrChange(bus, newDtr, now);
    if (newScl != decoder->scl) {
        decoder->scl = newScl;
        decoder->level = Wire(bus, now);
        Trace(bus, now);
        if (newScl)
            Rise(bus, now);
        else
            Fall(bus, now);
        decoder->level = Wire(bus, now);
        Trace(bus, now);
    }
    DtrChange(bus, newDtr, now);
    Trace(bus, now);
    if (bus->fault == BUS_FAULT_SDA_LOW_LATER && bus->later.changesLeft > 0 && --bus->later.changesLeft == 0) {
        bus->later.fired = 1;
        WireChanged(bus, now);
    }
}

int BusPullsIntLow(const struct CouplerBus* bus, int64_t now)
{
    (void)now;
    if ((bus->chips & BUS_CHIP_EXPANDER) && PortPins(bus) != bus->expander.lastPort)
        return 1;
    return (bus->chips & BUS_CHIP_SENSOR) && bus->sensor.osToInt && SensorPullsOsLow(bus);
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
    bus->decoder.scl = scl != 0;
    bus->decoder.dtr = sda != 0;
    if (bus->coupler.path != BUS_SDA_SLOW)
        bus->coupler.passed = bus->decoder.dtr;
    bus->slave.drive = 1;
    bus->later.changesLeft = -1;
    bus->decoder.level = Wire(bus, bus->coupler.dtrChanged);
    bus->eeprom.cycleTicks = WRITE_CYCLE_TICKS;
    bus->expander.latch = bus->expander.lastPort = 0xFF;
    bus->expander.inputs = inputs;
    bus->sensor.hysteresis = 150; /* 75 degC */
    bus->sensor.overTemp = 160;   /* 80 degC */
    bus->sensor.ambient = bus->sensor.temperature = 43; /* 21.5 degC */
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
    decoder->inTransfer = decoder->bit = decoder->risenHigh = 0;
    bus->fault = fault < BUS_FAULT_COUNT ? fault : (uint32_t)BUS_FAULT_NONE;
    bus->later.changesLeft = -1;
    bus->later.fired = 0;
    bus->later.at = 0;
    int stuck = bus->fault == BUS_FAULT_STUCK_SLAVE || bus->fault == BUS_FAULT_STUCK_SLAVE_9;
    if (stuck && (bus->chips & BUS_CHIP_EEPROM)) {
        int nine = bus->fault == BUS_FAULT_STUCK_SLAVE_9;
        decoder->inTransfer = 1;
        decoder->byteIndex = nine ? 0 : 1;
        decoder->bit = nine ? 8 : 0;
        decoder->address = (EEPROM_ADDRESS << 1) | 1;
        decoder->shift = nine ? decoder->address : 0;
        bus->slave.chip = BUS_CHIP_EEPROM;
        bus->slave.sending = 1;
        bus->slave.txByte = 0x00;
        bus->slave.forceZero = (uint32_t)nine;
        bus->slave.drive = 0;
    }
    decoder->level = Wire(bus, now);
    Trace(bus, now);
}

void BusSetFault(struct CouplerBus* bus, uint32_t fault, int64_t now)
{
    SetFault(bus, fault, now);
    if (bus->fault == BUS_FAULT_SDA_LOW_LATER) {
        bus->later.fired = 1;
        bus->decoder.level = Wire(bus, now);
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
        bus->coupler.passed = bus->decoder.dtr;
    WireChanged(bus, now);
}

void BusSetSdaHeld(struct CouplerBus* bus, int held, int64_t now)
{
    bus->seen = now;
    CatchUp(bus, now);
    bus->coupler.held = held != 0;
    WireChanged(bus, now);
}

void BusSetExpanderInputs(struct CouplerBus* bus, uint8_t inputs, int64_t now)
{
    bus->seen = now;
    bus->expander.inputs = inputs;
}

void BusSetTemperature(struct CouplerBus* bus, int32_t halfDegrees)
{
    if (halfDegrees < -256)
        halfDegrees = -256;
    if (halfDegrees > 255)
        halfDegrees = 255;
    bus->sensor.ambient = halfDegrees;
    SensorConvert(bus);
}

void BusSetWriteProtect(struct CouplerBus* bus, int on)
{
    bus->eeprom.writeProtect = on == 0 ? BUS_WP_OFF : on == BUS_WP_REFUSE ? BUS_WP_REFUSE : BUS_WP_ACK;
}

void BusSetSensorInterrupt(struct CouplerBus* bus, int wiredToInt) { bus->sensor.osToInt = wiredToInt != 0; }

uint8_t* BusEepromMemory(struct CouplerBus* bus) { return bus->memory; }

uint32_t BusEepromSize(const struct CouplerBus* bus) { return Eeprom(bus)->size; }

const char* BusEepromTypeName(uint32_t type) { return type < BUS_EEPROM_TYPE_COUNT ? EEPROMS[type].name : ""; }

int BusEepromTypeNamed(const char* name)
{
    for (int type = 0; type < BUS_EEPROM_TYPE_COUNT; ++type) {
        const char *a = EEPROMS[type].name, *b = name;
        while (*a && (*a == *b || (*a == 'C' && *b == 'c')))
            ++a, ++b;
        if (!*a && !*b)
            return type;
    }
    return -1;
}

int BusSetEepromType(struct CouplerBus* bus, uint32_t type)
{
    if (type >= BUS_EEPROM_TYPE_COUNT)
        return 0;
    uint32_t writeProtect = bus->eeprom.writeProtect;
    if (bus->slave.chip == BUS_CHIP_EEPROM)
        DropTransfer(bus, 0, bus->seen);
    memset(&bus->eeprom, 0, sizeof bus->eeprom);
    bus->eeprom.type = type;
    bus->eeprom.writeProtect = writeProtect;
    bus->eeprom.cycleTicks = WRITE_CYCLE_TICKS;
    memset(bus->memory, 0xFF, sizeof bus->memory);
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

static const char* const FAULT_NAMES[BUS_FAULT_COUNT] = {
    "", "fault stuck-slave", "fault no-ack", "fault no-pullup", "fault scl-timeout", "fault stuck-slave-9",
    "fault sda-low-later"};

/* Appends one part of the description, two blanks after the previous one. */
static void Part(char* text, uint32_t size, const char* part)
{
    size_t used = strlen(text);
    if (*part && used + 3 < size)
        snprintf(text + used, size - used, "%s%s", used ? "  " : "", part);
}

void BusDescribeAt(const struct CouplerBus* bus, int64_t now, char* text, uint32_t size)
{
    static const char* const WP[] = {"", " WP", " WP refusing"};
    static const char* const PATH[] = {"", "SDA stuck low", "SDA stuck high", "SDA slow"};
    char part[112];
    if (!size)
        return;
    text[0] = 0;
    if (bus->chips & BUS_CHIP_EEPROM) {
        const struct EepromModel* model = Eeprom(bus);
        snprintf(part, sizeof part, "EEPROM %s ptr %0*X page %0*X %s%s", model->name, model->size > 256 ? 4 : 2,
                 (unsigned)bus->eeprom.pointer, model->size > 256 ? 4 : 2,
                 (unsigned)(bus->eeprom.pointer & ~(model->page - 1)), EepromBusy(bus, now) ? "writing" : "ready",
                 WP[bus->eeprom.writeProtect <= BUS_WP_REFUSE ? bus->eeprom.writeProtect : 0]);
        Part(text, size, part);
    }
    if (bus->chips & BUS_CHIP_EXPANDER) {
        snprintf(part, sizeof part, "port latch %02X inputs %02X INT %s", (unsigned)bus->expander.latch,
                 (unsigned)bus->expander.inputs, PortPins(bus) != bus->expander.lastPort ? "low" : "high");
        Part(text, size, part);
    }
    if (bus->chips & BUS_CHIP_SENSOR) {
        int32_t t = bus->sensor.temperature;
        snprintf(part, sizeof part, "temp %s%d.%d C ptr %u config %02X O.S. %s%s", t < 0 ? "-" : "",
                 (int)((t < 0 ? -t : t) / 2), (t & 1) ? 5 : 0, (unsigned)bus->sensor.pointer,
                 (unsigned)bus->sensor.config, bus->sensor.osActive ? "active" : "off",
                 bus->sensor.osToInt ? " on INT" : "");
        Part(text, size, part);
    }
    if (!bus->chips)
        Part(text, size, "no chips");
    Part(text, size, bus->coupler.held ? "SDA held" : "");
    Part(text, size, PATH[bus->coupler.path <= BUS_SDA_SLOW ? bus->coupler.path : 0]);
    Part(text, size, FAULT_NAMES[bus->fault < BUS_FAULT_COUNT ? bus->fault : 0]);
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
