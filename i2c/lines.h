// The coupler's lines as the I2C master drives and reads them: SDA out on DTR,
// SDA in on DSR (the wire's level), SCL on RTS, INT on CTS (on while INT is at
// ground). Levels: 1 high (released), 0 low.
//
// Every line request (a switch or a sample) is checked; the first that fails
// fails every later one, so a job ends at its next step. The levels last set
// are kept: a switch that changes nothing makes no request, since on USB
// adapters each request is a transfer of about a millisecond.
#pragma once

#include <stdint.h>

// Takes the open port (the caller keeps it and closes it) and puts the lines
// at idle, SDA and SCL high. False when a line call failed.
bool LinesAttach(int32_t port);

// Measures how long DSR takes to follow DTR (the echo time) and what one
// request costs, with SCL held low so that the bus sees no condition.
enum EchoResult { ECHO_OK, ECHO_SDA_HELD_LOW, ECHO_SDA_STUCK_HIGH, ECHO_LINE_FAILED };
EchoResult LinesMeasure();
double LinesEchoMs();
double LinesRequestMs();

// Switches SDA or SCL; waits first so that two switches are never closer than
// the standard-mode minimum times. False once a line call has failed.
bool LinesSda(int level);
bool LinesScl(int level);

// The wire's SDA level and INT (1 = INT pulled to ground). Waits first until
// the echo time has passed since SDA last may have changed (SDA released, or
// SCL fallen, when a slave changes its bit). False once a line call has failed.
bool LinesSample(int* sda, int* interrupt);

// True once a line call failed or the job was stopped.
bool LinesFailed();
// Stops the job from another thread (Ctrl+C): every later request fails.
void LinesStop();
bool LinesStopped();
// Tries to put SDA and SCL high again whatever failed before, SCL first (a
// STOP when SDA was low). For the job's end; no check.
void LinesRelease();

// The performance counter in milliseconds.
double LinesNowMs();
