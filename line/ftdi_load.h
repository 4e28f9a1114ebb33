// The FTDI chip's library, loaded when a job asks for it, so that the
// programs start and work through the serial port where it is not installed:
// libftdi1 on Linux (line/ftdi_load_posix.cpp; it takes the chip from the
// kernel's serial driver for the job, which gets it back at the close), FTDI's
// D2XX DLL on Windows (line/ftdi_load_win.cpp).
#pragma once

#include <string>

#include "line/ftdi_lines.h"

struct FtdiLibrary;

// The library, or nullptr with why in words (German, after "FTDI: ").
FtdiLibrary* FtdiLibraryLoad(std::string* why);
// Its calls for the FTDI line port; one chip at a time.
FtdiApi FtdiLibraryApi(FtdiLibrary* library);
// What the library said last, in its words ("" when nothing).
std::string FtdiLibraryError(FtdiLibrary* library);
// Closes a chip still open, unloads the library and resets the pointer; safe
// to call twice.
void FtdiLibraryUnload(FtdiLibrary** library);
