/* kx4conprobe.exe: drives a program through the console it opens for itself.
 *
 *   kx4conprobe [--timeout MS] [--cwd DIR] [step...] -- program [args...]
 *
 * Starts the program the way a double click would (no console, no inherited
 * handles), waits until it has a console and attaches to it, then runs the
 * steps in order:
 *
 *   --expect TEXT      wait until the console screen shows TEXT
 *   --expect-re RE     wait until the screen matches RE (ECMAScript syntax;
 *                      rows are joined with "\n", a wrapped line is one row)
 *   --keys TEXT        type TEXT into the console; "\n" is the Enter key,
 *                      "\c" Ctrl+C, "\\" a backslash
 *   --ctrl-c           send Ctrl+C to the console's processes
 *                      (GenerateConsoleCtrlEvent) and wait until it has
 *                      reached the probe, which is one of them
 *   --ctrl-break       the same with Ctrl+Break (wine 8 refuses to send it)
 *   --running          the program must not have ended yet
 *   --height N         the console's screen buffer must have N lines
 *
 * Then it waits for the program to end, prints the console's text and
 * returns the program's exit code. When a step fails or time runs out it
 * kills the program and returns its own code instead: 70 usage, 71 cannot
 * start, 72 no console, 73 text or height not seen, 74 program did not end,
 * 75 program ended too early, 76 input or control event not delivered. All
 * waits together end --timeout milliseconds after the start (default 20000).
 *
 * The probe is a GUI program, so it has no console of its own and can attach
 * to the target's; its output goes to the handle it was started with.
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace {

enum ProbeFailure {
    kUsage = 70,
    kStartFailed = 71,
    kNoConsole = 72,
    kNotSeen = 73,
    kExitTimeout = 74,
    kEndedEarly = 75,
    kInputFailed = 76,
};

const DWORD kPollMs = 20;

// Every wait of the run ends at one deadline (--timeout after the start).
DWORD g_start = 0;
DWORD g_timeoutMs = 20000;

bool expired() { return GetTickCount() - g_start >= g_timeoutMs; }

DWORD remainingMs() {
    DWORD spent = GetTickCount() - g_start;
    return spent >= g_timeoutMs ? 0 : g_timeoutMs - spent;
}

struct Step {
    enum Kind { Expect, ExpectRe, Keys, CtrlC, CtrlBreak, Running, Height } kind;
    std::wstring text;
};

HANDLE g_out = INVALID_HANDLE_VALUE;
volatile LONG g_ownControlEvents = 0;

void writeUtf8(const std::wstring &text) {
    if (g_out == INVALID_HANDLE_VALUE || g_out == nullptr || text.empty()) return;
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string bytes(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
    DWORD written;
    WriteFile(g_out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void note(const wchar_t *format, ...) {
    wchar_t line[1024];
    int n = swprintf(line, 1024, L"probe %6lu ms: ", GetTickCount() - g_start);
    va_list args;
    va_start(args, format);
    vswprintf(line + n, 1024 - n, format, args);
    va_end(args);
    writeUtf8(std::wstring(line) + L"\n");
}

// Windows command-line quoting, so that the target's argv is ours.
std::wstring quoteArgument(const std::wstring &arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            backslashes++;
            continue;
        }
        if (c == L'"') out.append(backslashes * 2 + 1, L'\\');
        else out.append(backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

std::wstring unescape(const std::wstring &text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == L'\\' && i + 1 < text.size()) {
            wchar_t next = text[++i];
            out += next == L'n' ? L'\r' : next == L'c' ? wchar_t(3) : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The probe is attached to the console it sends events to, so it gets them
// too; it must survive them.
BOOL WINAPI ownControlHandler(DWORD) {
    InterlockedIncrement(&g_ownControlEvents);
    return TRUE;
}

class Target {
public:
    PROCESS_INFORMATION pi{};

    bool exited(DWORD wait = 0) const { return WaitForSingleObject(pi.hProcess, wait) == WAIT_OBJECT_0; }

    DWORD exitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        return code;
    }

    void kill() {
        if (!exited()) {
            TerminateProcess(pi.hProcess, 1);
            WaitForSingleObject(pi.hProcess, 5000);
        }
    }
};

class Console {
public:
    HANDLE out = INVALID_HANDLE_VALUE;
    HANDLE in = INVALID_HANDLE_VALUE;
    std::wstring lastScreen;

    // Attaching fails until the target has called AllocConsole.
    bool attach(const Target &target) {
        for (;;) {
            if (AttachConsole(target.pi.dwProcessId)) break;
            if (target.exited() || expired()) return false;
            Sleep(kPollMs);
        }
        SetConsoleCtrlHandler(ownControlHandler, TRUE);
        out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
        in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
        return out != INVALID_HANDLE_VALUE && in != INVALID_HANDLE_VALUE;
    }

    COORD size() const {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!GetConsoleScreenBufferInfo(out, &info)) return COORD{0, 0};
        return info.dwSize;
    }

    // The buffer's text, one line per row with trailing blanks cut, trailing
    // empty rows dropped. A row filled to the last column continues on the
    // next one (the console wrapped a long line), so they are joined.
    std::wstring read() {
        COORD dims = size();
        if (dims.X <= 0 || dims.Y <= 0) return lastScreen;
        std::vector<wchar_t> cells(static_cast<size_t>(dims.X) * dims.Y);
        DWORD got = 0;
        if (!ReadConsoleOutputCharacterW(out, cells.data(), static_cast<DWORD>(cells.size()), COORD{0, 0}, &got))
            return lastScreen;
        std::wstring text;
        size_t pendingNewlines = 0;
        for (SHORT y = 0; y < dims.Y && static_cast<DWORD>(y) * dims.X < got; y++) {
            const wchar_t *row = cells.data() + static_cast<size_t>(y) * dims.X;
            size_t len = dims.X;
            bool full = row[len - 1] != L' ' && row[len - 1] != 0;
            while (len > 0 && (row[len - 1] == L' ' || row[len - 1] == 0)) len--;
            if (len > 0) {
                text.append(pendingNewlines, L'\n');
                pendingNewlines = 0;
                text.append(row, len);
            }
            if (!full) pendingNewlines++;
        }
        lastScreen = text;
        return text;
    }

    bool type(const std::wstring &keys) {
        std::vector<INPUT_RECORD> records;
        for (wchar_t c : keys) {
            SHORT scan = VkKeyScanW(c);
            WORD vk = scan == -1 ? 0 : LOBYTE(scan);
            DWORD state = (scan != -1 && (HIBYTE(scan) & 1)) ? SHIFT_PRESSED : 0;
            if (c == L'\r') vk = VK_RETURN;
            if (c == 3) {
                vk = 'C';
                state = LEFT_CTRL_PRESSED;
            }
            for (int down = 1; down >= 0; down--) {
                INPUT_RECORD r{};
                r.EventType = KEY_EVENT;
                r.Event.KeyEvent.bKeyDown = down;
                r.Event.KeyEvent.wRepeatCount = 1;
                r.Event.KeyEvent.wVirtualKeyCode = vk;
                r.Event.KeyEvent.wVirtualScanCode = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
                r.Event.KeyEvent.uChar.UnicodeChar = c;
                r.Event.KeyEvent.dwControlKeyState = state;
                records.push_back(r);
            }
        }
        // One record per write: wine's console host turns a Ctrl+C key in a
        // batch into one control event per remaining record of the batch.
        for (const INPUT_RECORD &r : records) {
            DWORD written = 0;
            if (!WriteConsoleInputW(in, &r, 1, &written) || written != 1) return false;
        }
        return true;
    }
};

bool awaitOwnControlEvents(LONG count) {
    while (g_ownControlEvents < count) {
        if (expired()) return false;
        Sleep(5);
    }
    return true;
}

bool waitForScreen(Console &console, const Target &target, const Step &step) {
    std::wregex re;
    if (step.kind == Step::ExpectRe) re = std::wregex(step.text, std::regex::ECMAScript);
    for (;;) {
        bool gone = target.exited();  // read the screen after this: output before exit is seen
        std::wstring screen = console.read();
        bool seen = step.kind == Step::Expect ? screen.find(step.text) != std::wstring::npos
                                              : std::regex_search(screen, re);
        if (seen) return true;
        if (gone || expired()) return false;
        Sleep(kPollMs);
    }
}

int usage() {
    writeUtf8(L"usage: kx4conprobe [--timeout MS] [--cwd DIR] [--expect TEXT | --expect-re RE | --keys TEXT |"
              L" --ctrl-c | --ctrl-break | --running | --height N]... -- program [args...]\n");
    return kUsage;
}

const wchar_t *stepName(Step::Kind kind) {
    switch (kind) {
    case Step::Expect: return L"expect";
    case Step::ExpectRe: return L"expect-re";
    case Step::Keys: return L"keys";
    case Step::CtrlC: return L"ctrl-c";
    case Step::CtrlBreak: return L"ctrl-break";
    case Step::Running: return L"running";
    case Step::Height: return L"height";
    }
    return L"?";
}

int finish(Console &console, Target &target, int code) {
    if (console.out != INVALID_HANDLE_VALUE) {
        COORD dims = console.size();
        writeUtf8(L"---- console " + std::to_wstring(dims.X) + L"x" + std::to_wstring(dims.Y) + L" ----\n" +
                  console.read() + L"\n---- end of console ----\n");
    }
    if (code != 0) {
        target.kill();
        return code;
    }
    DWORD exitCode = target.exitCode();
    note(L"program exit code %lu", exitCode);
    return static_cast<int>(exitCode);
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
    g_start = GetTickCount();
    g_out = GetStdHandle(STD_OUTPUT_HANDLE);

    const wchar_t *cwd = nullptr;
    std::vector<Step> steps;
    int i = 1;
    for (; i < argc; i++) {
        std::wstring opt = argv[i];
        if (opt == L"--") {
            i++;
            break;
        }
        bool hasValue = i + 1 < argc;
        if (opt == L"--timeout" && hasValue) g_timeoutMs = wcstoul(argv[++i], nullptr, 10);
        else if (opt == L"--cwd" && hasValue) cwd = argv[++i];
        else if (opt == L"--expect" && hasValue) steps.push_back({Step::Expect, argv[++i]});
        else if (opt == L"--expect-re" && hasValue) steps.push_back({Step::ExpectRe, argv[++i]});
        else if (opt == L"--keys" && hasValue) steps.push_back({Step::Keys, unescape(argv[++i])});
        else if (opt == L"--ctrl-c") steps.push_back({Step::CtrlC, L""});
        else if (opt == L"--ctrl-break") steps.push_back({Step::CtrlBreak, L""});
        else if (opt == L"--running") steps.push_back({Step::Running, L""});
        else if (opt == L"--height" && hasValue) steps.push_back({Step::Height, argv[++i]});
        else return usage();
    }
    if (i >= argc || g_timeoutMs == 0) return usage();
    for (const Step &step : steps) {
        if (step.kind != Step::ExpectRe) continue;
        try {
            std::wregex check(step.text, std::regex::ECMAScript);
        } catch (const std::regex_error &) {
            writeUtf8(L"kx4conprobe: bad regular expression: " + step.text + L"\n");
            return kUsage;
        }
    }

    std::wstring commandLine;
    for (int k = i; k < argc; k++) {
        if (k > i) commandLine += L' ';
        commandLine += quoteArgument(argv[k]);
    }

    Target target;
    Console console;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, cwd, &si, &target.pi)) {
        note(L"cannot start %ls (error %lu)", commandLine.c_str(), GetLastError());
        return kStartFailed;
    }
    note(L"started %ls (pid %lu)", commandLine.c_str(), target.pi.dwProcessId);

    if (!console.attach(target)) {
        if (target.exited()) note(L"program ended with code %lu without a console", target.exitCode());
        else note(L"no console within %lu ms", g_timeoutMs);
        return finish(console, target, kNoConsole);
    }
    COORD dims = console.size();
    note(L"attached to console %dx%d", dims.X, dims.Y);

    for (const Step &step : steps) {
        switch (step.kind) {
        case Step::Expect:
        case Step::ExpectRe:
            if (!waitForScreen(console, target, step)) {
                note(L"%ls not seen: %ls%ls", stepName(step.kind), step.text.c_str(),
                    target.exited() ? L" (program ended)" : L"");
                return finish(console, target, kNotSeen);
            }
            note(L"seen: %ls", step.text.c_str());
            break;
        case Step::Keys: {
            LONG before = g_ownControlEvents;
            if (!console.type(step.text)) {
                note(L"cannot write console input (error %lu)", GetLastError());
                return finish(console, target, kInputFailed);
            }
            // A typed Ctrl+C becomes a control event for every process on
            // the console: wait until it has reached the probe.
            LONG ctrlC = static_cast<LONG>(std::count(step.text.begin(), step.text.end(), wchar_t(3)));
            if (ctrlC && !awaitOwnControlEvents(before + ctrlC)) {
                note(L"typed Ctrl+C never became a control event");
                return finish(console, target, kInputFailed);
            }
            note(L"typed %u keys", static_cast<unsigned>(step.text.size()));
            break;
        }
        case Step::CtrlC:
        case Step::CtrlBreak: {
            DWORD event = step.kind == Step::CtrlC ? CTRL_C_EVENT : CTRL_BREAK_EVENT;
            LONG before = g_ownControlEvents;
            if (!GenerateConsoleCtrlEvent(event, 0)) {
                note(L"%ls failed (error %lu)", stepName(step.kind), GetLastError());
                return finish(console, target, kInputFailed);
            }
            if (!awaitOwnControlEvents(before + 1)) {
                note(L"%ls sent but never delivered", stepName(step.kind));
                return finish(console, target, kInputFailed);
            }
            note(L"sent %ls", stepName(step.kind));
            break;
        }
        case Step::Running:
            if (target.exited()) {
                note(L"program has already ended (code %lu)", target.exitCode());
                return finish(console, target, kEndedEarly);
            }
            note(L"program still running");
            break;
        case Step::Height: {
            SHORT rows = console.size().Y;
            if (std::to_wstring(rows) != step.text) {
                note(L"screen buffer has %d lines, not %ls", rows, step.text.c_str());
                return finish(console, target, kNotSeen);
            }
            note(L"screen buffer has %d lines", rows);
            break;
        }
        }
    }

    if (!target.exited(remainingMs())) {
        note(L"program still running after %lu ms: killed", g_timeoutMs);
        return finish(console, target, kExitTimeout);
    }
    return finish(console, target, 0);
}
