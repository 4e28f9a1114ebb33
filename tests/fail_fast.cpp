// Linked into every suite: a crash ends the suite at once with its exception
// code, where Wine would start its debugger and leave the suite hanging.
#include <windows.h>
#include <stdio.h>

static LONG WINAPI EndAtOnce(EXCEPTION_POINTERS* e)
{
    fprintf(stderr, "crash: exception 0x%lx\n", e->ExceptionRecord->ExceptionCode);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

static const LPTOP_LEVEL_EXCEPTION_FILTER installed = SetUnhandledExceptionFilter(EndAtOnce);
