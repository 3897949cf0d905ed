// window_probe: looks at and pokes the windows of a running Updater.exe from outside, for the
// window tests under Xvfb. Runs on the named (virtual) desktop that the updater runs on.
//
//   window_probe --desktop <name> wait <title> [ms]      0 once a visible window has it
//   window_probe --desktop <name> wait-gone <title> [ms] 0 once none has it
//   window_probe --desktop <name> dump <title>           the window's place, its focus and
//                                  default button, then one line per control
//   window_probe --desktop <name> wait-item <title> <id> <regex> [ms]
//                                  0 once control <id>'s text matches <regex>; prints the
//                                  dump taken at that moment (the last one on a time-out)
//   window_probe --desktop <name> click <title> <id>     a button click, posted
//   window_probe --desktop <name> syscommand <title> <id>
//   window_probe --desktop <name> close <title>          WM_CLOSE, posted
//   window_probe --desktop <name> move <title> <x> <y>   moves the window's top-left corner
//   window_probe --desktop <name> key <title> <key>...   brings the window to the front and
//                                  types the keys (enter, esc, tab, space) as the keyboard does
//   window_probe --desktop <name> titles                 the visible top-level windows
//   window_probe --desktop <name> rect <title> <id>      control <id>'s left top right bottom
//                                  on the screen, and for a combo box the height of its
//                                  list's entries
//   window_probe --desktop <name> items <title> <id>     the entries of combo box <id>
//   window_probe hold <ms> <mutex name>...               holds named mutexes for a while
//   window_probe --desktop <name> serve                  the commands above from stdin

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

namespace {

std::vector<HWND> VisibleTopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM out) -> BOOL {
            if (IsWindowVisible(window))
                reinterpret_cast<std::vector<HWND>*>(out)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// WM_GETTEXT, since GetWindowTextA does not ask the controls of another process.
std::string TextOf(HWND window) {
    char text[1024] = {};
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    return text;
}

HWND FindTitled(const std::string& title) {
    for (HWND window : VisibleTopLevelWindows()) {
        if (TextOf(window) == title) return window;
    }
    return nullptr;
}

// True once a window with the title is there (or, when `gone`, none is any more).
bool WaitFor(const std::string& title, DWORD timeoutMs, bool gone) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (true) {
        if ((FindTitled(title) != nullptr) != gone) return true;
        if (GetTickCount64() > deadline) return false;
        Sleep(50);
    }
}

std::string RectText(const RECT& rect) {
    char text[64];
    std::snprintf(text, sizeof text, "%ld,%ld,%ld,%ld", rect.left, rect.top, rect.right,
                  rect.bottom);
    return text;
}

// The control of `dialog` that holds the keyboard focus (a combo box for its own edit), 0
// when the focus is on none of them.
int FocusedControlId(HWND dialog) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) return 0;
    for (HWND window = info.hwndFocus; window != nullptr; window = GetParent(window)) {
        if (GetParent(window) == dialog) return GetDlgCtrlID(window);
    }
    return 0;
}

void Dump(HWND dialog) {
    std::vector<HWND> children;
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM out) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(out)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    std::printf("title=%s\n", TextOf(dialog).c_str());
    RECT bounds{};
    GetWindowRect(dialog, &bounds);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoA(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor);
    std::printf("rect=%s workarea=%s\n", RectText(bounds).c_str(),
                RectText(monitor.rcWork).c_str());
    // The default button the dialog manager answers Enter with, and the buttons that draw
    // the default frame.
    DWORD_PTR defId = 0;
    SendMessageTimeoutA(dialog, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 2000, &defId);
    std::string framed;
    for (HWND child : children) {
        char className[64] = {};
        GetClassNameA(child, className, sizeof className);
        if (GetParent(child) == dialog && _stricmp(className, "Button") == 0 &&
            (GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            if (!framed.empty()) framed += ',';
            framed += std::to_string(GetDlgCtrlID(child));
        }
    }
    std::printf("focus=%d default=%d framed=%s\n", FocusedControlId(dialog),
                HIWORD(defId) == DC_HASDEFID ? static_cast<int>(LOWORD(defId)) : 0, framed.c_str());
    for (HWND child : children) {
        if (GetParent(child) != dialog) continue;  // the combo boxes' own edit and list
        char className[64] = {};
        GetClassNameA(child, className, sizeof className);
        std::printf("id=%d class=%s enabled=%d", GetDlgCtrlID(child), className,
                    IsWindowEnabled(child) ? 1 : 0);
        if (_stricmp(className, "ComboBox") == 0) {
            std::printf(" count=%d selection=%d",
                        static_cast<int>(SendMessageA(child, CB_GETCOUNT, 0, 0)),
                        static_cast<int>(SendMessageA(child, CB_GETCURSEL, 0, 0)));
        } else if (_stricmp(className, PROGRESS_CLASSA) == 0) {
            std::printf(" range=%d..%d position=%d",
                        static_cast<int>(SendMessageA(child, PBM_GETRANGE, TRUE, 0)),
                        static_cast<int>(SendMessageA(child, PBM_GETRANGE, FALSE, 0)),
                        static_cast<int>(SendMessageA(child, PBM_GETPOS, 0, 0)));
        }
        std::printf(" text=%s\n", TextOf(child).c_str());
    }
}

