#include "base/parallel.h"

#include <dirent.h>
#include <sys/resource.h>

namespace sorvik {

int freeDescriptors()
{
    rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > (1u << 30))
        return 1 << 30;
    DIR *open = ::opendir("/proc/self/fd");
    if (!open)
        return 1 << 30;
    int used = -1;  // the listing's own descriptor
    while (const dirent *entry = ::readdir(open))
        used += entry->d_name[0] != '.';
    ::closedir(open);
    return int(limit.rlim_cur) - used;
}

} // namespace sorvik
