// The tester's own texts. The source is UTF-8; the build turns every narrow
// literal into Windows-1252, the code page the program speaks to the platform.
#pragma once

namespace texts {

constexpr const char* OPEN = "öffnen";
constexpr const char* CLOSE = "schliessen";

constexpr const char* WARNING_TITLE = "W A R N U N G";
constexpr const char* NO_PORT_FOUND = "Es wurde keine RS232 gefunden";
constexpr const char* ERROR_TITLE = "F E H L E R";
constexpr const char* OPEN_FAILED = "COM-Port konnten nicht geöffnet werden";

// The four signal buttons' error titles differ only in their blanks.
constexpr const char* SDA_SWITCH_ERROR_TITLE = "F E H L E R   S D A";
constexpr const char* SDA_READ_ERROR_TITLE = "F E H L E R    S D A";
constexpr const char* SCL_SWITCH_ERROR_TITLE = "F E H L E R   S C L ";
constexpr const char* INT_READ_ERROR_TITLE = "F E H L E R    I N T";
constexpr const char* PORT_NOT_OPEN = "COM-Port ist nicht geöffnet";

}  // namespace texts
