#include "i2c/bits.h"

#include "i2c/lines.h"

namespace {

// A slave left in the middle of a read releases SDA within eight bits and the
// acknowledge clock.
constexpr int CLEAR_CLOCKS = 9;

// The bus as this job left it; reset by BitsBegin.
bool inTransfer = false;  // a START was made and no STOP since: SCL is low between bits
bool idleSeen = false;    // SDA read high after the last STOP and nothing switched since
int freed = 0;            // bus clears this job

I2cStatus Failed() { return I2C_LINE_FAILED; }

// Reads SDA; -1 when the line call failed.
int Sda()
{
    int sda = 0;
    return LinesSample(&sda, nullptr) ? sda : -1;
}

}  // namespace

I2cStatus BitsBegin(int32_t port)
{
    inTransfer = idleSeen = false;
    freed = 0;
    if (!LinesAttach(port))
        return Failed();
    EchoResult echo = LinesMeasure();
    if (echo == ECHO_SDA_HELD_LOW) {
        // Freed with the limit as the echo time, then measured for real.
        I2cStatus cleared = BitsClear();
        if (cleared != I2C_OK)
            return cleared;
        echo = LinesMeasure();
    }
    switch (echo) {
    case ECHO_OK:
        return I2C_OK;
    case ECHO_SDA_HELD_LOW:
        return I2C_BLOCKED;
    case ECHO_SDA_STUCK_HIGH:
        return I2C_SDA_STUCK_HIGH;
    default:
        return Failed();
    }
}

void BitsEnd()
{
    if (inTransfer && !LinesFailed())
        BitsStop();
    inTransfer = false;
    LinesRelease();
}

int BitsFreed() { return freed; }

I2cStatus BitsStart()
{
    if (inTransfer) {
        // Repeated START: SDA high while SCL is low, SCL high, then SDA low.
        if (!LinesSda(1) || !LinesScl(1))
            return Failed();
    } else if (!idleSeen) {
        int sda = Sda();
        if (sda < 0)
            return Failed();
        if (!sda) {
            I2cStatus cleared = BitsClear();
            if (cleared != I2C_OK)
                return cleared;
        }
    }
    idleSeen = false;
    inTransfer = true;
    return LinesSda(0) && LinesScl(0) ? I2C_OK : Failed();
}

I2cStatus BitsStop()
{
    inTransfer = false;
    if (!LinesSda(0) || !LinesScl(1) || !LinesSda(1))
        return Failed();
    int sda = Sda();
    if (sda < 0)
        return Failed();
    idleSeen = sda == 1;
    return idleSeen ? I2C_OK : I2C_BLOCKED;
}

I2cStatus BitsWrite(uint8_t byte)
{
    for (int bit = 7; bit >= 0; bit--)
        if (!LinesSda((byte >> bit) & 1) || !LinesScl(1) || !LinesScl(0))
            return Failed();
    // The acknowledge: SDA released, sampled while SCL is high.
    if (!LinesSda(1) || !LinesScl(1))
        return Failed();
    int sda = Sda();
    if (sda < 0 || !LinesScl(0))
        return Failed();
    return sda ? I2C_NACK : I2C_OK;
}

I2cStatus BitsRead(uint8_t* byte, bool ack)
{
    if (!LinesSda(1))
        return Failed();
    unsigned value = 0;
    for (int bit = 0; bit < 8; bit++) {
        int sda = LinesScl(1) ? Sda() : -1;
        if (sda < 0 || !LinesScl(0))
            return Failed();
        value = value << 1 | static_cast<unsigned>(sda);
    }
    *byte = static_cast<uint8_t>(value);
    // The master's acknowledge; without it the slave lets go of the bus.
    return LinesSda(ack ? 0 : 1) && LinesScl(1) && LinesScl(0) ? I2C_OK : Failed();
}

I2cStatus BitsClear()
{
    freed++;
    if (!LinesSda(1) || !LinesScl(1))
        return Failed();
    for (int clocks = 0;; clocks++) {
        int sda = Sda();
        if (sda < 0)
            return Failed();
        if (sda)
            break;
        if (clocks == CLEAR_CLOCKS)
            return I2C_BLOCKED;
        if (!LinesScl(0) || !LinesScl(1))
            return Failed();
    }
    inTransfer = true;
    if (!LinesSda(0))
        return Failed();
    return BitsStop();
}
