// The toolkit's start and stop, in their fixed order.
#include "toolkit/toolkit.h"

#include "toolkit/colours.h"
#include "toolkit/controls.h"
#include "toolkit/fonts.h"
#include "toolkit/registry.h"
#include "toolkit/window.h"

bool ToolkitStart(HINSTANCE instance)
{
    // Every step runs, whatever an earlier one gave: each module is then in
    // its start state, and the stop releases what was made.
    SetToolkitInstance(instance);
    bool made = RuntimeHeapCreate() != 0;
    made = CreateListHeap() && made;
    made = FontTableInit() && made;
    made = InitWindowModule() && made;
    InitControlModule();   // also initialises the common controls
    InitControlLists();
    InitControlColours();
    return made;
}

void ToolkitStop()
{
    FreeControlColours();
    CloseAllWindows();
    FontTableShutdown();
    ShutdownWindowModule();
    ShutdownControlModule();
    DestroyListHeap();
    RuntimeHeapDestroy();
}
