// Numbered controls: creation, control lists and the common operations.
#include "toolkit/controls.h"

namespace {

// Window into which new controls are placed; 0 until a control list is
// started. Set by StartControlList and by containers, restored by
// CloseControlList; reset by InitControlLists. Not owned: windows own it.
HWND currentParent = 0;

// Parents saved by open containers, the innermost last; parentDepth entries
// are in use. Same owner and lifetime as currentParent.
HWND parentStack[CONTROL_LIST_DEPTH] = {};
int32_t parentDepth = 0;

// Room GetWindowTextA gets for a control's text, terminator included.
constexpr int TEXT_LIMIT = 32000;

// Every entry empty: the text control uses only the generic behaviour, and a
// number without a control is treated as a text control on the null window.
const KindOperations textKind = {};

// --- combo box -------------------------------------------------------------

LRESULT ComboGetState(HWND control)
{
    return SendMessageA(control, CB_GETCURSEL, 0, 0);
}

LRESULT ComboSetState(HWND control, LRESULT state)
{
    return SendMessageA(control, CB_SETCURSEL, static_cast<WPARAM>(state), 0);
}

void ComboSetText(HWND control, const char* text)
{
    LONG style = GetWindowLongA(control, GWL_STYLE);
    // Bit 0 is set for the list styles (CBS_SIMPLE, CBS_DROPDOWNLIST): the
    // text can only be one of the items, so it selects one.
    if (!(style & 0x1)) {
        SetWindowTextA(control, text ? text : "");
        return;
    }
    if (!text || !*text) {
        SendMessageA(control, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        return;
    }
    // Whole-text match, case ignored; no match keeps the selection.
    LRESULT found = SendMessageA(control, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(text));
    if (found != CB_ERR)
        SendMessageA(control, CB_SETCURSEL, static_cast<WPARAM>(found), 0);
}

LRESULT ComboAddItem(HWND control, int32_t position, const char* text)
{
    return SendMessageA(control, CB_INSERTSTRING, static_cast<WPARAM>(position),
                        reinterpret_cast<LPARAM>(text));
}

LRESULT ComboRemoveItem(HWND control, int32_t index)
{
    return SendMessageA(control, CB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

LRESULT ComboClearItems(HWND control)
{
    return SendMessageA(control, CB_RESETCONTENT, 0, 0);
}

LRESULT ComboCountItems(HWND control)
{
    return SendMessageA(control, CB_GETCOUNT, 0, 0);
}

std::string ComboGetItemText(HWND control, int32_t item, int32_t)
{
    LRESULT length = SendMessageA(control, CB_GETLBTEXTLEN, static_cast<WPARAM>(item), 0);
    if (length == CB_ERR || length <= 0)
        return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    LRESULT copied = SendMessageA(control, CB_GETLBTEXT, static_cast<WPARAM>(item),
                                  reinterpret_cast<LPARAM>(&text[0]));
    if (copied == CB_ERR || copied <= 0)
        return std::string();
    text.resize(static_cast<size_t>(copied < length ? copied : length));
    return text;
}

LRESULT ComboSetItemText(HWND control, int32_t item, const char* text)
{
    SendMessageA(control, CB_DELETESTRING, static_cast<WPARAM>(item), 0);
    return SendMessageA(control, CB_INSERTSTRING, static_cast<WPARAM>(item),
                        reinterpret_cast<LPARAM>(text ? text : ""));
}

KindOperations MakeComboKind()
{
    KindOperations kind = {};
    kind.getState = ComboGetState;
    kind.setState = ComboSetState;
    kind.setText = ComboSetText;
    kind.addItem = ComboAddItem;
    kind.removeItem = ComboRemoveItem;
    kind.clearItems = ComboClearItems;
    kind.countItems = ComboCountItems;
    kind.getItemText = ComboGetItemText;
    kind.setItemText = ComboSetItemText;
    return kind;
}

// The combo box's operations, shared by every combo box; fixed for the process.
const KindOperations comboKind = MakeComboKind();

// --- button ----------------------------------------------------------------

LRESULT ButtonGetState(HWND control)
{
    return SendMessageA(control, BM_GETCHECK, 0, 0);
}

LRESULT ButtonSetState(HWND control, LRESULT state)
{
    return SendMessageA(control, BM_SETCHECK, static_cast<WPARAM>(state), 0);
}

KindOperations MakeButtonKind()
{
    KindOperations kind = {};
    kind.getState = ButtonGetState;
    kind.setState = ButtonSetState;
    return kind;
}

// The button's operations, shared by every button; fixed for the process.
const KindOperations buttonKind = MakeButtonKind();

// --- lookup ----------------------------------------------------------------

// The control under a number as the operations see it. The generic
// behaviours skip the platform call for the null window: Wine answers some
// calls on window 0 (GetWindowTextA gives stray text) instead of failing.
struct Target {
    HWND window;
    const KindOperations* kind;
};

Target FindControl(int32_t number)
{
    ControlRecord* record = ControlLookup(number);
    if (!record)
        return Target{0, &textKind};
    HWND window = static_cast<HWND>(NativeHandle(record->handle));
    return Target{window, record->kind ? record->kind : &textKind};
}

// Deduces an entry's argument types from the entry alone.
template <typename T>
struct NonDeduced {
    using type = T;
};

// Calls the kind's entry on the control under the number; 0 when the kind
// has no such entry.
template <typename... Args>
LRESULT CallEntry(int32_t number, LRESULT (*KindOperations::*entry)(HWND, Args...),
                  typename NonDeduced<Args>::type... args)
{
    Target target = FindControl(number);
    LRESULT (*handler)(HWND, Args...) = target.kind->*entry;
    return handler ? handler(target.window, args...) : 0;
}

// The outer size along one axis: the kind's own measure, else the window
// rectangle (borders included).
int32_t MeasureControl(int32_t number, bool horizontal)
{
    Target target = FindControl(number);
    int32_t (*measure)(HWND) = horizontal ? target.kind->getWidth : target.kind->getHeight;
    if (measure)
        return measure(target.window);
    RECT rect = {};
    if (target.window)
        GetWindowRect(target.window, &rect);
    return horizontal ? rect.right - rect.left : rect.bottom - rect.top;
}

void DestroyTarget(const Target& target)
{
    if (target.kind->destroy)
        target.kind->destroy(target.window);
    else
        DestroyWindow(target.window);
}

}  // namespace

// ---------------------------------------------------------------------------
// Module state

void InitControlLists()
{
    currentParent = 0;
    parentDepth = 0;
    for (HWND& entry : parentStack)
        entry = 0;
}

HWND CurrentControlParent() { return currentParent; }

int32_t ControlListDepth() { return parentDepth; }

bool PushControlParent(HWND parent)
{
    if (parentDepth >= CONTROL_LIST_DEPTH)
        return false;
    parentStack[parentDepth++] = currentParent;
    currentParent = parent;
    return true;
}

// ---------------------------------------------------------------------------
// Creation

HWND CreateKindControl(int32_t number, const KindOperations* kind, DWORD exStyle,
                       const char* className, const char* text, DWORD style,
                       int32_t x, int32_t y, int32_t width, int32_t height,
                       HFONT font, int32_t* numberOut)
{
    int32_t used = 0;
    ControlRecord* record = static_cast<ControlRecord*>(ControlObtain(number, &used));
    *numberOut = record ? used : 0;
    if (!record)
        return 0;
    // A number names at most one control: the old one goes first, and its
    // destruction empties the record through the subclass procedure.
    if (number != ANY_NUMBER && ControlLookup(used))
        DestroyTarget(FindControl(used));

    HWND control = CreateWindowExA(exStyle, className, text, style, x, y, width, height,
                                   currentParent,
                                   reinterpret_cast<HMENU>(static_cast<intptr_t>(used)),
                                   ToolkitInstance(), 0);

    // Messages sent during the destruction and creation may have grown the
    // table (the block can move); a numberless record never moves.
    if (number != ANY_NUMBER)
        record = static_cast<ControlRecord*>(ControlObtain(used, 0));
    if (!record)
        return control;
    record->handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(control));
    record->kind = kind;
    record->previousProc = 0;
    if (!control)
        return 0;
    InstallControlSubclass(record);
    if (font)
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return control;
}

int32_t CreationResult(int32_t requested, int32_t number, HWND control)
{
    if (requested == ANY_NUMBER)
        return number;
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(control));
}

int32_t CreateTextControl(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                          const char* text, uint32_t flags)
{
    DWORD exStyle = (flags & CONTROL_TEXT_SUNKEN) ? WS_EX_CLIENTEDGE : 0;
    int32_t used = 0;
    HWND control = CreateKindControl(number, &textKind, exStyle, "STATIC", text,
                                     0x50020000u | flags, x, y, width, height,
                                     DefaultControlFont(), &used);
    return CreationResult(number, used, control);
}

int32_t CreateComboBoxControl(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height)
{
    int32_t used = 0;
    HWND control = CreateKindControl(number, &comboKind, WS_EX_CLIENTEDGE, "COMBOBOX", 0,
                                     0x50A30203u, x, y, width, height,
                                     DefaultControlFont(), &used);
    return CreationResult(number, used, control);
}

int32_t CreateButtonControl(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                            const char* text, uint32_t flags)
{
    int32_t used = 0;
    HWND control = CreateKindControl(number, &buttonKind, 0, "BUTTON", text,
                                     0x50030000u | flags, x, y, width, height,
                                     DefaultControlFont(), &used);
    return CreationResult(number, used, control);
}

// ---------------------------------------------------------------------------
// Control lists

HWND StartControlList(HWND window)
{
    currentParent = window;
    return window;
}

void CloseControlList()
{
    if (parentDepth == 0)
        return;
    currentParent = parentStack[--parentDepth];
    parentStack[parentDepth] = 0;
}

LRESULT OpenControlList(int32_t number, int32_t item)
{
    Target target = FindControl(number);
    if (!target.kind->openControlList)
        return 0;
    return target.kind->openControlList(target.window, item);
}

// ---------------------------------------------------------------------------
// Common operations

void SetControlFont(int32_t number, HFONT font)
{
    if (font == StockFontRequest())
        font = StockControlFont();
    if (number == ANY_NUMBER) {
        SetDefaultControlFont(font);
        return;
    }
    HWND control = FindControl(number).window;
    if (control)
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

std::string GetControlText(int32_t number)
{
    Target target = FindControl(number);
    if (target.kind->getText)
        return target.kind->getText(target.window);
    if (!target.window)
        return std::string();
    std::string text(TEXT_LIMIT, '\0');
    int copied = GetWindowTextA(target.window, &text[0], TEXT_LIMIT);
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

void SetControlText(int32_t number, const char* text)
{
    Target target = FindControl(number);
    if (target.kind->setText)
        target.kind->setText(target.window, text);
    else if (target.window)
        SetWindowTextA(target.window, text);
}

LRESULT AddControlItem(int32_t number, int32_t position, const char* text)
{
    // The kinds get the empty text in place of a null one.
    return CallEntry(number, &KindOperations::addItem, position, text ? text : "");
}

LRESULT SetControlState(int32_t number, LRESULT state)
{
    return CallEntry(number, &KindOperations::setState, state);
}

LRESULT GetControlState(int32_t number)
{
    return CallEntry(number, &KindOperations::getState);
}

LRESULT RemoveControlItem(int32_t number, int32_t index)
{
    return CallEntry(number, &KindOperations::removeItem, index);
}

LRESULT ClearControlItems(int32_t number)
{
    return CallEntry(number, &KindOperations::clearItems);
}

LRESULT CountControlItems(int32_t number)
{
    return CallEntry(number, &KindOperations::countItems);
}

std::string GetControlItemText(int32_t number, int32_t item, int32_t column)
{
    Target target = FindControl(number);
    if (!target.kind->getItemText)
        return std::string();
    return target.kind->getItemText(target.window, item, column);
}

LRESULT SetControlItemText(int32_t number, int32_t item, const char* text)
{
    return CallEntry(number, &KindOperations::setItemText, item, text);
}

HWND GetControlHandle(int32_t number)
{
    return FindControl(number).window;
}

int32_t GetControlWidth(int32_t number)
{
    return MeasureControl(number, true);
}

int32_t GetControlHeight(int32_t number)
{
    return MeasureControl(number, false);
}

void FreeControl(int32_t number)
{
    Target target = FindControl(number);
    if (target.window)
        DestroyTarget(target);
}
