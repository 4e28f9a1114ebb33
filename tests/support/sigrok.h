// What a logic analyzer's user sees of a value change dump: Debian's
// sigrok-cli decodes it with its I2C decoder (channels SCL and SDA), here put
// in the bus log's words ("S 48 W A 00 A Sr 48 R A 15 A 80 N P").
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <sstream>
#include <string>

// sigrok-cli's annotations ("i2c-1: Address write: 50") as the bus log.
inline std::string SigrokAsLog(const std::string& decoded)
{
    std::istringstream lines(decoded);
    std::string line, log;
    while (std::getline(lines, line)) {
        std::string what = line.substr(line.find(": ") + 2);
        std::string token = what == "Start" ? "S" : what == "Start repeat" ? "Sr" : what == "Stop" ? "P"
                          : what == "ACK" ? "A" : what == "NACK" ? "N" : "";
        if (what.rfind("Address write: ", 0) == 0 || what.rfind("Address read: ", 0) == 0)
            token = what.substr(what.size() - 2) + (what[8] == 'w' ? " W" : " R");
        else if (what.rfind("Data write: ", 0) == 0 || what.rfind("Data read: ", 0) == 0)
            token = what.substr(what.size() - 2);
        if (!token.empty())
            log += (log.empty() || log.back() == '\n' ? "" : " ") + token + (token == "P" ? "\n" : "");
    }
    return log;
}

// The dump's time stamps: how many, or -1 when the header lacks what a viewer
// needs, a stamp does not increase or the last line has no end.
inline long VcdStamps(const std::string& dump)
{
    if (dump.empty() || dump.back() != '\n' || dump.find("$timescale 1 us $end\n") == std::string::npos || dump.find("#0\n$dumpvars\n") == std::string::npos ||
        dump.find(" SCL $end\n") == std::string::npos || dump.find(" SDA $end\n") == std::string::npos)
        return -1;
    std::istringstream lines(dump);
    std::string line;
    long long last = -1, stamps = 0;
    while (std::getline(lines, line))
        if (!line.empty() && line[0] == '#') {
            long long time = atoll(line.c_str() + 1);
            if (time <= last)
                return -1;
            last = time, ++stamps;
        }
    return static_cast<long>(stamps);
}

#ifndef _WIN32
// The decoder's reading of the dump at path, natively.
inline std::string SigrokI2c(const std::string& path)
{
    FILE* pipe = popen(("sigrok-cli -i '" + path + "' -I vcd -P i2c:scl=SCL:sda=SDA 2>&1").c_str(), "r");
    std::string decoded;
    for (int c; pipe && (c = fgetc(pipe)) != EOF;)
        decoded += static_cast<char>(c);
    if (pipe)
        pclose(pipe);
    return SigrokAsLog(decoded);
}
#endif
