// The terminal under the menu and the dialog: raw key input, the screen size
// and drawing with VT escape sequences.
//
// On POSIX systems the terminal goes into raw mode through termios and onto
// the alternate screen; every way out (a normal return, an interrupt, a
// termination or hang-up signal, a suspension) gives the user the terminal
// back as it was. On Windows the console reads keys through _getch and draws
// with the console's own VT processing.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <conio.h>
#include <io.h>
#else
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

#include "host/host.h"
#include "platform/platform.h"

namespace {

const char EnterScreen[] = "\x1b[?1049h\x1b[?25l";
const char LeaveScreen[] = "\x1b[0m\x1b[?25h\x1b[?1049l";

}  // namespace

#if defined(_WIN32)

// The drawing code speaks a handful of VT sequences (cursor position, clear
// screen, bold, reverse, plain); here they become console calls, so that
// every console draws them, with or without VT processing of its own. The
// alternate screen is a console screen buffer of its own.
namespace {

bool active = false;
HANDLE original = INVALID_HANDLE_VALUE;  // the screen buffer the user had
HANDLE screen = INVALID_HANDLE_VALUE;    // the one the menu or dialog draws on
WORD plainAttributes = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;
WORD attributes = plainAttributes;

BOOL WINAPI ConsoleInterrupt(DWORD)
{
    ConsoleEnd();
    return FALSE;  // the default handler ends the process
}

HANDLE DrawingHandle()
{
    if (screen != INVALID_HANDLE_VALUE)
        return screen;
    return GetStdHandle(_isatty(2) ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
}

void ClearScreen(HANDLE handle)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(handle, &info))
        return;
    DWORD cells = (DWORD)info.dwSize.X * (DWORD)info.dwSize.Y, written = 0;
    COORD origin = {0, 0};
    FillConsoleOutputCharacterA(handle, ' ', cells, origin, &written);
    FillConsoleOutputAttribute(handle, plainAttributes, cells, origin, &written);
    SetConsoleCursorPosition(handle, origin);
}

void ApplySequence(HANDLE handle, const std::string& parameters, char final)
{
    switch (final) {
    case 'H': {
        int row = 1, column = 1;
        sscanf(parameters.c_str(), "%d;%d", &row, &column);
        CONSOLE_SCREEN_BUFFER_INFO info;
        SHORT top = 0, left = 0;
        if (GetConsoleScreenBufferInfo(handle, &info)) {
            top = info.srWindow.Top;
            left = info.srWindow.Left;
        }
        COORD at = {(SHORT)(left + column - 1), (SHORT)(top + row - 1)};
        SetConsoleCursorPosition(handle, at);
        break;
    }
    case 'J':
        if (parameters == "2")
            ClearScreen(handle);
        break;
    case 'm': {
        size_t start = 0;
        while (start <= parameters.size()) {
            size_t end = parameters.find(';', start);
            if (end == std::string::npos)
                end = parameters.size();
            int code = atoi(parameters.substr(start, end - start).c_str());
            if (code == 0)
                attributes = plainAttributes;
            else if (code == 1)
                attributes |= FOREGROUND_INTENSITY;
            else if (code == 7)
                attributes = (WORD)(((attributes & 0x0F) << 4) | ((attributes & 0xF0) >> 4));
            start = end + 1;
        }
        SetConsoleTextAttribute(handle, attributes);
        break;
    }
    case 'h':
    case 'l':
        if (parameters == "?25") {
            CONSOLE_CURSOR_INFO cursor;
            if (GetConsoleCursorInfo(handle, &cursor)) {
                cursor.bVisible = final == 'h';
                SetConsoleCursorInfo(handle, &cursor);
            }
        }
        break;
    default:
        break;
    }
}

}  // namespace

bool StdinIsTerminal()
{
    return _isatty(0) != 0;
}

bool StdoutIsTerminal()
{
    return _isatty(1) != 0;
}

bool IsInteractive()
{
    return _isatty(0) && (_isatty(1) || _isatty(2));
}

