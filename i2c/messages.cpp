#include "i2c/messages.h"

namespace {

void Moved(I2cMaster* master)
{
    if (master->onByte)
        master->onByte(master->context);
}

// START (or repeated START) and the address byte.
I2cStatus Address(I2cMaster* master, int address, int read)
{
    I2cStatus status = BitsStart(master);
    return status == I2C_OK ? BitsWrite(master, static_cast<uint8_t>(address << 1 | read)) : status;
}

}  // namespace

I2cStatus I2cTransfer(I2cMaster* master, int address, const uint8_t* out, int outCount, uint8_t* in,
                      int inCount)
{
    I2cStatus status = I2C_OK;
    if (outCount > 0 || inCount == 0) {
        status = Address(master, address, 0);
        for (int i = 0; i < outCount && status == I2C_OK; i++, Moved(master))
            if ((status = BitsWrite(master, out[i])) == I2C_NACK)
                status = I2C_NACK_DATA;
    }
    if (inCount > 0 && status == I2C_OK) {
        status = Address(master, address, 1);
        for (int i = 0; i < inCount && status == I2C_OK; i++, Moved(master))
            status = BitsRead(master, &in[i], i + 1 < inCount);
    }
    if (status == I2C_LINE_FAILED)
        return status;
    // The heavier of the two: a bus held after the STOP outweighs a refusal.
    I2cStatus stop = BitsStop(master);
    return stop > status ? stop : status;
}
