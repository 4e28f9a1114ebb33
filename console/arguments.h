// Command-line pieces the console programs share (coupler-check and
// coupler-i2c): numbers, value options, and refusals with a one-line reason
// (the port word is the platform's: console/port.h).
#pragma once

#include <stdio.h>  // the printf format of this build (MinGW's own or the C library's)

// A whole number from low to high, decimal or with 0x hexadecimal; -1 if not.
int ArgumentNumber(const char* text, int low, int high);
// An I2C address from low to high, hexadecimal as a scan's table prints it,
// with or without 0x ("50" and "0x50" are both 0x50); -1 if not.
int ArgumentAddress(const char* text, int low, int high);
// The value of the option at argv[*i]: the next argument, taken (so *i moves
// on), unless there is none or it is an option itself; then "".
const char* OptionValue(int argc, char** argv, int* i);
// Writes the reason (printf format) into error; always false. The compiler
// checks the format against the arguments as it does printf's.
#if defined(__MINGW_PRINTF_FORMAT)
#define CT_CHECKED_FORMAT __attribute__((format(__MINGW_PRINTF_FORMAT, 3, 4)))
#elif defined(__GNUC__)
#define CT_CHECKED_FORMAT __attribute__((format(printf, 3, 4)))
#else
#define CT_CHECKED_FORMAT
#endif
bool Refuse(char* error, int size, const char* format, ...) CT_CHECKED_FORMAT;
