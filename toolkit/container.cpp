// Containers and editors.
#include "toolkit/container.h"

#include "toolkit/controls.h"
#include "toolkit/registry.h"
#include "toolkit/window.h"

#include <richedit.h>
#include <string.h>

namespace {

// Outcome of loading the rich edit library, attempted once per process:
// richEdit20 is the kept module of "RICHED20.DLL" (0 if it could not be
// loaded); never freed.
bool richEditLoadAttempted = false;
HMODULE richEdit20 = 0;

// The rich edit class's own window procedure, which the editor procedure
// calls on. Taken from the first editor; the class outlives every editor.
WNDPROC richEditClassProc = 0;

// Room for the editor's whole text, terminator included, and the line buffer
// size EM_GETLINE is told in the buffer's first word.
constexpr int EDITOR_TEXT_LIMIT = 64000;
constexpr WORD EDITOR_LINE_LIMIT = 32000;

// The toolkit's line break; the rich edit control turns it into a paragraph.
const char LINE_BREAK[] = "\n";

LRESULT CALLBACK ContainerProc(HWND container, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND) {
        HWND top = container;
        for (HWND parent = GetParent(top); parent; parent = GetParent(parent))
            top = parent;
        // Posted, not sent: the command becomes a message of its own that
        // WaitEvent retrieves after the control has finished acting (after the
        // mouse-up that caused it), and turns into EV_CONTROL for the window.
        PostMessageA(top, WM_COMMAND, wParam, lParam);
        return 0;
    }
    return ToolkitWindowProc(container, message, wParam, lParam);
}

// The class stays registered for the life of the process once made: a later
// toolkit start uses it as it is.
void RegisterContainerClass()
{
    WNDCLASSEXA found = {};
    found.cbSize = sizeof(found);
    if (GetClassInfoExA(ToolkitInstance(), CONTAINER_CLASS_NAME, &found))
        return;
    WNDCLASSEXA description = {};
    description.cbSize = sizeof(description);
    description.style = 0;
    description.lpfnWndProc = ContainerProc;
    description.hInstance = ToolkitInstance();
    description.hCursor = LoadCursorA(0, IDC_ARROW);
    description.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    description.lpszClassName = CONTAINER_CLASS_NAME;
    RegisterClassExA(&description);
}

LRESULT ContainerOpenList(HWND container, int32_t)
{
    return PushControlParent(container) ? reinterpret_cast<LRESULT>(container) : 0;
}

KindOperations MakeContainerKind()
{
    KindOperations kind = {};
    kind.openControlList = ContainerOpenList;
    return kind;
}

// The container's operations (only opening its control list), shared by
// every container; fixed for the process.
const KindOperations containerKind = MakeContainerKind();

// --- editor ----------------------------------------------------------------

bool EditorFilled(HWND editor)
{
    return GetPropA(editor, EDITOR_FILLED_PROPERTY) != 0;
}

void SetEditorFilled(HWND editor, bool filled)
{
    SetPropA(editor, EDITOR_FILLED_PROPERTY, reinterpret_cast<HANDLE>(filled ? 1 : 0));
}

void ReplaceSelection(HWND editor, const char* text)
{
    // wParam 1: the change can be undone.
    SendMessageA(editor, EM_REPLACESEL, 1, reinterpret_cast<LPARAM>(text));
}

// Sits between the control subclass and the rich edit class. The window
// system asks that a window's properties be removed by whoever set them
// before the window is gone; destruction with the parent window passes here too.
LRESULT CALLBACK EditorProc(HWND editor, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCDESTROY)
        RemovePropA(editor, EDITOR_FILLED_PROPERTY);
    return CallWindowProcA(richEditClassProc, editor, message, wParam, lParam);
}

LRESULT EditorAddLine(HWND editor, int32_t position, const char* text)
{
    LRESULT start = SendMessageA(editor, EM_LINEINDEX, static_cast<WPARAM>(position), 0);
    SendMessageA(editor, EM_HIDESELECTION, 1, 0);
    // EM_LINEINDEX(-1) answers for the caret's line, so -1 is tested itself.
    if (start == -1 || position == -1) {
        LRESULT length = SendMessageA(editor, WM_GETTEXTLENGTH, 0, 0);
        SendMessageA(editor, EM_SETSEL, static_cast<WPARAM>(length), length);
        if (length != 0) {
            ReplaceSelection(editor, LINE_BREAK);
            ReplaceSelection(editor, text);
        } else if (*text) {
            ReplaceSelection(editor, text);
        } else {
            // An empty text cannot tell no line from one empty line: the
            // property says that a line is already there.
            if (EditorFilled(editor))
                ReplaceSelection(editor, LINE_BREAK);
            SetEditorFilled(editor, true);
            ReplaceSelection(editor, text);
        }
    } else {
        SendMessageA(editor, EM_SETSEL, static_cast<WPARAM>(start), start);
        ReplaceSelection(editor, text);
        ReplaceSelection(editor, LINE_BREAK);
    }
    SendMessageA(editor, EM_HIDESELECTION, 0, 0);
    return 0;
}

