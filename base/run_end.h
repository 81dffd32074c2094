#pragma once

#include <cstddef>

namespace sorvik {

// How a run ends for a want of the machine's rather than a fault of the data: at
// once, with one line on standard output, "<prefix>: <reason>", and status 1.
// Nothing else is judged meanwhile: no image is skipped and no rate printed for it.
// A reader of standard output that goes away ends no run (a broken pipe is no
// signal): what is printed after it is lost, and the run still writes its files.
// A standard stream that the caller closed is held open on /dev/null for reading
// from the start of the run, so that no file the run opens can take its number and
// receive what is printed, and printing fails as it would have. Called first.
void holdClosedStandardStreams();
// The image libraries under Qt print their complaints through the C library's
// stderr ("libpng error: Read Error"), naming no file, beside the line the program
// gives that file: for a program that speaks on standard error, what goes through
// that stream is dropped. Its own lines (std::cerr, the run-end line) and whatever
// is written to /dev/stderr still reach standard error, which stays where it was.
void keepLibraryLinesOffStandardError();
// Numbers printed through the C library take a point whatever the user's locale:
// Qt's application object hands the environment's locale to the C library, and
// printf would then write "76,63". Called once the application object is made.
void useCNumbers();
void setRunEndPrefix(const char *prefix);  // "cannot train"; a string that lives on
// For a program whose standard output is its data (the labels): the line goes to
// standard error instead, and the run ends with `status`.
void setRunEndOnError(int status);
void setConsoleMidLine(bool midLine);           // the line then goes on a line of its own
[[noreturn]] void endRun(const char *reason);

// Memory that ran out: "this machine ran out of memory: the run held 160.2 MB and
// needed 1.1 MB more (its limit is 167.8 MB)". Formatted without allocating, for
// there is nothing left to allocate.
[[noreturn]] void endOutOfMemory(std::size_t asked);

// Descriptors that ran out while `path` (printable) was to be opened: "too many
// open files: train cannot be opened while this process may have only 4 files
// open at once (ulimit -n)".
[[noreturn]] void endOutOfDescriptors(const char *path);

// What a run must undo however it ends: a folder of its own that nobody else may
// see half written. An action runs once, on endRun, on SIGINT, SIGTERM or SIGHUP
// (after which the signal ends the run as it would have), or when the program
// calls runEndActions itself; it may only make system calls that are safe in a
// signal handler. At most four are held at once.
using RunEndAction = void (*)(void *argument);
// Between holdRunEnd and releaseRunEnd such a signal waits, so that a step of
// several renames is done whole; runEndPending says whether one came meanwhile.
void holdRunEnd();
bool runEndPending();
void releaseRunEnd();
void addRunEndAction(RunEndAction action, void *argument);
void removeRunEndAction(RunEndAction action, void *argument);
void runEndActions();

} // namespace sorvik
