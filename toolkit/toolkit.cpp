// The toolkit's start and stop, in their fixed order.
#include "toolkit/toolkit.h"

#include "toolkit/colours.h"
#include "toolkit/controls.h"
#include "toolkit/fonts.h"
#include "toolkit/registry.h"
#include "toolkit/window.h"

bool ToolkitStart(HINSTANCE instance)
{
    SetToolkitInstance(instance);
    bool made = RuntimeHeapCreate() && CreateListHeap() && FontTableInit() && InitWindowModule();
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
