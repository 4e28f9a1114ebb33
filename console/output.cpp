// The channels of the console programs, the same on every platform; the
// platform files write the bytes (output_platform.h).
#include "console/output.h"

#include <stdarg.h>
#include <stdio.h>

#include "console/output_platform.h"

namespace {

// Output state, set by OutputStart and kept for the process.
bool quietRun = false;
bool jsonRun = false;     // standard output is the JSON object's
std::string errorsSaid;   // a JSON run's errors and failures, for its object
bool outConsole = false;  // standard output is a console or terminal
bool errConsole = false;  // standard error is a console or terminal
int progressShown = 0;    // characters of progress text on the screen now
OutputStream progressOn = STREAM_OUT;  // the stream that progress text is on
uint32_t startTicks = 0;     // OutputTicks at OutputStart
uint32_t progressTicks = 0;  // OutputTicks of the last progress text

void Write(OutputStream stream, const std::string& text)
{
    OutputWrite(stream, text, stream == STREAM_OUT ? outConsole : errConsole);
}

void WipeProgress()
{
    if (progressShown)
        Write(progressOn, "\r" + std::string(static_cast<size_t>(progressShown), ' ') + "\r");
    progressShown = 0;
}

}  // namespace

void OutputStart(bool quiet, bool json)
{
    quietRun = quiet;
    jsonRun = json;
    outConsole = OutputIsConsole(STREAM_OUT);
    errConsole = OutputIsConsole(STREAM_ERR);
    startTicks = OutputTicks();
}

void Say(Channel channel, const char* format, ...)
{
    uint32_t now = OutputTicks();
    bool progress = channel == SAY_PROGRESS || channel == SAY_NOTE_PROGRESS;
    bool failed = channel == SAY_ERROR || (channel == SAY_FAILED && jsonRun);
    OutputStream stream = failed || channel == SAY_NOTE || channel == SAY_NOTE_PROGRESS ? STREAM_ERR : STREAM_OUT;
    if (((channel == SAY_NORMAL || channel == SAY_NOTE) && quietRun) || ((channel == SAY_NORMAL || channel == SAY_ALWAYS) && jsonRun) ||
        (progress && (quietRun || !(stream == STREAM_OUT ? outConsole : errConsole) ||
                      now - startTicks < 1000 || now - progressTicks < 100)))
        return;
    // Formatted whole, however long: a verdict is never cut.
    va_list arguments, again;
    va_start(arguments, format);
    va_copy(again, arguments);
    int length = vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
    vsnprintf(&text[0], text.size(), format, again);
    va_end(again);
    text.resize(length > 0 ? static_cast<size_t>(length) : 0);
    if (failed && jsonRun) {
        // "coupler-i2c: Datei ...": the object names its program itself.
        size_t name = text.compare(0, 8, "coupler-") == 0 ? text.find(": ") : std::string::npos;
        errorsSaid += (errorsSaid.empty() ? "" : "; ") + text.substr(name == std::string::npos ? 0 : name + 2);
    }
    WipeProgress();
    if (progress) {
        progressTicks = now;
        progressShown = static_cast<int>(text.size());
        progressOn = stream;
    } else {
        text += "\n";
    }
    Write(stream, text);
}

void SayInColour(Colour colour, const std::string& lines)
{
    if (jsonRun)
        return;
    WipeProgress();
    if (outConsole)
        OutputColour(STREAM_OUT, colour);
    Write(STREAM_OUT, lines + "\n");
    if (outConsole)
        OutputColour(STREAM_OUT, -1);
}

std::string OutputErrors() { return errorsSaid; }

void OutputJson(const std::string& object)
{
    WipeProgress();
    Write(STREAM_OUT, object + "\n");
}

std::string Padded(const std::string& text, int width)
{
    size_t shown = OutputWidth(text);
    return text + std::string(shown < static_cast<size_t>(width) ? width - shown : 0, ' ');
}

void RefusedSettings(int mismatch, char* words, int size)
{
    static const char* const NAMES[] = {"Baudrate", "Datenformat", "Handshake"};
    std::string text = "Einstellung";
    for (int bit = 0; bit < 3; bit++)
        if (mismatch & (1 << bit))
            text += std::string(text.size() > 11 ? ", " : " ") + NAMES[bit];
    snprintf(words, static_cast<size_t>(size), "%s nicht übernommen", text.c_str());
}
