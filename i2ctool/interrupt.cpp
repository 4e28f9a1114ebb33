// int: whether INT is active (pulled to ground, CTS on).
#include "console/output.h"
#include "i2ctool/job.h"

int IntCommand(I2cJob* job, Json* out)
{
    int active = LinesSample(&job->lines, LINE_INT_IN);
    if (active < 0)
        return -1;
    JsonKey(out, "int_active"), JsonBool(out, active != 0);
    Say(SAY_ALWAYS, active ? "INT aktiv (auf Masse, CTS an)" : "INT in Ruhe (CTS aus)");
    return EXIT_DONE;
}
