#include "builtins/limits.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "jobs/usage.h"

namespace {

constexpr LimitEntry limit_table[] = {
    {RLIMIT_CPU, "cputime", 1, "seconds"},
    {RLIMIT_FSIZE, "filesize", 1024, "kbytes"},
    {RLIMIT_DATA, "datasize", 1024, "kbytes"},
    {RLIMIT_STACK, "stacksize", 1024, "kbytes"},
    {RLIMIT_CORE, "coredumpsize", 1024, "kbytes"},
    {RLIMIT_RSS, "memoryuse", 1024, "kbytes"},
    {RLIMIT_MEMLOCK, "memorylocked", 1024, "kbytes"},
    {RLIMIT_NPROC, "maxproc", 1, ""},
    {RLIMIT_NOFILE, "openfiles", 1, ""},
    // The trailing blank belongs to the name: the listing shows it and sbsize still matches.
    {RESOURCE_SBSIZE, "sbsize ", 1, "bytes"},
};
static_assert(std::size(limit_table) == 10, "the listing has ten rows");

// The system's type for resource numbers.
using ResourceId = decltype(RLIMIT_CPU);

int read_limits(const LimitEntry& entry, struct rlimit& rl) {
    if (entry.resource == RESOURCE_SBSIZE) {
        rl.rlim_cur = rl.rlim_max = RLIM_INFINITY;
        return 0;
    }
    return getrlimit(static_cast<ResourceId>(entry.resource), &rl);
}

int write_limits(const LimitEntry& entry, const struct rlimit& rl) {
    if (entry.resource == RESOURCE_SBSIZE) {
        errno = EINVAL;
        return -1;
    }
    return setrlimit(static_cast<ResourceId>(entry.resource), &rl);
}

bool is_cputime(const LimitEntry& entry) {
    return entry.resource == RLIMIT_CPU;
}

// True when every Char of the word equals the name's byte at the same place.
bool is_name_prefix(const CharString& word, const char* name) {
    std::size_t n = std::strlen(name);
    if (word.size() > n) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] != static_cast<unsigned char>(name[i])) return false;
    }
    return true;
}

// The unit text must be a prefix of the unit word ("Bad scaling; did you mean ...?").
void require_unit_prefix(const CharString& unit, const char* word) {
    if (!is_name_prefix(unit, word)) error_raise(ERR_BAD_SCALING, word);
}

// A scaled value as a limit, truncated toward zero. Beyond the signed 64-bit range (2^63
// included) it is unlimited; a negative value (only minutes:seconds can give one) is 0.
rlim_t float_to_limit(float x) {
    constexpr float beyond = 9223372036854775808.0f;  // 2^63, exact in single precision
    if (!(x >= 0.0f)) return 0;
    if (x >= beyond) return RLIM_INFINITY;
    return static_cast<rlim_t>(x);
}

bool is_hard_flag(const WordVector& words, std::size_t i) {
    return i < words.size() && words[i] == chars("-h");
}

}  // namespace

const LimitEntry& find_limit(const CharString& word) {
    const LimitEntry* found = nullptr;
    for (const LimitEntry& entry : limit_table) {
        if (!is_name_prefix(word, entry.name)) continue;
        if (found) error_raise(ERR_AMBIGUOUS | ERRF_NAME);
        found = &entry;
    }
    if (!found) error_raise(ERR_NO_SUCH_LIMIT | ERRF_NAME);
    return *found;
}

int set_limit(const LimitEntry& entry, bool hard, rlim_t limit) {
    struct rlimit rl {};
    int r = read_limits(entry, rl);
    if (r == 0) {
        if (hard) {
            rl.rlim_max = limit;
            // Lowering the hard limit below the soft one lowers the soft one with it; this
            // system would refuse the pair instead.
            if (rl.rlim_cur > rl.rlim_max) rl.rlim_cur = rl.rlim_max;
        } else if (limit == RLIM_INFINITY && shell.effective_uid != 0) {
            rl.rlim_cur = rl.rlim_max;
        } else {
            rl.rlim_cur = limit;
        }
        r = write_limits(entry, rl);
    }
    if (r < 0) {
        std::fprintf(diagnostic_stream, "%s: %s: Can't %s%s limit\n", errors.error_name.c_str(),
                     entry.name, limit == RLIM_INFINITY ? "remove" : "set", hard ? " hard" : "");
        return -1;
    }
    return 0;
}

