// The verdict as the technician sees it from a step away: the word in block
// letters, green or red, and below it the first failed step and its measurement.
#include <string.h>

#include "console/output.h"
#include "station/station.h"

namespace {

// Five rows of five columns for each letter the verdicts use.
struct Glyph {
    char letter;
    const char* rows[5];
};
const Glyph GLYPHS[] = {
    {'B', {"#### ", "#   #", "#### ", "#   #", "#### "}}, {'E', {"#####", "#    ", "#### ", "#    ", "#####"}},
    {'S', {" ####", "#    ", " ### ", "    #", "#### "}}, {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'A', {" ### ", "#   #", "#####", "#   #", "#   #"}}, {'N', {"#   #", "##  #", "# # #", "#  ##", "#   #"}},
    {'D', {"#### ", "#   #", "#   #", "#   #", "#### "}}, {'I', {" ### ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'C', {" ####", "#    ", "#    ", "#    ", " ####"}}, {'H', {"#   #", "#   #", "#####", "#   #", "#   #"}},
};

// The word in block letters, one gap between them.
std::string Banner(const char* word)
{
    std::string text;
    for (int row = 0; row < 5; row++) {
        text += row ? "\n  " : "  ";
        for (const char* c = word; *c; c++)
            for (const Glyph& glyph : GLYPHS)
                if (glyph.letter == *c)
                    text += std::string(glyph.rows[row]) + (c[1] ? " " : "");
    }
    return text;
}

}  // namespace

void ShowVerdict(const UnitRun& unit)
{
    Say(SAY_ALWAYS, "");
    if (unit.verdict == VERDICT_PASSED) {
        SayInColour(COLOUR_GREEN, Banner("BESTANDEN"));
        Say(SAY_ALWAYS, "\nBESTANDEN: %s", unit.serial.c_str());
    } else if (unit.verdict == VERDICT_FAILED) {
        SayInColour(COLOUR_RED, Banner("NICHT") + "\n\n" + Banner("BESTANDEN"));
        Say(SAY_ALWAYS, "\nNICHT BESTANDEN: %s: %s", unit.serial.c_str(), unit.detail.c_str());
    } else {
        SayInColour(COLOUR_RED, unit.verdict == VERDICT_ABORTED ? "ABGEBROCHEN" : "PRÜFUNG NICHT MÖGLICH");
        Say(SAY_ALWAYS, "%s: %s: %s", unit.verdict == VERDICT_ABORTED ? "ABGEBROCHEN" : "NICHT MÖGLICH",
            unit.serial.c_str(), unit.detail.c_str());
    }
}