// Waits until the text of control `id` matches `pattern`, then dumps the whole window at
// once, so that the lines describe the moment of the match (a test pauses the device there).
bool WaitForItem(const std::string& title, int id, const std::regex& pattern, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    HWND window = nullptr;
    while (true) {
        if (window == nullptr || !IsWindow(window)) window = FindTitled(title);
        if (window != nullptr && std::regex_search(TextOf(GetDlgItem(window, id)), pattern)) {
            Dump(window);
            return true;
        }
        if (GetTickCount64() > deadline) break;
        Sleep(5);
    }
    if (window != nullptr) Dump(window);
    return false;
}

// Keyboard input as a user's: into the system's input queue, to the foreground window's focus.
bool TypeKeys(HWND window, const std::vector<std::string>& names) {
    std::vector<WORD> keys;
    for (const auto& name : names) {
        if (name == "enter")
            keys.push_back(VK_RETURN);
        else if (name == "esc")
            keys.push_back(VK_ESCAPE);
        else if (name == "tab")
            keys.push_back(VK_TAB);
        else if (name == "space")
            keys.push_back(VK_SPACE);
        else
            return false;
    }
    SetForegroundWindow(window);
    for (int i = 0; i < 100 && GetForegroundWindow() != window; ++i) Sleep(20);
    for (const WORD key : keys) {
        INPUT strokes[2] = {};
        strokes[0].type = strokes[1].type = INPUT_KEYBOARD;
        strokes[0].ki.wVk = strokes[1].ki.wVk = key;
        strokes[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, strokes, sizeof(INPUT));
        Sleep(100);  // each key handled before the next, as typed
    }
    return true;
}

int Usage() {
    std::fprintf(stderr, "usage: window_probe [--desktop <name>] <command> ...\n");
    return 2;
}

