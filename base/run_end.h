#pragma once

#include <cstddef>

namespace sorvik {

// How a run ends for a want of the machine's rather than a fault of the data: at
// once, with one line on standard output, "<prefix>: <reason>", and status 1.
// Nothing else is judged meanwhile: no image is skipped and no rate printed for it.
void setRunEndPrefix(const char *prefix);  // "cannot train"; a string that lives on
void setConsoleMidLine(bool midLine);           // the line then goes on a line of its own
[[noreturn]] void endRun(const char *reason);

// Memory that ran out: "this machine ran out of memory: the run held 160.2 MB and
// needed 1.1 MB more (its limit is 167.8 MB)". Formatted without allocating, for
// there is nothing left to allocate.
[[noreturn]] void endOutOfMemory(std::size_t asked);

} // namespace sorvik
