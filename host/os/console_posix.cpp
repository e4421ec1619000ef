// The terminal under the menu and the dialog on POSIX systems: raw key
// input through termios, the alternate screen, and every way out (a normal
// return, an interrupt, a termination or hang-up signal, a suspension) giving
// the user the terminal back as it was.
#include <cerrno>
#include <climits>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include <langinfo.h>

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "host/os/os.h"
#include "platform/io.h"
#include "platform/text.h"

namespace {

const char EnterScreen[] = "\x1b[?1049h\x1b[?25l";
const char LeaveScreen[] = "\x1b[0m\x1b[?25h\x1b[?1049l";

}  // namespace

namespace {

volatile sig_atomic_t active = 0;
volatile sig_atomic_t resized = 0;
int outputFd = 2;
struct termios savedMode;
struct sigaction savedActions[NSIG];
sigset_t savedMask;  // the signal mask before the console began
const int HandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT, SIGWINCH};

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

void AdoptUserLocale()
{
    setlocale(LC_CTYPE, "");
}

std::string TextInLocale(const std::string& text)
{
    if (MB_CUR_MAX > 1 && strcmp(nl_langinfo(CODESET), "UTF-8") == 0)
        return text;
    std::string out;
    out.reserve(text.size());
    char bytes[MB_LEN_MAX];
    for (size_t i = 0; i < text.size();) {
        size_t length = 0;
        uint32_t cp = DecodeUtf8(text.data() + i, text.size() - i, &length);
        mbstate_t state;
        memset(&state, 0, sizeof state);
        // A byte that is no UTF-8 comes as the replacement, which no
        // character set but UTF-8 holds.
        size_t written = wcrtomb(bytes, (wchar_t)cp, &state);
        if (written == (size_t)-1 || written == 0)
            out += '?';
        else
            out.append(bytes, written);
        i += length ? length : 1;
    }
    return out;
}

bool StdoutIsTerminal()
{
    return isatty(1) != 0;
}

bool StderrIsTerminal()
{
    return isatty(2) != 0;
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
    // A resize is taken only while waiting for a key (ReadByte), so that one
    // arriving just before the wait cannot be missed until the next key.
    sigset_t winch;
    sigemptyset(&winch);
    sigaddset(&winch, SIGWINCH);
    sigprocmask(SIG_BLOCK, &winch, &savedMask);
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
    sigprocmask(SIG_SETMASK, &savedMask, nullptr);
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
        struct timespec timeout = {timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
        sigset_t waiting = savedMask;
        sigdelset(&waiting, SIGWINCH);
        int ready = ppoll(&fd, 1, timeoutMs < 0 ? nullptr : &timeout, &waiting);
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

size_t TerminalCharacter(const std::string& text, size_t i, int& columns)
{
    size_t length = Utf8CharacterLength(text.data(), text.size(), i);
    size_t decoded;
    columns = CharacterWidth(DecodeUtf8(text.data() + i, length, &decoded));
    return length;
}
