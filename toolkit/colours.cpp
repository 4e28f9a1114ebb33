// Control colouring: the colour list and the answers to colour messages.
#include "toolkit/colours.h"

#include <commctrl.h>
#include <string.h>
#include <vector>

#include "toolkit/registry.h"

namespace {

struct ColourRecord {
    int32_t number;        // control number it was coloured under; key for SetControlColours
    HWND handle;           // control at the last colouring; key for HandleColourMessage
    COLORREF text;
    COLORREF background;
    HBRUSH brush;          // solid brush of the background, owned by the record
};

// Colour list: one record per control number ever coloured, in the order of
// first colouring. Records stay until FreeControlColours, also after their
// control is gone; each brush is deleted on recolouring and there.
std::vector<ColourRecord> colourList;

bool IsListLikeClass(const char* className)
{
    static const char* const listLike[] = {"Edit", "ListBox", "ComboBox", "SysListView32"};
    for (const char* name : listLike) {
        if (strcmp(className, name) == 0)
            return true;
    }
    return false;
}

const ColourRecord* FindByHandle(HWND control)
{
    for (const ColourRecord& record : colourList) {
        if (record.handle == control)
            return &record;
    }
    return 0;
}

void DeleteBrush(ColourRecord& record)
{
    if (record.brush)
        DeleteObject(record.brush);
    record.brush = 0;
}

LRESULT AnswerCustomDraw(const NMHDR* header, LRESULT passOn)
{
    const ColourRecord* record = FindByHandle(header->hwndFrom);
    if (!record)
        return passOn;
    // The notification is a list view's; its record carries the item colours.
    NMLVCUSTOMDRAW* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(const_cast<NMHDR*>(header));
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
        draw->clrText = record->text;
        draw->clrTextBk = record->background;
        return CDRF_NEWFONT;
    default:
        return passOn;
    }
}

}  // namespace

void InitControlColours()
{
    // A list left over from an earlier run gives its brushes back first.
    FreeControlColours();
}

void FreeControlColours()
{
    for (ColourRecord& record : colourList)
        DeleteBrush(record);
    std::vector<ColourRecord>().swap(colourList);
}

int32_t SetControlColours(int32_t number, COLORREF text, COLORREF background)
{
    const ControlRecord* control = ControlLookup(number);
    if (!control)
        return 0;
    HWND handle = static_cast<HWND>(NativeHandle(control->handle));
    char className[255] = "";
    GetClassNameA(handle, className, 254);

    ColourRecord* record = 0;
    for (ColourRecord& candidate : colourList) {
        if (candidate.number == number) {
            record = &candidate;
            break;
        }
    }
    if (record) {
        DeleteBrush(*record);
    } else {
        colourList.push_back(ColourRecord{});
        record = &colourList.back();
    }
    record->number = number;
    record->handle = handle;
    record->text = static_cast<COLORREF>(ResolveColour(text, COLOUR_ROLE_TEXT, className));
    record->background =
        static_cast<COLORREF>(ResolveColour(background, COLOUR_ROLE_BACKGROUND, className));
    record->brush = reinterpret_cast<HBRUSH>(ResolveColour(background, COLOUR_ROLE_BRUSH, className));

    // Only invalidated: the control repaints when the thread next takes its messages.
    RedrawWindow(handle, 0, 0,
                 RDW_INVALIDATE | RDW_INTERNALPAINT | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
    return 0;
}

LRESULT HandleColourMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                            LRESULT passOn)
{
    (void)window;   // the same answer whichever parent asks
    if (colourList.empty())
        return passOn;
    if (message >= WM_CTLCOLOREDIT && message <= WM_CTLCOLORSTATIC) {
        const ColourRecord* record = FindByHandle(reinterpret_cast<HWND>(lParam));
        if (!record)
            return passOn;
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkMode(dc, TRANSPARENT);   // text over the brush, not on a box of its own
        SetTextColor(dc, record->text);
        SetBkColor(dc, record->background);
        return reinterpret_cast<LRESULT>(record->brush);
    }
    if (message == WM_NOTIFY && lParam) {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->code == static_cast<UINT>(NM_CUSTOMDRAW))
            return AnswerCustomDraw(header, passOn);
    }
    return passOn;
}

uintptr_t ResolveColour(COLORREF colour, ColourRole role, const char* className)
{
    bool listLike = IsListLikeClass(className ? className : "");
    if (colour == COLOUR_SYSTEM_DEFAULT) {
        switch (role) {
        case COLOUR_ROLE_TEXT:
            colour = GetSysColor(listLike ? COLOR_WINDOWTEXT : COLOR_BTNTEXT);
            break;
        case COLOUR_ROLE_BACKGROUND:
        case COLOUR_ROLE_BRUSH:
            colour = GetSysColor(listLike ? COLOR_WINDOW : COLOR_BTNFACE);
            break;
        }
    }
    if (role == COLOUR_ROLE_BRUSH)
        return reinterpret_cast<uintptr_t>(CreateSolidBrush(colour));
    return colour;
}

size_t ControlColourCount() { return colourList.size(); }
