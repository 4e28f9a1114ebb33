#include "tests/support/driver.h"

#include <stdlib.h>

#include "tools/virtual-coupler/coupler_client.h"

uint32_t Setting(const char* name, uint32_t fallback)
{
    const char* value = getenv(name);
    return value && *value ? static_cast<uint32_t>(strtoul(value, nullptr, 10)) : fallback;
}

// --- the end-to-end session -------------------------------------------------

Session::~Session()
{
    if (HWND box = window ? process.CurrentMessageBox() : 0)
        PressOk(box);
    if (window)
        Close();
    CouplerReset();
}

bool Session::Launch(const std::vector<int>& present, const std::vector<int>& busy)
{
    bool coupler = CouplerAttach() && CouplerReset();
    for (int com : present)
        coupler = coupler && CouplerPortPresent(com, true);
    for (int com : busy)
        coupler = coupler && CouplerPortPresent(com, true) && CouplerPortBusy(com, true);
    EXPECT_TRUE(coupler) << "no virtual coupler: run the suites through scripts/test";
    window = coupler && process.Start() ? process.WaitMainWindow() : 0;
    editor = window ? WaitTesterTakingMessages(window) : 0;
    for (int number = 0; number < 18; ++number)
        controls[number] = FindControl(window, number);
    EXPECT_TRUE(editor) << "the tester did not come up";
    return editor != 0;
}

bool Session::Press(int button)
{
    PressButton(Control(button));
    bool taken = WaitPostedMessagesTaken(editor);
    HWND box = process.CurrentMessageBox();
    EXPECT_TRUE(taken && !box) << "button " << button << ": " << (taken ? "box " + WindowText(box) : "hangs");
    return taken && !box;
}

void Session::Select(int list, int index)
{
    // As a pick does: the selection, then the list's word to its parent.
    Ask(Control(list), CB_SETCURSEL, index);
    PostMessageA(GetParent(Control(list)), WM_COMMAND, MAKEWPARAM(list, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(Control(list)));
    WaitPostedMessagesTaken(editor);
}

std::vector<std::string> Session::Items(int list)
{
    // Wide: between processes Wine passes only an ANSI item's first character.
    std::vector<std::string> items;
    for (LRESULT i = 0, n = Ask(Control(list), CB_GETCOUNT); i < n; ++i) {
        wchar_t wide[64] = L"";
        char narrow[64] = "";
        Ask(Control(list), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide), true);
        WideCharToMultiByte(1252, 0, wide, -1, narrow, sizeof narrow, 0, 0);
        items.push_back(narrow);
    }
    return items;
}

bool Session::Answer(const expected::Box& box, const char* openButtonMeanwhile)
{
    HWND shown = process.WaitBox(box.title, 3000), other = shown ? 0 : process.CurrentMessageBox();
    std::string text = WindowText(GetDlgItem(shown, 0xFFFF)), button = Text(expected::OPEN_BUTTON);
    EXPECT_TRUE(shown) << "no box \"" << box.title << "\"; " << (other ? WindowText(other) : "none") << " is up";
    EXPECT_EQ(text, shown ? box.text : "") << box.title;
    EXPECT_EQ(button, shown && openButtonMeanwhile ? openButtonMeanwhile : button) << "while " << box.title << " is up";
    // Every box of the tester has a single OK button and no icon.
    std::vector<int> buttons;
    for (int id = IDOK; shown && id <= IDCONTINUE; ++id)
        if (IsWindowVisible(GetDlgItem(shown, id)))
            buttons.push_back(id);
    EXPECT_EQ(buttons, std::vector<int>(shown ? 1 : 0, IDOK)) << box.title << ": the buttons shown, not just OK (1)";
    EXPECT_EQ(shown ? Ask(GetDlgItem(shown, 0x440), STM_GETICON) : 0, 0) << box.title << ": an icon";
    bool closed = shown && PressOk(shown) && WaitPostedMessagesTaken(editor);
    return closed && text == box.text && (!openButtonMeanwhile || button == openButtonMeanwhile);
}

