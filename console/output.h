// The console programs' text output and key input. Texts are the programs'
// own: Windows-1252 in the Windows build, UTF-8 in the native one; this module
// turns them into what the receiver reads.
#pragma once

#include <stdint.h>

#include <string>

enum Channel {
    SAY_NORMAL,  // standard output, unless quiet
    SAY_ALWAYS,  // standard output, also when quiet (verdicts, questions)
    SAY_ERROR,   // standard error
    // Progress for the user's eyes only: on a console, not quiet, in runs
    // longer than a second; overwritten by the next, wiped by the next line.
    SAY_PROGRESS,
    // Beside the results, so that standard output holds them alone: notes and
    // estimates on standard error unless quiet, and progress as SAY_PROGRESS
    // but on standard error.
    SAY_NOTE,
    SAY_NOTE_PROGRESS,
    // A result that is a failure (a chip that does not answer, a compare that
    // differs): as SAY_ALWAYS, but on standard error in a JSON run.
    SAY_FAILED
};

// Looks at the standard handles; with quiet SAY_NORMAL lines are left out.
// In a JSON run (json) standard output holds the one object of OutputJson:
// lines for it are left out, and errors and failures, still on standard
// error, are kept for the object (OutputErrors).
void OutputStart(bool quiet, bool json = false);
// The errors and failures said in a JSON run, without the program's name
// before them ("coupler-i2c: "), joined by "; "; empty when none.
std::string OutputErrors();
// The JSON object and a line break on standard output.
void OutputJson(const std::string& object);
// One line (printf format; the line break is added, except to progress).
void Say(Channel channel, const char* format, ...);
// Lines said as SAY_ALWAYS, in bright green or red on a console or terminal
// (and as they are anywhere else: no escape codes in a file or pipe).
enum Colour { COLOUR_GREEN, COLOUR_RED };
void SayInColour(Colour colour, const std::string& lines);
// The text with blanks after it up to width characters as shown (printf's
// %-Ns counts bytes, which an umlaut in UTF-8 takes two of).
std::string Padded(const std::string& text, int width);
// The text in UTF-8, whole.
std::string ToUtf8(const char* text);
// A UTF-8 text from a file (a plan) as the program's own: Windows-1252 in the
// Windows build (a character it lacks becomes '?'), unchanged natively.
std::string FromUtf8(const std::string& text);
// "Einstellung Baudrate, Handshake nicht übernommen": what an open port did
// not take of its settings (SerialSettingsMismatch's bits), in words.
void RefusedSettings(int mismatch, char* words, int size);
// Starts reading keys from standard input (console, terminal, pipe or file),
// so that keys typed before a question can be told from the answer. A POSIX
// terminal is switched to single keys without echo (Ctrl+C still signals)
// until KeysStop, which also runs at exit.
void KeysStart();
// Puts the terminal back as KeysStart found it; safe to call twice.
void KeysStop();
// Drops every key typed so far.
void KeysDiscard();
// A key, lower case; 0 when none came within ms milliseconds, -1 when the
// input has ended (after waiting ms).
int KeyWithin(uint32_t ms);
