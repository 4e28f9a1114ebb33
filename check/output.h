// The check's text output and key input. Texts are Windows-1252, as every text
// of the program; this module turns them into what the receiver reads.
#pragma once

// Looks at the standard handles; with quiet only verdicts and errors appear.
void OutputStart(bool quiet);
// A line on standard output, unless quiet (printf format, no line break needed).
void Say(const char* format, ...);
// A line on standard output, also when quiet (the verdict).
void SayAlways(const char* format, ...);
// A line on standard error.
void SayError(const char* format, ...);
// Text for the user's eyes only: on a console and not quiet; overwritten by
// the next progress text and wiped by the next line.
void ShowProgress(const char* format, ...);
// A key from standard input (console, pipe or file), lower case, or 0 when
// none came within ms milliseconds.
int KeyWithin(unsigned long ms);