::testing::AssertionResult Session::Colour(HWND target, int x, int y, COLORREF colour)
{
    POINT p = {x, y};
    ClientToScreen(target, &p);
    HDC screen = GetDC(0);
    COLORREF shown = GetPixel(screen, p.x, p.y);
    // The colour comes with the next paint, a little after the text.
    for (int i = 0; i < 75 && shown != colour; ++i, Sleep(20))
        shown = GetPixel(screen, p.x, p.y);
    ReleaseDC(0, screen);
    return shown == colour ? ::testing::AssertionSuccess()
                           : ::testing::AssertionFailure() << "control " << GetWindowLongA(target, GWL_ID)
                                                           << " shows 0x" << std::hex << shown << ", not 0x" << colour;
}

::testing::AssertionResult Session::Field(int field, const char* text, COLORREF background)
{
    return Text(field) != text
               ? ::testing::AssertionFailure() << "field " << field << " reads \"" << Text(field) << "\", not " << text
               : Colour(Control(field), 3, 3, background);
}

bool Session::Close()
{
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD code = 99;
    bool ended = process.WaitExit(&code, 10000) && code == 0;
    EXPECT_TRUE(ended) << "the close box did not end the program with code 0";
    window = 0;
    return ended;
}

std::string TempPath(const char* prefix)
{
    char folder[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, prefix, 0, path);
    DeleteFileA(path);
    return path;
}

std::string JsonSays(const std::string&, const std::string&) { return ""; }

ConsoleRun RunConsole(const char* program, const std::string& arguments, const std::string& input,
                      std::function<void(const std::string&, HANDLE)> watch, bool errorsApart)
{
    ConsoleRun result;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    // Standard input, output and error: the child's end and ours (error shares output unless apart).
    HANDLE in[2] = {}, out[2] = {}, err[2] = {};
    bool piped = CreatePipe(&in[0], &in[1], &inherit, 0) && CreatePipe(&out[1], &out[0], &inherit, 0) &&
                 (!errorsApart || CreatePipe(&err[1], &err[0], &inherit, 0));
    // The child inherits only its own ends.
    for (HANDLE ours : {in[1], out[1], err[1]})
        SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in[0];
    startup.hStdOutput = out[0];
    startup.hStdError = err[0] ? err[0] : out[0];
    PROCESS_INFORMATION process = {};
    std::string exe = WindowsPath(program), line = "\"" + exe + "\" " + arguments;
    DWORD done = 0;
    bool started = piped && CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                           &startup, &process);
    for (HANDLE child : {in[0], out[0], err[0]})
        CloseHandle(child);
    if (started) {
        WriteFile(in[1], input.data(), static_cast<DWORD>(input.size()), &done, nullptr);
        bool ended = false;
        for (DWORD start = GetTickCount(); !ended && GetTickCount() - start < 60000;) {
            ended = WaitForSingleObject(process.hProcess, 5) == WAIT_OBJECT_0;
            char buffer[4096];
            for (auto [pipe, text] : {std::make_pair(out[1], &result.output), std::make_pair(err[1], &result.errors)})
                while (pipe && PeekNamedPipe(pipe, nullptr, 0, nullptr, &done, nullptr) && done > 0 &&
                       ReadFile(pipe, buffer, sizeof buffer, &done, nullptr))
                    text->append(buffer, done);
            if (watch && !ended)
                watch(result.output, in[1]);
        }
        if (!ended) {
            TerminateProcess(process.hProcess, 98);
            WaitForSingleObject(process.hProcess, 5000);
        }
        GetExitCodeProcess(process.hProcess, &result.code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    for (HANDLE ours : {in[1], out[1], err[1]})
        CloseHandle(ours);
    return result;
}

const bool WINDOWS_PROGRAMS = true;
const char* const USAGE_PORT = "COMn";
std::string PortName(int com) { return "COM" + std::to_string(com); }
