// Object registry, toolkit heaps and control records.
#include "toolkit/registry.h"

#include <commctrl.h>
#include <string.h>

namespace {

// Runtime heap: object tables and other toolkit blocks. Created by the
// program's start-up, destroyed as its last step; 0 outside that span.
HANDLE runtimeHeap = 0;

// List heap: nodes of every object list. Created and destroyed by the
// toolkit's start-up and shutdown; 0 outside that span.
HANDLE listHeap = 0;

// Control table: one record per control number, plus the numberless controls.
// Created by InitControlModule; its block lives in the runtime heap.
ObjectTable controlTable = {};

// Font given to every new control, and the stock GUI font that -1 names.
// Stock objects are never deleted.
HFONT defaultControlFont = 0;
HFONT stockControlFont = 0;

// The program's instance handle, recorded once at start-up.
HINSTANCE toolkitInstance = 0;

// A table number addresses a record of the block (0 .. nominal size, the
// latter being the first of the two always-empty spare records).
bool IsTableNumber(const ObjectTable* table, int32_t number)
{
    return number >= 0 && number <= table->nominalSize;
}

unsigned char* TableRecord(const ObjectTable* table, int32_t number)
{
    return table->block + static_cast<size_t>(number) * table->recordSize;
}

// The bytes of a table of nominalSize records plus the two spare ones, or 0
// when that does not fit a size_t: on a 32-bit build a far number would
// otherwise wrap to a small block, and the new record would land on another.
size_t TableBytes(int32_t nominalSize, size_t recordSize)
{
    uint64_t bytes = (static_cast<uint64_t>(nominalSize) + 2) * recordSize;
    return bytes > SIZE_MAX ? 0 : static_cast<size_t>(bytes);
}

// Grows the table so that number addresses a record. On failure the table
// stays as it was.
bool TableGrow(ObjectTable* table, int32_t number)
{
    if (number < table->nominalSize)
        return true;
    if (number > INT32_MAX - 32)
        return false;
    int32_t newSize = number + 30;
    size_t bytes = TableBytes(newSize, table->recordSize);
    if (bytes == 0)
        return false;
    void* grown = HeapReAlloc(runtimeHeap, HEAP_ZERO_MEMORY, table->block, bytes);
    if (!grown)
        return false;
    table->block = static_cast<unsigned char*>(grown);
    table->nominalSize = newSize;
    return true;
}

LRESULT CALLBACK ControlSubclassProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
{
    int32_t number = static_cast<int32_t>(GetWindowLongA(control, GWL_ID));
    ControlRecord* record = ControlLookup(number);
    // A control whose record is gone (or never pointed at this window) gets
    // plain default handling.
    if (!record || record->handle != static_cast<uint32_t>(reinterpret_cast<uintptr_t>(control)))
        return DefWindowProcA(control, message, wParam, lParam);
    WNDPROC previous = record->previousProc;
    if (message == WM_NCDESTROY)
        ControlRelease(number);   // the one place where control records are emptied
    return CallWindowProcA(previous, control, message, wParam, lParam);
}

}  // namespace

// ---------------------------------------------------------------------------
// Heaps

// A private heap that grows on demand, made once.
static HANDLE CreateHeapOnce(HANDLE& heap, SIZE_T initialSize)
{
    if (!heap)
        heap = HeapCreate(0, initialSize, 0);
    return heap;
}

static void DestroyHeap(HANDLE& heap)
{
    if (heap)
        HeapDestroy(heap);
    heap = 0;
}

HANDLE RuntimeHeapCreate() { return CreateHeapOnce(runtimeHeap, 4000); }
HANDLE RuntimeHeap() { return runtimeHeap; }
void RuntimeHeapDestroy() { DestroyHeap(runtimeHeap); }

HANDLE CreateListHeap() { return CreateHeapOnce(listHeap, 1024); }
HANDLE ListHeap() { return listHeap; }
void DestroyListHeap() { DestroyHeap(listHeap); }

// ---------------------------------------------------------------------------
// Object lists

static ListNode* NodeOf(int32_t identity)
{
    return reinterpret_cast<ListNode*>(static_cast<intptr_t>(identity)) - 1;
}

static int32_t IdentityOf(ListNode* node)
{
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(node + 1));
}

int32_t ListAdd(ObjectList* list, size_t recordSize)
{
    if (!listHeap)
        return 0;
    ListNode* node = static_cast<ListNode*>(
        HeapAlloc(listHeap, HEAP_ZERO_MEMORY, sizeof(ListNode) + recordSize));
    if (!node)
        return 0;
#if UINTPTR_MAX > UINT32_MAX
    // The identity is the record's address in 32 bits: in a 64-bit build a
    // node above them is refused like one the heap could not give.
    if (reinterpret_cast<uintptr_t>(node + 1) > static_cast<uintptr_t>(INT32_MAX)) {
        HeapFree(listHeap, 0, node);
        return 0;
    }
#endif
    if (list->head) {
        list->head->prev = node;
        node->next = list->head;
    }
    list->head = node;
    return IdentityOf(node);
}