void EditorSetText(HWND editor, const char* text)
{
    if (!text || !*text) {
        SetWindowTextA(editor, "");
        SetEditorFilled(editor, false);
        return;
    }
    SetWindowTextA(editor, text);
}

std::string EditorGetText(HWND editor)
{
    std::string text(EDITOR_TEXT_LIMIT, '\0');
    int copied = GetWindowTextA(editor, &text[0], EDITOR_TEXT_LIMIT);
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

std::string EditorGetLine(HWND editor, int32_t line, int32_t)
{
    std::string text(EDITOR_TEXT_LIMIT, '\0');
    // EM_GETLINE reads the buffer's size from its first word.
    WORD limit = EDITOR_LINE_LIMIT;
    memcpy(&text[0], &limit, sizeof(limit));
    LRESULT copied = SendMessageA(editor, EM_GETLINE, static_cast<WPARAM>(line),
                                  reinterpret_cast<LPARAM>(&text[0]));
    if (copied <= 0)
        return std::string();
    text.resize(static_cast<size_t>(copied));
    // Only the paragraph mark goes; a last line without one keeps every character.
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    return text;
}

KindOperations MakeEditorKind()
{
    KindOperations kind = {};
    kind.getText = EditorGetText;
    kind.setText = EditorSetText;
    kind.addItem = EditorAddLine;
    kind.getItemText = EditorGetLine;
    return kind;
}

// The editor's operations, shared by every editor; fixed for the process.
const KindOperations editorKind = MakeEditorKind();

const char* EditorClassName()
{
    if (!richEditLoadAttempted) {
        richEditLoadAttempted = true;
        richEdit20 = LoadLibraryA("RICHED20.DLL");
        if (!richEdit20)
            LoadLibraryA("RICHED32.DLL");
    }
    return richEdit20 ? "RichEdit20A" : "RichEdit";
}

// A creation under ANY_NUMBER that failed leaves no numberless record behind.
void ForgetFailedNumber(int32_t requested, int32_t number)
{
    if (requested == ANY_NUMBER && number)
        ControlRelease(number);
}

}  // namespace

int32_t CreateContainer(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                        uint32_t flags)
{
    // No room to save the current parent: refuse before anything is made.
    if (ControlListDepth() >= CONTROL_LIST_DEPTH)
        return 0;
    RegisterContainerClass();

    DWORD style = 0;
    DWORD exStyle = 0;
    if (flags & CONTAINER_BORDER)
        style = WS_BORDER;
    else if (flags & CONTAINER_DLGFRAME)
        style = WS_DLGFRAME;
    else if (flags & CONTAINER_STATICEDGE)
        exStyle = WS_EX_STATICEDGE;
    else if (flags & CONTAINER_CLIENTEDGE)
        exStyle = WS_EX_CLIENTEDGE;

    int32_t used = 0;
    HWND container = CreateKindControl(number, &containerKind, exStyle, CONTAINER_CLASS_NAME, 0,
                                       style | WS_CHILD | WS_VISIBLE, x, y, width, height,
                                       0, &used);
    if (!container) {
        ForgetFailedNumber(number, used);
        return 0;
    }
    // Messages during the creation may have opened lists meanwhile; the
    // destruction empties the record through the control subclass.
    if (!PushControlParent(container)) {
        DestroyWindow(container);
        return 0;
    }
    InvalidateRect(container, 0, TRUE);
    return CreationResult(number, used, container);
}

int32_t CreateEditor(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height)
{
    const char* className = EditorClassName();
    int32_t used = 0;
    HWND editor = CreateKindControl(number, &editorKind, WS_EX_CLIENTEDGE, className, 0,
                                    0x503111C4u, x, y, width, height,
                                    DefaultControlFont(), &used);
    if (!editor) {
        ForgetFailedNumber(number, used);
        return 0;
    }
    // The editor procedure goes between the control subclass and the class.
    ControlRecord* record = ControlLookup(used);
    if (record) {
        if (!richEditClassProc)
            richEditClassProc = record->previousProc;
        record->previousProc = EditorProc;
    }
    FlushMessages();
    return CreationResult(number, used, editor);
}
