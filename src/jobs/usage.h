// Resource usage: the point the time builtin measures from, the sums and differences of usage
// records, and the one-line usage report with its % escapes.
#pragma once

#include <sys/resource.h>
#include <sys/time.h>

#include "core/chars.h"
#include "parse/syntax_tree.h"

/// Where the measurement of this process starts.
struct StartUsage {
    struct timeval start_clock {};  ///< wall-clock time at start-up, or at the fork of a child
    struct rusage usage {};         ///< own usage plus that of waited-for children, then
};
extern StartUsage start_usage;

/// The report format used when the variable time has no second word.
inline constexpr const char* DEFAULT_TIME_FORMAT = "%Uu %Ss %E %P %X+%Dk %I+%Oio %Fpf+%Ww";

/// The usage of this process plus that of the children already waited for.
struct rusage usage_now();
/// Records the wall clock and the usage (own plus waited-for children's) now.
void record_start_usage();
/// Adds s into d: times with carry, the larger maximum resident size, the counters summed.
void add_usage(struct rusage& d, const struct rusage& s);
/// later - earlier, borrowing a second when the microseconds go negative.
struct timeval time_difference(struct timeval later, struct timeval earlier);
/// Writes one report line of usage - origin over the time from begin to end on the output
/// stream, in the format of the variable time's second word or the default.
void print_usage(const struct rusage& origin, const struct rusage& usage, struct timeval end,
                 struct timeval begin);
/// Writes centiseconds as [h:mm]m:ss.cc on the output stream (0:05.00, 1:02:03.45).
void print_centiseconds(long centiseconds);
/// Writes seconds as [h:mm]m:ss on the output stream (1:30, 1:01:40).
void print_seconds(long seconds);
