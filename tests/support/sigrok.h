// What Debian's sigrok-cli decodes from a value change dump with its I2C
// decoder (channels SCL and SDA), in the bus log's words.
#pragma once

#include <stdio.h>

#include <string>

// sigrok-cli's annotations in the bus log's words: "S 48 W A 00 A Sr 48 R A 15 A 80 N P".
inline std::string SigrokI2c(const std::string& path)
{
    FILE* pipe = popen(("sigrok-cli -i '" + path + "' -I vcd -P i2c:scl=SCL:sda=SDA 2>&1").c_str(), "r");
    std::string log, line;
    for (int c; pipe && (c = fgetc(pipe)) != EOF;) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        std::string what = line.substr(line.find(": ") + 2), word;
        line.clear();
        if (what == "Start")
            word = "S";
        else if (what == "Start repeat")
            word = "Sr";
        else if (what.rfind("Address write: ", 0) == 0)
            word = what.substr(15) + " W";
        else if (what.rfind("Address read: ", 0) == 0)
            word = what.substr(14) + " R";
        else if (what.rfind("Data write: ", 0) == 0 || what.rfind("Data read: ", 0) == 0)
            word = what.substr(what.find(": ") + 2);
        else if (what == "ACK" || what == "NACK")
            word = what.substr(0, 1);
        else if (what == "Stop")
            word = "P";
        if (!word.empty())
            log += (log.empty() || log.back() == '\n' ? "" : " ") + word + (word == "P" ? "\n" : "");
    }
    if (pipe)
        pclose(pipe);
    return log;
}
