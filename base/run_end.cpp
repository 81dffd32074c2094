#include "base/run_end.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <clocale>
#include <csignal>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace sorvik {

namespace {

std::atomic<const char *> runEndPrefix{"cannot go on"};
std::atomic<bool> consoleMidLine{false};
std::atomic<int> runEndStream{STDOUT_FILENO}, runEndStatus{1};

struct HeldAction {
    std::atomic<RunEndAction> action{nullptr};
    std::atomic<void *> argument{nullptr};
};
HeldAction heldActions[4];

std::atomic<bool> runEndHeld{false};
std::atomic<int> pendingSignal{0};

// A signal that ends the run: the actions first, then the signal as it would have
// ended the run; while the end is held, only noted.
void endOnSignal(int signal)
{
    if (runEndHeld) {
        pendingSignal = signal;
        return;
    }
    runEndActions();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// The address space the process holds, in bytes (its first figure in /proc), read
// without allocating.
double addressSpace()
{
    char text[64] = {};
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    return got > 0 ? std::strtod(text, nullptr) * double(::sysconf(_SC_PAGESIZE)) : 0;
}

} // namespace

void holdClosedStandardStreams()
{
    // The lowest free number is taken: a closed 0, 1 or 2 is filled in turn.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF && ::open("/dev/null", O_RDONLY) < 0)
            return;
}

void keepLibraryLinesOffStandardError()
{
    // The stream is a variable of the C library's that may be set; std::cerr was
    // bound to the stream it held at the start. What is written to the new one is
    // dropped without a descriptor, of which a run may have few.
    cookie_io_functions_t dropped{};
    dropped.write = [](void *, const char *, std::size_t size) { return ssize_t(size); };
    if (FILE *null = ::fopencookie(nullptr, "w", dropped))
        stderr = null;
}

void useCNumbers()
{
    std::setlocale(LC_NUMERIC, "C");
}

void setRunEndPrefix(const char *prefix)
{
    runEndPrefix = prefix;
    std::signal(SIGPIPE, SIG_IGN);  // a console that goes away stops the output, not the run
}

void setRunEndOnError(int status)
{
    runEndStream = STDERR_FILENO;
    runEndStatus = status;
}

void setConsoleMidLine(bool midLine)
{
    consoleMidLine = midLine;
}

void endOutOfDescriptors(const char *path)
{
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    char reason[448];
    std::snprintf(reason, sizeof reason, "too many open files: %.300s cannot be opened while this process may have only %llu files open at once (ulimit -n)",
                  path, static_cast<unsigned long long>(limit.rlim_cur));
    endRun(reason);
}

void addRunEndAction(RunEndAction action, void *argument)
{
    static std::atomic_flag handled = ATOMIC_FLAG_INIT;
    if (!handled.test_and_set())
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction ending = {};
            ending.sa_handler = endOnSignal;
            sigemptyset(&ending.sa_mask);
            ::sigaction(signal, &ending, nullptr);
        }
    for (HeldAction &held : heldActions)
        if (!held.action.load()) {
            held.argument = argument;
            held.action = action;
            return;
        }
}

void removeRunEndAction(RunEndAction action, void *argument)
{
    for (HeldAction &held : heldActions)
        if (held.action.load() == action && held.argument.load() == argument)
            held.action = nullptr;
}

void holdRunEnd()
{
    runEndHeld = true;
}

bool runEndPending()
{
    return pendingSignal != 0;
}

void releaseRunEnd()
{
    runEndHeld = false;
    if (const int signal = pendingSignal.exchange(0))
        endOnSignal(signal);
}

void runEndActions()
{
    for (HeldAction &held : heldActions)
        if (const RunEndAction action = held.action.exchange(nullptr))
            action(held.argument.load());
}

void endRun(const char *reason)
{
    // The first thread to end the run says why; any other waits for the end.
    static std::atomic_flag ending = ATOMIC_FLAG_INIT;
    if (ending.test_and_set())
        for (;;)
            ::pause();
    char line[512];
    int length = std::snprintf(line, sizeof line, "%s%s: %s\n", consoleMidLine ? "\n" : "", runEndPrefix.load(), reason);
    length = std::min(length, int(sizeof line) - 1);
    runEndActions();
    std::fflush(stdout);
    for (const char *p = line; length > 0;) {
        const ssize_t written = ::write(runEndStream, p, std::size_t(length));
        if (written <= 0 && errno != EINTR)
            break;
        if (written > 0)
            p += written, length -= int(written);
    }
    std::_Exit(runEndStatus);
}

void endOutOfMemory(std::size_t asked)
{
    // Formatted without allocating: there is nothing left to allocate.
    char reason[256];
    int length = std::snprintf(reason, sizeof reason, "this machine ran out of memory: the run held %.1f MB and needed ", addressSpace() / 1e6);
    const std::size_t room = sizeof reason - std::size_t(length);
    length += asked >= 100000 ? std::snprintf(reason + length, room, "%.1f MB more", double(asked) / 1e6)
              : asked >= 1000 ? std::snprintf(reason + length, room, "%.1f kB more", double(asked) / 1e3)
              : asked > 0     ? std::snprintf(reason + length, room, "%zu bytes more", asked)
                              : std::snprintf(reason + length, room, "more");
    rlimit limit;
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        std::snprintf(reason + length, sizeof reason - std::size_t(length), " (its limit is %.1f MB)", double(limit.rlim_cur) / 1e6);
    endRun(reason);
}

} // namespace sorvik