int RunCommand(const std::vector<std::string>& args) {
    if (args.empty()) return Usage();
    const std::string& command = args[0];
    const auto numberAt = [&](std::size_t i, long fallback) {
        return args.size() > i ? std::strtol(args[i].c_str(), nullptr, 0) : fallback;
    };

    if (command == "titles") {
        for (HWND window : VisibleTopLevelWindows()) std::printf("%s\n", TextOf(window).c_str());
        return 0;
    }
    if (command == "hold" && args.size() >= 3) {
        std::vector<HANDLE> held;
        for (std::size_t i = 2; i < args.size(); ++i) {
            held.push_back(CreateMutexA(nullptr, TRUE, args[i].c_str()));
        }
        Sleep(static_cast<DWORD>(numberAt(1, 0)));
        return 0;
    }
    if (args.size() < 2) return Usage();
    const std::string& title = args[1];
    if (command == "wait" || command == "wait-gone") {
        const bool gone = command == "wait-gone";
        if (!WaitFor(title, static_cast<DWORD>(numberAt(2, 30000)), gone)) {
            std::fprintf(stderr, "window_probe: '%s' %s\n", title.c_str(),
                         gone ? "is still there" : "did not appear");
            return 1;
        }
        return 0;
    }
    if (command == "wait-item" && args.size() >= 4) {
        const std::regex pattern(args[3]);
        if (!WaitForItem(title, static_cast<int>(numberAt(2, 0)), pattern,
                         static_cast<DWORD>(numberAt(4, 30000)))) {
            std::fprintf(stderr, "window_probe: control %s of '%s' never matched '%s'\n",
                         args[2].c_str(), title.c_str(), args[3].c_str());
            return 1;
        }
        std::fflush(stdout);
        return 0;
    }
    HWND window = FindTitled(title);
    if (window == nullptr) {
        std::fprintf(stderr, "window_probe: no window '%s'\n", title.c_str());
        return 1;
    }
    if (command == "dump") {
        Dump(window);
    } else if (command == "click" && args.size() >= 3) {
        const int id = static_cast<int>(numberAt(2, 0));
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
    } else if (command == "syscommand" && args.size() >= 3) {
        PostMessageA(window, WM_SYSCOMMAND, static_cast<WPARAM>(numberAt(2, 0)), 0);
    } else if (command == "close") {
        PostMessageA(window, WM_CLOSE, 0, 0);
    } else if (command == "move" && args.size() >= 4) {
        SetWindowPos(window, nullptr, static_cast<int>(numberAt(2, 0)),
                     static_cast<int>(numberAt(3, 0)), 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    } else if (command == "key" && args.size() >= 3) {
        if (!TypeKeys(window, std::vector<std::string>(args.begin() + 2, args.end())))
            return Usage();
    } else if (command == "rect" && args.size() >= 3) {
        // Where a real mouse click lands (xdotool in the window tests): on the control, or on
        // an entry of a combo box's list, which drops down right below it.
        HWND control = GetDlgItem(window, static_cast<int>(numberAt(2, 0)));
        RECT rect{};
        if (!GetWindowRect(control, &rect)) return 1;
        std::printf("%ld %ld %ld %ld", rect.left, rect.top, rect.right, rect.bottom);
        char className[64] = {};
        GetClassNameA(control, className, sizeof className);
        if (_stricmp(className, "ComboBox") == 0) {
            std::printf(" %d", static_cast<int>(SendMessageA(control, CB_GETITEMHEIGHT, 0, 0)));
        }
        std::printf("\n");
    } else if (command == "items" && args.size() >= 3) {
        HWND combo = GetDlgItem(window, static_cast<int>(numberAt(2, 0)));
        const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            // Asked in UTF-16: the text crosses into this process as such.
            wchar_t wide[260] = {};
            char text[520] = {};
            if (SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) < 260) {
                SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i),
                             reinterpret_cast<LPARAM>(wide));
                WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr);
            }
            std::printf("%s\n", text);
        }
    } else {
        return Usage();
    }
    std::fflush(stdout);
    return 0;
}

// serve: one command a line on stdin, its arguments separated by tabs; after each, its
// output and a line "=<exit code>". One process under Wine for a whole test: starting a
// Windows program costs seconds under emulation.
int Serve() {
    std::string line;
    int c = 0;
    while ((c = std::getchar()) != EOF) {
        if (c == '\r') continue;
        if (c != '\n') {
            line.push_back(static_cast<char>(c));
            continue;
        }
        std::vector<std::string> args;
        std::size_t from = 0;
        while (true) {
            const std::size_t tab = line.find('\t', from);
            args.push_back(line.substr(from, tab == std::string::npos ? tab : tab - from));
            if (tab == std::string::npos) break;
            from = tab + 1;
        }
        line.clear();
        const int result = args.empty() || args[0].empty() ? Usage() : RunCommand(args);
        std::printf("=%d\n", result);
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "--desktop") {
        // The desktop comes into being with the first program started on it, and goes away
        // soon after the last one has ended: then it holds no windows, and neither waiting
        // for them to go nor listing them needs to wait for it.
        const bool goneMeansNoWindows =
            args.size() >= 3 && (args[2] == "wait-gone" || args[2] == "titles");
        HDESK desktop = nullptr;
        for (int attempt = 0; attempt < 600 && desktop == nullptr; ++attempt) {
            desktop = OpenDesktopA(args[1].c_str(), 0, FALSE, GENERIC_ALL);
            if (desktop == nullptr && goneMeansNoWindows) return 0;
            if (desktop == nullptr) Sleep(50);
        }
        if (desktop == nullptr || !SetThreadDesktop(desktop)) {
            std::fprintf(stderr, "window_probe: no desktop %s\n", args[1].c_str());
            return 2;
        }
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() == 1 && args[0] == "serve") return Serve();
    return RunCommand(args);
}
