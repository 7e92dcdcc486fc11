// CPU time for the benchmarks that compare with an outside tool: our own process, and the children
// it has waited for. CPU rather than wall time, since the machine may be shared.
#pragma once

#include <ctime>
#include <sys/resource.h>

namespace znbench {

inline double OwnCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

inline double ChildrenCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    auto s = [](const timeval &t) {
        return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
    };
    return s(ru.ru_utime) + s(ru.ru_stime);
}

} // namespace znbench
