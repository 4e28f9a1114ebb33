#include "i2c/messages.h"

namespace {

// The job's progress callback, set by I2cOnByte; nullptr when none.
void (*onByte)() = nullptr;

void Moved()
{
    if (onByte)
        onByte();
}

// START (or repeated START) and the address byte.
I2cStatus Address(int address, int read)
{
    I2cStatus status = BitsStart();
    return status == I2C_OK ? BitsWrite(static_cast<uint8_t>(address << 1 | read)) : status;
}

}  // namespace

void I2cOnByte(void (*callback)()) { onByte = callback; }

I2cStatus I2cTransfer(int address, const uint8_t* out, int outCount, uint8_t* in, int inCount)
{
    I2cStatus status = I2C_OK;
    if (outCount > 0 || inCount == 0) {
        status = Address(address, 0);
        for (int i = 0; i < outCount && status == I2C_OK; i++, Moved())
            if ((status = BitsWrite(out[i])) == I2C_NACK)
                status = I2C_NACK_DATA;
    }
    if (inCount > 0 && status == I2C_OK) {
        status = Address(address, 1);
        for (int i = 0; i < inCount && status == I2C_OK; i++, Moved())
            status = BitsRead(&in[i], i + 1 < inCount);
    }
    if (status == I2C_LINE_FAILED)
        return status;
    // The worse of the two: a bus held after the STOP outweighs a refusal.
    I2cStatus stop = BitsStop();
    return stop > status ? stop : status;
}
