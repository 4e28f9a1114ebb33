// The linker symbol of a program's import slot for a platform function, so
// that a suite can define the slot itself and see the layer's calls: stdcall
// names are decorated with an underscore and the argument bytes in a 32-bit
// build, and plain in a 64-bit one.
#pragma once

#ifdef _WIN64
#define CT_IMPORT_SLOT(function, argumentBytes) "__imp_" #function
#else
#define CT_IMPORT_SLOT(function, argumentBytes) "__imp__" #function "@" #argumentBytes
#endif
