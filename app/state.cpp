#include "app/state.h"

namespace {
// The application state; owned by the tester's start-up, lives for the process.
TesterState testerState = {};
}  // namespace

TesterState& Tester() { return testerState; }

void ResetTesterState() { testerState = TesterState{}; }
