#include "jobs/usage.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "core/descriptors.h"
#include "core/errors.h"
#include "vars/variables.h"

StartUsage start_usage;

namespace {

constexpr long MICROS = 1000000;

void add_time(struct timeval& d, const struct timeval& s) {
    d.tv_sec += s.tv_sec;
    d.tv_usec += s.tv_usec;
    if (d.tv_usec >= MICROS) {
        ++d.tv_sec;
        d.tv_usec -= MICROS;
    }
}

// Seconds and tenths, as %U and %S show them.
void print_tenths(const struct timeval& t) {
    std::fprintf(output_stream, "%ld.%01ld", static_cast<long>(t.tv_sec),
                 static_cast<long>(t.tv_usec / 100000));
}

}  // namespace

// Own usage plus that of the children already waited for.
struct rusage usage_now() {
    struct rusage self {};
    struct rusage children {};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    add_usage(self, children);
    return self;
}

void record_start_usage() {
    gettimeofday(&start_usage.start_clock, nullptr);
    start_usage.usage = usage_now();
}

void add_usage(struct rusage& d, const struct rusage& s) {
    add_time(d.ru_utime, s.ru_utime);
    add_time(d.ru_stime, s.ru_stime);
    d.ru_maxrss = std::max(d.ru_maxrss, s.ru_maxrss);
    d.ru_ixrss += s.ru_ixrss;
    d.ru_idrss += s.ru_idrss;
    d.ru_isrss += s.ru_isrss;
    d.ru_minflt += s.ru_minflt;
    d.ru_majflt += s.ru_majflt;
    d.ru_nswap += s.ru_nswap;
    d.ru_inblock += s.ru_inblock;
    d.ru_oublock += s.ru_oublock;
    d.ru_msgsnd += s.ru_msgsnd;
    d.ru_msgrcv += s.ru_msgrcv;
    d.ru_nsignals += s.ru_nsignals;
    d.ru_nvcsw += s.ru_nvcsw;
    d.ru_nivcsw += s.ru_nivcsw;
}

struct timeval time_difference(struct timeval later, struct timeval earlier) {
    struct timeval d {};
    d.tv_sec = later.tv_sec - earlier.tv_sec;
    d.tv_usec = later.tv_usec - earlier.tv_usec;
    if (d.tv_usec < 0) {
        --d.tv_sec;
        d.tv_usec += MICROS;
    }
    return d;
}

void print_centiseconds(long l) {
    long h = l / 360000;
    long s;
    if (h != 0) {
        std::fprintf(output_stream, "%ld:", h);
        s = (l % 360000) / 100;
        std::fprintf(output_stream, "%ld%ld", s / 600, (s / 60) % 10);
    } else {
        s = l / 100;
        std::fprintf(output_stream, "%ld", s / 60);
    }
    std::fprintf(output_stream, ":%ld%ld.%ld%ld", (s % 60) / 10, (s % 60) % 10, (l % 100) / 10,
                 (l % 100) % 10);
}

void print_seconds(long l) {
    long h = l / 3600;
    long s;
    if (h != 0) {
        std::fprintf(output_stream, "%ld:", h);
        s = l % 3600;
        std::fprintf(output_stream, "%ld%ld", s / 600, (s / 60) % 10);
    } else {
        s = l;
        std::fprintf(output_stream, "%ld", s / 60);
    }
    std::fprintf(output_stream, ":%ld%ld", (s % 60) / 10, (s % 60) % 10);
}

void print_usage(const struct rusage& r0, const struct rusage& r1, struct timeval e,
                 struct timeval b) {
    // Both in centiseconds; each microsecond difference is truncated on its own.
    long cpu =
        (r1.ru_utime.tv_sec - r0.ru_utime.tv_sec + r1.ru_stime.tv_sec - r0.ru_stime.tv_sec) * 100 +
        (r1.ru_utime.tv_usec - r0.ru_utime.tv_usec) / 10000 +
        (r1.ru_stime.tv_usec - r0.ru_stime.tv_usec) / 10000;
    long elapsed = (e.tv_sec - b.tv_sec) * 100 + (e.tv_usec - b.tv_usec) / 10000;

    const WordVector* time_var = var_lookup("time");
    std::string format =
        time_var && time_var->size() >= 2 ? to_bytes((*time_var)[1]) : DEFAULT_TIME_FORMAT;

    auto per_cpu = [cpu](long amount) { return cpu == 0 ? 0L : amount / cpu; };
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            std::fputc(format[i], output_stream);
            continue;
        }
        if (++i == format.size()) break;
        long number;
        switch (format[i]) {
            case 'U':
                print_tenths(time_difference(r1.ru_utime, r0.ru_utime));
                continue;
            case 'S':
                print_tenths(time_difference(r1.ru_stime, r0.ru_stime));
                continue;
            case 'E':
                print_centiseconds(elapsed);
                continue;
            case 'P': {
                long permille = elapsed == 0 ? 0 : cpu * 1000 / elapsed;
                std::fprintf(output_stream, "%ld.%01ld%%", permille / 10, permille % 10);
                continue;
            }
            case 'W':
                number = r1.ru_nswap - r0.ru_nswap;
                break;
            case 'X':
                number = per_cpu(r1.ru_ixrss - r0.ru_ixrss);
                break;
            case 'D':
                number = per_cpu(r1.ru_idrss + r1.ru_isrss - (r0.ru_idrss + r0.ru_isrss));
                break;
            case 'K':
                number = per_cpu(r1.ru_ixrss + r1.ru_idrss + r1.ru_isrss -
                                 (r0.ru_ixrss + r0.ru_idrss + r0.ru_isrss));
                break;
            case 'M':
                number = r1.ru_maxrss / 2;
                break;
            case 'F':
                number = r1.ru_majflt - r0.ru_majflt;
                break;
            case 'R':
                number = r1.ru_minflt - r0.ru_minflt;
                break;
            case 'I':
                number = r1.ru_inblock - r0.ru_inblock;
                break;
            case 'O':
                number = r1.ru_oublock - r0.ru_oublock;
                break;
            case 'r':
                number = r1.ru_msgrcv - r0.ru_msgrcv;
                break;
            case 's':
                number = r1.ru_msgsnd - r0.ru_msgsnd;
                break;
            case 'k':
                number = r1.ru_nsignals - r0.ru_nsignals;
                break;
            case 'w':
                number = r1.ru_nvcsw - r0.ru_nvcsw;
                break;
            case 'c':
                number = r1.ru_nivcsw - r0.ru_nivcsw;
                break;
            default:
                // Any other character after % is consumed and shows nothing.
                continue;
        }
        std::fprintf(output_stream, "%ld", number);
    }
    std::fputc('\n', output_stream);
    std::fflush(output_stream);
}
