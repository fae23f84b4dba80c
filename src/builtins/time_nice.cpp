#include "builtins/time_nice.h"

#include <sys/resource.h>
#include <sys/time.h>

#include "jobs/usage.h"
#include "vars/variables.h"

void builtin_time(WordVector&, CommandNode&) {
    struct rusage now_usage = usage_now();
    struct timeval now {};
    gettimeofday(&now, nullptr);
    print_usage(start_usage.usage, now_usage, now, start_usage.start_clock);
}

void builtin_nice(WordVector& words, CommandNode&) {
    int priority = 0;
    if (words.size() == 1) {
        priority = 4;
    } else if (words.size() == 2 && !words[1].empty() &&
               (words[1][0] == '+' || words[1][0] == '-')) {
        priority = parse_number(words[1]);
    }
    setpriority(PRIO_PROCESS, 0, priority);  // a refusal is not reported
}