int32_t ListFind(const ObjectList* list, int32_t identity)
{
    if (identity == 0)
        return 0;
    for (ListNode* node = list->head; node; node = node->next) {
        if (IdentityOf(node) == identity)
            return identity;
    }
    return 0;
}

void ListRemove(ObjectList* list, int32_t identity)
{
    // Only nodes of this list are touched: a stale identity must not corrupt it.
    if (!ListFind(list, identity))
        return;
    ListNode* node = NodeOf(identity);
    if (node == list->head) {
        list->head = node->next;
        if (node->next)
            node->next->prev = 0;
    } else {
        node->prev->next = node->next;
        if (node->next)
            node->next->prev = node->prev;
    }
    HeapFree(listHeap, 0, node);
}

int32_t ListFirst(const ObjectList* list)
{
    return list->head ? IdentityOf(list->head) : 0;
}

int32_t ListNext(int32_t identity)
{
    ListNode* next = NodeOf(identity)->next;
    return next ? IdentityOf(next) : 0;
}

// ---------------------------------------------------------------------------
// Object tables

bool TableCreate(ObjectTable* table, int32_t nominalSize, size_t recordSize)
{
    *table = ObjectTable{};
    if (!runtimeHeap || nominalSize < 0)
        return false;
    size_t bytes = TableBytes(nominalSize, recordSize);
    void* block = bytes ? HeapAlloc(runtimeHeap, HEAP_ZERO_MEMORY, bytes) : nullptr;
    if (!block)
        return false;
    table->nominalSize = nominalSize;
    table->recordSize = recordSize;
    table->block = static_cast<unsigned char*>(block);
    return true;
}

void TableForget(ObjectTable* table)
{
    *table = ObjectTable{};
}

void* RegistryObtain(ObjectTable* table, int32_t number, int32_t* numberOut)
{
    if (numberOut)
        *numberOut = 0;
    if (!table->block || number < ANY_NUMBER)
        return 0;
    if (number == ANY_NUMBER) {
        int32_t identity = ListAdd(&table->list, table->recordSize);
        if (!identity)
            return 0;
        if (numberOut)
            *numberOut = identity;
        return ListRecord(identity);
    }
    // A number at or above the nominal size that is not a table number might
    // be an identity of this kind's list: creating "under" it is refused, so
    // that a numberless object can never be shadowed by a table record.
    if (number >= table->nominalSize && ListFind(&table->list, number))
        return 0;
    if (!TableGrow(table, number))
        return 0;
    if (numberOut)
        *numberOut = number;
    return TableRecord(table, number);
}

void* RegistryLookup(const ObjectTable* table, int32_t number)
{
    if (!table->block || number < 0)
        return 0;
    void* record = 0;
    if (IsTableNumber(table, number))
        record = TableRecord(table, number);
    else if (ListFind(&table->list, number))
        record = ListRecord(number);
    if (!record || RecordHandle(record) == 0)
        return 0;
    return record;
}

void RegistryRelease(ObjectTable* table, int32_t number)
{
    if (!table->block || number < 0)
        return;
    if (IsTableNumber(table, number)) {
        if (number < table->nominalSize)
            RecordHandle(TableRecord(table, number)) = 0;
    } else {
        ListRemove(&table->list, number);
    }
}

// ---------------------------------------------------------------------------
// Controls

void InitControlModule()
{
    TableCreate(&controlTable, 30, sizeof(ControlRecord));
    stockControlFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    defaultControlFont = stockControlFont;
    InitCommonControls();
}

void ShutdownControlModule()
{
    TableForget(&controlTable);
    defaultControlFont = 0;
    stockControlFont = 0;
}

void* ControlObtain(int32_t number, int32_t* numberOut)
{
    return RegistryObtain(&controlTable, number, numberOut);
}

ControlRecord* ControlLookup(int32_t number)
{
    return static_cast<ControlRecord*>(RegistryLookup(&controlTable, number));
}

void ControlRelease(int32_t number)
{
    RegistryRelease(&controlTable, number);
}

int32_t ControlTableSize() { return controlTable.nominalSize; }

void InstallControlSubclass(ControlRecord* record)
{
    HWND control = static_cast<HWND>(NativeHandle(record->handle));
    if (!control)
        return;
    record->previousProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ControlSubclassProc)));
}

HFONT DefaultControlFont() { return defaultControlFont; }
void SetDefaultControlFont(HFONT font) { defaultControlFont = font; }
HFONT StockControlFont() { return stockControlFont; }

void SetToolkitInstance(HINSTANCE instance) { toolkitInstance = instance; }
HINSTANCE ToolkitInstance() { return toolkitInstance; }
