#include "i2c/bits.h"

namespace {

// A slave stuck in the middle of a byte it sends lets go of SDA within eight
// data bits and the acknowledge clock: nine clocks free any of them.
constexpr int CLEAR_CLOCKS = 9;

bool Planned(const I2cMaster* master) { return master->plan.lines != nullptr; }

// SDA on the wire; -1 when the line call failed. Planned: the plan runs.
int Sda(I2cMaster* master)
{
    return Planned(master) ? PlanSda(&master->plan) : LinesSample(master->lines, LINE_SDA_IN);
}

bool Sda(I2cMaster* master, int level)
{
    return Planned(master) ? PlanSwitch(&master->plan, LINE_SDA_OUT, level)
                           : LinesSwitch(master->lines, LINE_SDA_OUT, level);
}
bool Scl(I2cMaster* master, int level)
{
    return Planned(master) ? PlanSwitch(&master->plan, LINE_SCL_OUT, level)
                           : LinesSwitch(master->lines, LINE_SCL_OUT, level);
}

EchoResult Measure(I2cMaster* master, bool afterActivity = false)
{
    return Planned(master) ? PlanMeasure(&master->plan, afterActivity)
                           : LinesMeasureEcho(master->lines, afterActivity);
}

// A bus that stays low: held by a slave, or DSR never seen on at all, which
// points at the coupler's supply or wiring rather than at a chip.
I2cStatus Held(const I2cMaster* master) { return master->lines->sdaSeenHigh ? I2C_BLOCKED : I2C_DSR_NEVER_HIGH; }

I2cStatus FromEcho(const I2cMaster* master, EchoResult echo)
{
    switch (echo) {
    case ECHO_OK:
        return I2C_OK;
    case ECHO_SDA_HELD_LOW:
    case ECHO_NEVER_HIGH:
        return Held(master);
    case ECHO_SDA_STUCK_HIGH:
        return I2C_SDA_STUCK_HIGH;
    case ECHO_TOO_SLOW:
        return I2C_ADAPTER_TOO_SLOW;
    case ECHO_LINE_FAILED:
        break;
    }
    return I2C_LINE_FAILED;
}

}  // namespace

I2cStatus BitsBegin(I2cMaster* master, Lines* lines)
{
    *master = I2cMaster{};
    master->lines = lines;
    if (PlanPossible(lines))
        PlanOpen(&master->plan, lines);
    // Until measured, every sample waits the longest echo a working adapter has.
    LinesUseEcho(lines, ECHO_LIMIT_MS);
    EchoResult echo = Measure(master);
    if (echo == ECHO_SDA_HELD_LOW || echo == ECHO_NEVER_HIGH) {
        // Freed with the limit as the echo time, then measured for real.
        I2cStatus cleared = BitsClear(master);
        if (cleared != I2C_OK)
            return cleared;
        echo = Measure(master, true);
    }
    return FromEcho(master, echo);
}

void BitsEnd(I2cMaster* master)
{
    if (!master->lines)
        return;
    if (master->inTransfer && !LinesFailed(master->lines))
        BitsStop(master);
    LinesRelease(master->lines, master->inTransfer);
    master->inTransfer = false;
}

I2cStatus BitsStart(I2cMaster* master)
{
    if (master->inTransfer) {
        // Repeated START: SDA high while SCL is low, SCL high, then SDA low.
        if (!Sda(master, 1) || !Scl(master, 1))
            return I2C_LINE_FAILED;
    } else if (LinesSinceMeasured(master->lines) > ECHO_REFRESH_MS) {
        // Between transfers the bus is idle: the measurement sees no condition.
        I2cStatus echo = FromEcho(master, Measure(master));
        if (echo != I2C_OK)
            return echo;
        master->idleSeen = false;
        return BitsStart(master);
    } else if (!master->idleSeen) {
        int sda = Sda(master);
        if (sda < 0)
            return I2C_LINE_FAILED;
        if (!sda) {
            I2cStatus cleared = BitsClear(master);
            if (cleared != I2C_OK)
                return cleared;
        }
    }
    master->idleSeen = false;
    master->inTransfer = true;
    return Sda(master, 0) && Scl(master, 0) ? I2C_OK : I2C_LINE_FAILED;
}

I2cStatus BitsStop(I2cMaster* master)
{
    master->inTransfer = false;
    if (!Sda(master, 0) || !Scl(master, 1) || !Sda(master, 1))
        return I2C_LINE_FAILED;
    int sda = Sda(master);
    if (sda < 0)
        return I2C_LINE_FAILED;
    master->idleSeen = sda == 1;
    return master->idleSeen ? I2C_OK : I2C_BLOCKED;
}

I2cStatus BitsWrite(I2cMaster* master, uint8_t byte, bool confirm)
{
    for (int bit = 7; bit >= 0; bit--)
        if (!Sda(master, (byte >> bit) & 1) || !Scl(master, 1) || !Scl(master, 0))
            return I2C_LINE_FAILED;
    // The acknowledge: SDA released, sampled while SCL is high.
    if (!Sda(master, 1) || !Scl(master, 1))
        return I2C_LINE_FAILED;
    int sda = Sda(master);
    int same = !confirm || sda != 0 ? 1
               : Planned(master)      ? PlanConfirm(&master->plan, 0)
                                      : LinesConfirm(master->lines, LINE_SDA_IN, 0);
    if (sda < 0 || same < 0 || !Scl(master, 0))
        return I2C_LINE_FAILED;
    return !same ? I2C_ADAPTER_UNSTEADY : sda ? I2C_NACK : I2C_OK;
}

I2cStatus BitsRead(I2cMaster* master, uint8_t* byte, bool ack)
{
    if (!Sda(master, 1))
        return I2C_LINE_FAILED;
    unsigned value = 0;
    // Planned: each bit is filled in when the plan runs.
    for (int bit = 0; bit < 8 && Planned(master); bit++)
        if (!Scl(master, 1) || !PlanSampleInto(&master->plan, byte, static_cast<uint8_t>(0x80 >> bit)) ||
            !Scl(master, 0))
            return I2C_LINE_FAILED;
    for (int bit = 0; bit < 8 && !Planned(master); bit++) {
        int sda = Scl(master, 1) ? Sda(master) : -1;
        if (sda < 0 || !Scl(master, 0))
            return I2C_LINE_FAILED;
        value = value << 1 | static_cast<unsigned>(sda);
    }
    if (!Planned(master))
        *byte = static_cast<uint8_t>(value);
    // The master's acknowledge; without it the slave lets go of the bus.
    return Sda(master, ack ? 0 : 1) && Scl(master, 1) && Scl(master, 0) ? I2C_OK : I2C_LINE_FAILED;
}

I2cStatus BitsClear(I2cMaster* master)
{
    master->freed++;
    if (!Sda(master, 1) || !Scl(master, 1))
        return I2C_LINE_FAILED;
    for (int clocks = 0;; clocks++) {
        int sda = Sda(master);
        if (sda < 0)
            return I2C_LINE_FAILED;
        if (sda)
            break;
        if (clocks == CLEAR_CLOCKS)
            return Held(master);
        if (!Scl(master, 0) || !Scl(master, 1))
            return I2C_LINE_FAILED;
    }
    master->inTransfer = true;
    if (!Sda(master, 0))
        return I2C_LINE_FAILED;
    return BitsStop(master);
}
