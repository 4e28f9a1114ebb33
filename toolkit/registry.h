// Object registry and toolkit memory.
//
// The application names every window, control and font by a small number of
// its own choosing. Each kind has an object table, indexed directly by number,
// and an object list for records whose number the toolkit chose (ANY_NUMBER):
// the identity of such a record is the address of its record part, which lies
// far above any table number.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include <string>

// Asks a creation to choose the number itself and return it.
constexpr int32_t ANY_NUMBER = -1;

// ---------------------------------------------------------------------------
// Heaps

// The runtime heap holds the object tables and other toolkit blocks; the list
// heap the nodes of every object list. Both are growable private heaps.
HANDLE RuntimeHeapCreate();   // HeapCreate(0, 4000, 0); returns the heap
HANDLE RuntimeHeap();         // the heap, or 0 before creation / after destruction
void RuntimeHeapDestroy();    // destroys it and forgets it; safe to call twice

HANDLE CreateListHeap();      // HeapCreate(0, 1024, 0); returns the heap
HANDLE ListHeap();
void DestroyListHeap();       // destroys it and forgets it; safe to call twice

// ---------------------------------------------------------------------------
// Object lists: doubly linked, new nodes at the head, nodes in the list heap.

struct ListNode {
    ListNode* next;   // successor link
    ListNode* prev;   // predecessor link
    // the record follows
};

struct ObjectList {
    ListNode* head;
};

// Adds a zeroed record of recordSize bytes at the head; returns its identity
// (the address of the record part), or 0 when the list heap cannot give a node.
int32_t ListAdd(ObjectList* list, size_t recordSize);
// Unlinks and frees the record with this identity; an unknown identity is ignored.
void ListRemove(ObjectList* list, int32_t identity);
// The identity when it is in the list, else 0.
int32_t ListFind(const ObjectList* list, int32_t identity);
// The record part of an identity found in a list.
inline void* ListRecord(int32_t identity) { return reinterpret_cast<void*>(static_cast<intptr_t>(identity)); }

// A record's native handle as the platform's handle type: handles carry 32
// significant bits and widen with their sign in a 64-bit build.
inline void* NativeHandle(uint32_t handle) { return reinterpret_cast<void*>(static_cast<intptr_t>(static_cast<int32_t>(handle))); }
// The identity of the first (newest) record, and of the record after one; 0 at the end.
int32_t ListFirst(const ObjectList* list);
int32_t ListNext(int32_t identity);

// ---------------------------------------------------------------------------
// Object tables. Every record begins with the native handle; 0 = empty.

struct ObjectTable {
    int32_t nominalSize;     // records addressed by numbers 0 .. nominalSize - 1
    size_t recordSize;       // bytes per record
    unsigned char* block;    // nominalSize + 2 records in the runtime heap
    ObjectList list;         // numberless records (ANY_NUMBER)
};

// Allocates a zeroed block of nominalSize + 2 records. Returns false (and
// leaves the table empty) when the runtime heap cannot give the block.
bool TableCreate(ObjectTable* table, int32_t nominalSize, size_t recordSize);
// Forgets the table (its block goes with the runtime heap).
void TableForget(ObjectTable* table);

// The record into which an object is to be created under the number. For
// ANY_NUMBER a new numberless record; *numberOut receives the number actually
// used. Numbers at or above the nominal size grow the table to number + 30.
// Returns 0 when the number is invalid (below -1) or memory cannot be had; the
// table then stays as it was. The address is valid until the table next grows.
//
// The rule for every record address, obtained or looked up: it holds only
// until the next call that can send a message (creating, showing, moving or
// destroying a window, SendMessage): the handlers that run meanwhile may
// create objects and move the table. Write through the record before such a
// call, or take it again afterwards. Numberless records never move.
void* RegistryObtain(ObjectTable* table, int32_t number, int32_t* numberOut);
// The record of a live object under the number (handle non-zero), else 0.
// Numbers below -1 and identities never handed out (or already released)
// name nothing.
void* RegistryLookup(const ObjectTable* table, int32_t number);
// Empties the number: a table record's handle becomes 0, a numberless record
// is unlinked and freed.
void RegistryRelease(ObjectTable* table, int32_t number);

// The native handle kept at the start of every record.
inline uint32_t& RecordHandle(void* record) { return *static_cast<uint32_t*>(record); }

// ---------------------------------------------------------------------------
// Controls: records, kind operations and the control subclass procedure.

// One table of optional handlers per control kind; an empty entry falls back
// to the generic behaviour of the common control operations.
struct KindOperations {
    BOOL (*destroy)(HWND control);
    LRESULT (*getState)(HWND control);
    LRESULT (*setState)(HWND control, LRESULT state);
    std::string (*getText)(HWND control);
    void (*setText)(HWND control, const char* text);
    LRESULT (*addItem)(HWND control, int32_t position, const char* text);
    LRESULT (*addItemEx)(HWND control, int32_t position, const char* text, LPARAM extra);
    LRESULT (*removeItem)(HWND control, int32_t index);
    LRESULT (*clearItems)(HWND control);
    LRESULT (*countItems)(HWND control);
    std::string (*getItemText)(HWND control, int32_t item, int32_t column);
    LRESULT (*setItemText)(HWND control, int32_t item, const char* text);
    LRESULT (*openControlList)(HWND control, int32_t item);
    int32_t (*getWidth)(HWND control);
    int32_t (*getHeight)(HWND control);
};

struct ControlRecord {
    uint32_t handle;                  // native control handle; 0 = no control
    const KindOperations* kind;       // the kind's operations
    WNDPROC previousProc;             // class procedure replaced by the subclass
};

// Creates the control table (nominal size 30), makes the stock GUI font the
// default control font and initialises the common controls.
void InitControlModule();
// Forgets the control table (the runtime heap takes its memory).
void ShutdownControlModule();

void* ControlObtain(int32_t number, int32_t* numberOut);  // RegistryObtain on the control table
ControlRecord* ControlLookup(int32_t number);              // live control record, else 0
void ControlRelease(int32_t number);
int32_t ControlTableSize();                                // nominal size, for tests

// Installs the control subclass procedure on the record's control and keeps
// the procedure it replaces in the record.
void InstallControlSubclass(ControlRecord* record);

// The font every new control receives (stock DEFAULT_GUI_FONT at start), and
// the stock font itself, which a font handle of -1 stands for.
HFONT DefaultControlFont();
void SetDefaultControlFont(HFONT font);
HFONT StockControlFont();

// ---------------------------------------------------------------------------
// The program's instance handle, with which windows, classes and controls are made.
void SetToolkitInstance(HINSTANCE instance);
HINSTANCE ToolkitInstance();
