// xfer: the messages of the list in one transfer; the bytes each read, a line each.
#include <stdio.h>

#include <string>
#include <vector>

#include "console/output.h"
#include "i2c/messages.h"
#include "i2ctool/job.h"

int XferCommand(I2cJob* job, Json* out)
{
    std::vector<XferMessage> messages = job->options.messages;
    std::vector<I2cMessage> list;
    int32_t total = 0;  // at most 65536: xfer's list is bounded
    I2cWork work = {1, 0, 0, 0, 0};
    for (XferMessage& message : messages) {
        int count = static_cast<int>(message.bytes.size());
        list.push_back({message.address, message.read, message.bytes.data(), count});
        total += count;
        (message.read ? work.bytesRead : work.bytesWritten) += count;
        work.bytesWritten++, work.answered++;  // its address
    }
    Plan(job, "Byte", total, work, true);
    int done = 0;
    I2cStatus status = I2cMessages(&job->master, list.data(), static_cast<int>(list.size()), &done);
    // The refusal names the chip of the message it ended.
    if (status != I2C_OK)
        return Fail(job, status, messages[static_cast<size_t>(done < static_cast<int>(list.size()) ? done : 0)].address);
    JsonKey(out, "messages"), JsonArray(out);
    for (const XferMessage& message : messages) {
        std::string line;
        for (uint8_t byte : message.bytes) {
            char text[8];
            snprintf(text, sizeof text, "%s0x%02x", line.empty() ? "" : " ", byte);
            line += text;
        }
        if (message.read)
            Say(SAY_ALWAYS, "%s", line.c_str());
        JsonObject(out);
        JsonKey(out, "address"), JsonInt(out, message.address);
        JsonKey(out, "read"), JsonBool(out, message.read);
        JsonBytes(out, "bytes", message.bytes.data(), static_cast<int>(message.bytes.size()));
        JsonEnd(out);
    }
    JsonEnd(out);
    return EXIT_DONE;
}
