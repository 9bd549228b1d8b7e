// The terminal front end's input: the terminal in raw mode (given back on
// exit and on fatal signals), keys decoded from bytes and escape sequences,
// and the echo of lines read in lines mode.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <istream>
#include <ostream>

#include "platform/terminal/TerminalFrontEndImpl.h"

namespace {

// --- the terminal's own state, kept where a signal handler can reach it ---
struct termios savedTermios;
volatile sig_atomic_t rawActive = 0;
constexpr char kLeaveScreen[] = "\x1b[0m\x1b[?25h\x1b[?1049l";

} // namespace

namespace terminalfrontend {

void restoreTerminalNow()
{
    if (!rawActive) return;
    rawActive = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTermios);
    const ssize_t ignored = write(STDOUT_FILENO, kLeaveScreen, sizeof kLeaveScreen - 1);
    (void)ignored;
}

} // namespace terminalfrontend

using namespace terminalfrontend;

namespace {

extern "C" void restoreOnSignal(int signal)
{
    restoreTerminalNow();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

void TerminalFrontEnd::Impl::enterRaw()
{
    if (inputFd < 0 || rawActive) return;
    if (tcgetattr(inputFd, &savedTermios) != 0) {
        inputFd = -1;
        return;
    }
    struct termios raw = savedTermios;
    // Keys arrive one by one, unechoed; Ctrl-C is a key, not a signal, so
    // an update in progress cannot be cut off from the keyboard.
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(inputFd, TCSANOW, &raw);
    rawActive = 1;
    std::signal(SIGTERM, restoreOnSignal);
    std::signal(SIGHUP, restoreOnSignal);
    out << "\x1b[?1049h\x1b[?25l" << std::flush;
}

// Keys typed while the program was busy are not meant for what comes next.
void TerminalFrontEnd::Impl::dropTypeAhead()
{
    if (inputFd >= 0) tcflush(inputFd, TCIFLUSH);
}

int TerminalFrontEnd::Impl::readByte(bool waitShortly)
{
    if (inputFd >= 0) {
        if (waitShortly) {
            struct pollfd p {
                inputFd, POLLIN, 0
            };
            if (poll(&p, 1, 50) <= 0) return -2;
        }
        unsigned char c = 0;
        for (;;) {
            const ssize_t n = read(inputFd, &c, 1);
            if (n == 1) return c;
            if (n < 0 && errno == EINTR) continue;
            return -1;
        }
    }
    if (waitShortly) {
        const int next = in.peek();
        if (next != '[' && next != 'O') return -2;
    }
    const int c = in.get();
    return c == std::char_traits<char>::eof() ? -1 : c;
}

int TerminalFrontEnd::Impl::readKey()
{
    const int c = readByte(false);
    if (c < 0) return KeyEnd;
    switch (c) {
    case '\r':
    case '\n':
        return KeyEnter;
    case '\t':
        return KeyTab;
    case 3: // Ctrl-C
        return KeyEscape;
    case 4: // Ctrl-D
        return KeyEnd;
    case 0x1b:
        break;
    default:
        return std::tolower(c);
    }
    const int second = readByte(true);
    if (second == -2) return KeyEscape;
    if (second < 0) return KeyEnd;
    if (second != '[' && second != 'O') return KeyIgnored;
    for (;;) {
        const int final = readByte(false);
        if (final < 0) return KeyEnd;
        if ((final >= '0' && final <= '9') || final == ';') continue;
        switch (final) {
        case 'A':
            return KeyUp;
        case 'B':
            return KeyDown;
        case 'C':
            return KeyRight;
        case 'D':
            return KeyLeft;
        case 'Z':
            return KeyBackTab;
        default:
            return KeyIgnored;
        }
    }
}

// Lines mode reads without a terminal's echo: show what was read, so that
// the transcript reads like a session and output starts on a new line.
void TerminalFrontEnd::Impl::echoLine(const std::string& line)
{
    const bool echoed = settings.input == nullptr && isatty(STDIN_FILENO) == 1;
    if (!echoed) out << trim(line) << '\n';
}
