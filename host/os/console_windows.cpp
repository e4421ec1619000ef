// The console under the menu and the dialog on Windows: keys through _getch,
// drawing through console calls.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <conio.h>
#include <io.h>

#include "host/os/os.h"
#include "platform/platform.h"

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

// The console's code pages are the system's; nothing to take.
void AdoptUserLocale() { }

std::string TextInLocale(const std::string& text)
{
    return text;  // the console's own code page already
}

bool StdoutIsTerminal()
{
    return _isatty(1) != 0;
}

bool StderrIsTerminal()
{
    return _isatty(2) != 0;
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

size_t TerminalCharacter(const std::string&, size_t, int& columns)
{
    columns = 1;  // one byte a character in the console's code page
    return 1;
}
