// A board's test plan, read from its TOML file into plain values: the board,
// the coupler check, the chips on the bus and the steps in order. Every fault
// of the file is refused before a port is touched, with the file's line and
// column ("demo.toml:12:3: ...").
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "i2c/eeprom.h"

enum PlanKind {
    KIND_EEPROM,
    KIND_REGISTER_WRITE,
    KIND_REGISTER_READ,
    KIND_TEMPERATURE,
    KIND_EXPANDER,
    KIND_INT,
    KIND_QUESTION
};

// The plan's words for the kinds, as the file and the record write them.
extern const char* const PLAN_KIND_NAMES[];

struct PlanMeasurement {
    std::string name, unit;
    double low = 0, high = 0;
};

struct PlanStep {
    std::string name;
    PlanKind kind = KIND_INT;
    int address = 0x50;
    int reg = -1;        // -1: none, the value is the only byte
    bool word = false;   // width "w": two bytes, high first
    int value = 0, mask = 0xFF, pattern = 0;
    const EepromType* type = nullptr;
    std::string file;            // as written in the plan
    std::vector<uint8_t> image;  // the chip's whole range; given[] says which bytes the file gives
    int first = 0, end = 0;      // the bytes given: first up to end, without a gap
    double timeoutS = 20;
    std::string question;
    PlanMeasurement measurement;  // register-read, temperature
};

struct Plan {
    std::string path;     // as given on the command line
    std::string file;     // its name without folders, for the record
    std::string sha256;   // of the file's bytes
    std::string name, version;
    bool check = false;   // the coupler check before the steps
    int repeat = 1;
    bool bus = false;     // a scan must find exactly chips
    bool chips[128] = {};
    std::vector<PlanStep> steps;
};

// Reads and checks the plan and the images it names; false with one line
// "path:line:column: reason" in error.
bool PlanRead(const char* path, Plan* plan, std::string* error);