bool ConsoleBegin()
{
    if (active)
        return true;
    fflush(stdout);
    fflush(stderr);
    original = GetStdHandle(_isatty(2) ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(original, &info))
        plainAttributes = info.wAttributes;
    attributes = plainAttributes;
    screen =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (screen != INVALID_HANDLE_VALUE && !SetConsoleActiveScreenBuffer(screen)) {
        CloseHandle(screen);
        screen = INVALID_HANDLE_VALUE;
    }
    SetConsoleCtrlHandler(ConsoleInterrupt, TRUE);
    active = true;
    ConsoleWrite("\x1b[?25l");
    return true;
}

void ConsoleEnd()
{
    if (!active)
        return;
    active = false;
    ConsoleWrite("\x1b[0m\x1b[?25h");
    if (screen != INVALID_HANDLE_VALUE) {
        SetConsoleActiveScreenBuffer(original);
        CloseHandle(screen);
        screen = INVALID_HANDLE_VALUE;
    } else {
        ClearScreen(original);
    }
    SetConsoleCtrlHandler(ConsoleInterrupt, FALSE);
}

int ConsoleReadKey()
{
    int c = _getch();
    if (c == 0 || c == 0xE0) {
        switch (_getch()) {
        case 72:
            return KeyUp;
        case 80:
            return KeyDown;
        case 75:
            return KeyLeft;
        case 77:
            return KeyRight;
        case 71:
            return KeyHome;
        case 79:
            return KeyEnd;
        case 73:
            return KeyPageUp;
        case 81:
            return KeyPageDown;
        case 15:
            return KeyBackTab;
        default:
            return KeyNone;
        }
    }
    switch (c) {
    case 13:
    case 10:
        return KeyEnter;
    case 27:
        return KeyEscape;
    case 9:
        return KeyTab;
    case 8:
        return KeyBackspace;
    case 3:
        return KeyInterrupt;
    default:
        return c & 0xFF;
    }
}

void ConsoleSize(int& columns, int& rows)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(DrawingHandle(), &info)) {
        columns = info.srWindow.Right - info.srWindow.Left + 1;
        rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    } else {
        columns = 80;
        rows = 25;
    }
}

void ConsoleWrite(const std::string& text)
{
    HANDLE handle = DrawingHandle();
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
            size_t j = i + 2;
            while (j < text.size() && !(text[j] >= 0x40 && text[j] <= 0x7e))
                ++j;
            if (j >= text.size())
                break;
            ApplySequence(handle, text.substr(i + 2, j - i - 2), text[j]);
            i = j + 1;
            continue;
        }
        size_t end = text.find('\x1b', i);
        if (end == std::string::npos)
            end = text.size();
        DWORD written = 0;
        if (!WriteConsoleA(handle, text.data() + i, (DWORD)(end - i), &written, nullptr))
            fwrite(text.data() + i, 1, end - i, _isatty(2) ? stderr : stdout);
        i = end;
    }
}

#else

namespace {

volatile sig_atomic_t active = 0;
volatile sig_atomic_t resized = 0;
int outputFd = 2;
struct termios savedMode;
struct sigaction savedActions[NSIG];
const int HandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT, SIGWINCH};

void WriteAll(int fd, const char* text, size_t length)
{
    while (length > 0) {
        ssize_t wrote = write(fd, text, length);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return;
        text += wrote;
        length -= (size_t)wrote;
    }
}

void EnterRawMode()
{
    struct termios raw = savedMode;
    raw.c_iflag &= ~(tcflag_t)(IXON | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT);
    raw.c_lflag &= ~(tcflag_t)(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(0, TCSAFLUSH, &raw);
    WriteAll(outputFd, EnterScreen, sizeof EnterScreen - 1);
}

void LeaveRawMode()
{
    WriteAll(outputFd, LeaveScreen, sizeof LeaveScreen - 1);
    tcsetattr(0, TCSAFLUSH, &savedMode);
}

// Only async-signal-safe calls: write, tcsetattr, sigaction, raise.
void OnSignal(int sig)
{
    int saved = errno;
    if (sig == SIGWINCH) {
        resized = 1;
    } else if (sig == SIGCONT) {
        if (active) {
            EnterRawMode();
            resized = 1;  // redraw
        }
    } else if (sig == SIGTSTP) {
        if (active)
            LeaveRawMode();
        signal(SIGTSTP, SIG_DFL);
        raise(SIGTSTP);
        // Continued: the handler comes back for the next suspension.
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGTSTP, &action, nullptr);
    } else {
        if (active)
            LeaveRawMode();
        active = 0;
        sigaction(sig, &savedActions[sig], nullptr);
        raise(sig);
    }
    errno = saved;
}

}  // namespace