void print_limit(const LimitEntry& entry, bool hard) {
    std::fprintf(output_stream, "%s \t", entry.name);
    struct rlimit rl {};
    read_limits(entry, rl);
    rlim_t value = hard ? rl.rlim_max : rl.rlim_cur;
    if (value == RLIM_INFINITY) {
        std::fputs("unlimited", output_stream);
    } else if (is_cputime(entry)) {
        print_seconds(static_cast<long>(value));
    } else {
        std::fprintf(output_stream, "%llu %s",
                     static_cast<unsigned long long>(value / static_cast<rlim_t>(entry.multiplier)),
                     entry.unit);
    }
    std::fputc('\n', output_stream);
}

rlim_t limit_value(const LimitEntry& entry, const CharString& value, const CharString* unit) {
    // All the arithmetic of the scaled forms is in single precision.
    float f = static_cast<float>(std::atof(to_byte_string(value)));
    std::size_t i = 0;
    while (i < value.size() && ((value[i] >= '0' && value[i] <= '9') || value[i] == '.' ||
                                value[i] == 'e' || value[i] == 'E')) {
        ++i;
    }
    CharString u;
    if (i < value.size()) {
        u = value.substr(i);
    } else if (unit) {
        u = *unit;
    } else {
        return float_to_limit((f + 0.5f) * static_cast<float>(entry.multiplier));
    }
    bool cpu = is_cputime(entry);
    switch (u.empty() ? 0 : u[0]) {
        case ':':
            if (!cpu) break;
            return float_to_limit(f * 60.0f +
                                  static_cast<float>(std::atof(to_byte_string(u.substr(1)))));
        case 'h':
            if (!cpu) break;
            require_unit_prefix(u, "hours");
            f *= 3600.0f;
            return float_to_limit(f + 0.5f);
        case 'm':
            if (cpu) {
                require_unit_prefix(u, "minutes");
                f *= 60.0f;
            } else {
                require_unit_prefix(u, "megabytes");
                f *= 1048576.0f;
            }
            return float_to_limit(f + 0.5f);
        case 'M':
            if (cpu) break;
            u[0] = 'm';
            require_unit_prefix(u, "megabytes");
            f *= 1048576.0f;
            return float_to_limit(f + 0.5f);
        case 's':
            if (!cpu) break;
            require_unit_prefix(u, "seconds");
            return float_to_limit(f + 0.5f);
        case 'k':
            if (cpu) break;
            require_unit_prefix(u, "kbytes");
            f *= 1024.0f;
            return float_to_limit(f + 0.5f);
        case 'u':
            require_unit_prefix(u, "unlimited");
            return RLIM_INFINITY;
        default:
            break;
    }
    error_raise(ERR_BAD_SCALE_FACTOR | ERRF_NAME);
}

void builtin_limit(WordVector& words, CommandNode&) {
    std::size_t i = 1;
    bool hard = is_hard_flag(words, i);
    if (hard) ++i;
    if (i == words.size()) {
        for (const LimitEntry& entry : limit_table) print_limit(entry, hard);
        return;
    }
    const LimitEntry& entry = find_limit(words[i]);
    if (i + 1 == words.size()) {
        print_limit(entry, hard);
        return;
    }
    rlim_t limit = limit_value(entry, words[i + 1], i + 2 < words.size() ? &words[i + 2] : nullptr);
    if (set_limit(entry, hard, limit) < 0) error_raise(ERRF_SILENT);
}

void builtin_unlimit(WordVector& words, CommandNode&) {
    std::size_t i = 1;
    bool hard = is_hard_flag(words, i);
    if (hard) ++i;
    if (i == words.size()) {
        bool failed = false;
        for (const LimitEntry& entry : limit_table) {
            if (set_limit(entry, hard, RLIM_INFINITY) < 0) failed = true;
        }
        if (failed) error_raise(ERRF_SILENT);
        return;
    }
    for (; i < words.size(); ++i) {
        if (set_limit(find_limit(words[i]), hard, RLIM_INFINITY) < 0) error_raise(ERRF_SILENT);
    }
}

void builtin_umask(WordVector& words, CommandNode&) {
    if (words.size() == 1) {
        mode_t mask = umask(0);
        umask(mask);
        std::fprintf(output_stream, "%o\n", static_cast<unsigned>(mask));
        return;
    }
    // Octal digits only, unquoted; accumulation stops as soon as the value is too large.
    unsigned mask = 0;
    for (Char c : words[1]) {
        if (c < '0' || c > '7') error_raise(ERR_IMPROPER_MASK | ERRF_NAME);
        mask = mask * 8 + static_cast<unsigned>(c - '0');
        if (mask > 0777) error_raise(ERR_IMPROPER_MASK | ERRF_NAME);
    }
    umask(static_cast<mode_t>(mask));
}
