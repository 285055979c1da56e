#include "admission/OpenFileLimit.h"

#include <sys/resource.h>

#include <algorithm>
#include <fstream>

namespace tallyport::server {
namespace {

// The largest limit the kernel lets a process set (fs.nr_open).
uint64_t KernelMaximum() {
    uint64_t value = 0;
    std::ifstream("/proc/sys/fs/nr_open") >> value;
    return value > 0 ? value : 1'048'576;
}

} // namespace

uint64_t CurrentOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return KernelMaximum();
    return limit.rlim_cur;
}

OpenFileLimit RaiseOpenFileLimit() {
    OpenFileLimit result;
    result.before = result.now = CurrentOpenFileLimit();
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return result;
    const rlim_t target =
        limit.rlim_max == RLIM_INFINITY ? rlim_t(KernelMaximum()) : limit.rlim_max;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < target) {
        limit.rlim_cur = target;
        if (::setrlimit(RLIMIT_NOFILE, &limit) == 0)
            result.now = CurrentOpenFileLimit();
    }
    return result;
}

std::size_t ConnectionBudget(uint64_t openFiles, int threads) {
    const uint64_t reserve = 32 + 8 * uint64_t(std::max(1, threads));
    if (openFiles <= 2 * reserve)
        return std::size_t(std::max<uint64_t>(openFiles / 2, 1));
    return std::size_t(openFiles - reserve);
}

} // namespace tallyport::server