bool StdinIsTerminal()
{
    return isatty(0) != 0;
}

bool StdoutIsTerminal()
{
    return isatty(1) != 0;
}

bool IsInteractive()
{
    return isatty(0) && (isatty(1) || isatty(2));
}

bool ConsoleBegin()
{
    if (active)
        return true;
    outputFd = isatty(2) ? 2 : 1;
    if (tcgetattr(0, &savedMode) != 0)
        return false;
    fflush(stdout);
    fflush(stderr);
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : HandledSignals)
        sigaction(sig, &action, &savedActions[sig]);
    active = 1;
    EnterRawMode();
    return true;
}

void ConsoleEnd()
{
    if (!active)
        return;
    active = 0;
    LeaveRawMode();
    for (int sig : HandledSignals)
        sigaction(sig, &savedActions[sig], nullptr);
}

namespace {

// The next byte, waiting at most timeoutMs (-1: for ever); -1 for none, -2
// when the window changed size meanwhile.
int ReadByte(int timeoutMs)
{
    while (true) {
        if (resized) {
            resized = 0;
            return -2;
        }
        struct pollfd fd = {0, POLLIN, 0};
        int ready = poll(&fd, 1, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (ready == 0)
            return -1;
        unsigned char byte;
        ssize_t got = read(0, &byte, 1);
        if (got == 1)
            return byte;
        if (got < 0 && errno == EINTR)
            continue;
        return -3;  // end of input
    }
}

}  // namespace

int ConsoleReadKey()
{
    int c = ReadByte(-1);
    if (c == -2)
        return KeyResize;
    if (c == -3)
        return KeyEscape;  // the terminal went away: leave
    if (c < 0)
        return KeyNone;
    switch (c) {
    case '\r':
    case '\n':
        return KeyEnter;
    case '\t':
        return KeyTab;
    case 0x7f:
    case 0x08:
        return KeyBackspace;
    case 0x03:
        return KeyInterrupt;
    case 0x1b:
        break;
    default:
        return c;
    }
    // An escape sequence, or the Escape key alone.
    int next = ReadByte(50);
    if (next == -2)
        return KeyResize;
    if (next != '[' && next != 'O')
        return KeyEscape;
    std::string sequence;
    int final = 0;
    while (sequence.size() < 16) {
        int b = ReadByte(50);
        if (b < 0)
            return KeyNone;
        if (b >= 0x40 && b <= 0x7e) {
            final = b;
            break;
        }
        sequence += (char)b;
    }
    switch (final) {
    case 'A':
        return KeyUp;
    case 'B':
        return KeyDown;
    case 'C':
        return KeyRight;
    case 'D':
        return KeyLeft;
    case 'H':
        return KeyHome;
    case 'F':
        return KeyEnd;
    case 'Z':
        return KeyBackTab;
    case '~': {
        int number = atoi(sequence.c_str());
        switch (number) {
        case 1:
        case 7:
            return KeyHome;
        case 4:
        case 8:
            return KeyEnd;
        case 5:
            return KeyPageUp;
        case 6:
            return KeyPageDown;
        default:
            return KeyNone;
        }
    }
    default:
        return KeyNone;
    }
}

void ConsoleSize(int& columns, int& rows)
{
    struct winsize size;
    memset(&size, 0, sizeof size);
    int fd = active ? outputFd : (isatty(1) ? 1 : 2);
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
        columns = size.ws_col;
        rows = size.ws_row;
    } else {
        columns = 80;
        rows = 24;
    }
}

void ConsoleWrite(const std::string& text)
{
    WriteAll(active ? outputFd : 2, text.data(), text.size());
}

#endif
