#include "i2c/messages.h"

namespace {

void Moved(I2cMaster* master)
{
    if (master->onByte)
        master->onByte(master->context);
}

// START (or repeated START), the address byte and the message's bytes.
I2cStatus Message(I2cMaster* master, const I2cMessage& message)
{
    I2cStatus status = BitsStart(master);
    if (status == I2C_OK)
        status = BitsWrite(master, static_cast<uint8_t>(message.address << 1 | (message.read ? 1 : 0)), true);
    for (int i = 0; i < message.count && status == I2C_OK; i++, Moved(master))
        if (message.read)
            status = BitsRead(master, &message.data[i], i + 1 < message.count);
        else if ((status = BitsWrite(master, message.data[i])) == I2C_NACK)
            status = I2C_NACK_DATA;
    return status;
}

}  // namespace

I2cStatus I2cMessages(I2cMaster* master, const I2cMessage* messages, int count, int* done)
{
    I2cStatus status = I2C_OK;
    int completed = 0;
    for (; completed < count && (status = Message(master, messages[completed])) == I2C_OK; completed++) {
    }
    if (done)
        *done = completed;
    if (status == I2C_LINE_FAILED)
        return status;
    // The heavier of the two: a bus held after the STOP outweighs a refusal.
    I2cStatus stop = BitsStop(master);
    return stop > status ? stop : status;
}

I2cStatus I2cTransfer(I2cMaster* master, int address, const uint8_t* out, int outCount, uint8_t* in,
                      int inCount)
{
    I2cMessage messages[2];
    int count = 0;
    // The bytes written are only read from: the message's pointer is shared.
    if (outCount > 0 || inCount == 0)
        messages[count++] = {address, false, const_cast<uint8_t*>(out), outCount};
    if (inCount > 0)
        messages[count++] = {address, true, in, inCount};
    return I2cMessages(master, messages, count, nullptr);
}
