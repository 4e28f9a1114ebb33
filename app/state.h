// The tester's application state: one instance for the process, read and
// changed by the start-up, the port handlers and the signal handlers on the
// program's one thread.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <string>

struct TesterState {
    int32_t portHandle;         // the open port's handle; > 0 open, -1 none (0 before discovery)
    std::string portSettings;   // the last port settings string built
    uint8_t portOpen;           // 1 from the request to open until closed or the open fails
    uint8_t sdaOn;              // 1: DTR was last switched on
    uint8_t sclOn;              // 1: RTS was last switched on
    int32_t handshakeMode;      // always 0 before use
    int32_t queueSize;          // always 1024 before use
    int32_t lastEvent;          // code of the last event returned by WaitEvent
    HFONT fonts[7];             // fonts 1 to 6 of the layout (index 0 unused)
};

// The state, zero when the process starts (and reset by ResetTesterState).
TesterState& Tester();
void ResetTesterState();
