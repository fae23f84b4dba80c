#include "platform/system_glob.h"

#include <glob.h>

#include <algorithm>
#include <clocale>
#include <cstring>

namespace {

// The pattern with each quoting backslash removed; a trailing one is kept.
std::string unescape(const char* pattern, std::size_t len) {
    std::string out;
    out.reserve(len);
    for (std::size_t i = 0; i < len; ++i) {
        if (pattern[i] == '\\' && i + 1 < len) ++i;
        out += pattern[i];
    }
    return out;
}

// True when the pattern ends in a backslash that quotes nothing.
bool ends_in_lone_backslash(const char* pattern, std::size_t len) {
    std::size_t i = 0;
    while (i < len) {
        if (pattern[i] == '\\') {
            if (i + 1 == len) return true;
            i += 2;
        } else {
            ++i;
        }
    }
    return false;
}

// Owns what glob(3) allocated.
struct GlobBuffer {
    glob_t g{};
    GlobBuffer() = default;
    GlobBuffer(const GlobBuffer&) = delete;
    GlobBuffer& operator=(const GlobBuffer&) = delete;
    ~GlobBuffer() { globfree(&g); }
};

}  // namespace

bool glob_pattern_is_magic(const char* pattern) {
    const std::size_t len = std::strlen(pattern);
    for (std::size_t i = 0; i < len; ++i) {
        const char c = pattern[i];
        if (c == '\\') {
            if (i + 1 < len) ++i;
            continue;
        }
        if (c == '*' || c == '?') return true;
        if (c != '[') continue;
        // A list needs one member and then a closing ]; otherwise [ is an ordinary character.
        std::size_t j = i + 1;
        if (j < len && pattern[j] == '!') ++j;
        if (j >= len) continue;
        j += (pattern[j] == '\\' && j + 1 < len) ? 2 : 1;
        for (; j < len; ++j) {
            if (pattern[j] == '\\') {
                ++j;
            } else if (pattern[j] == ']') {
                return true;
            }
        }
    }
    return false;
}

int glob_quoted(const char* pattern, bool nocheck, std::vector<std::string>& paths,
                GlobReport& report) {
    report = GlobReport{};
    const std::size_t len = std::strlen(pattern);
    report.magic = glob_pattern_is_magic(pattern);
    if (!report.magic) {
        paths.push_back(unescape(pattern, len));
        return GLOB_STATUS_OK;
    }

    // glibc takes a trailing lone backslash as a malformed pattern; doubled it stands for
    // itself, as it does here.
    std::string doubled;
    const char* given = pattern;
    if (ends_in_lone_backslash(pattern, len)) {
        doubled.assign(pattern, len);
        doubled += '\\';
        given = doubled.c_str();
    }

    // No GLOB_NOCHECK or GLOB_NOMAGIC for glibc: both are decided above and below, where the
    // pattern comes back without its backslashes. The matches are sorted here by strcoll, as
    // glob would sort them: its own sort calls through two layers for every comparison, which
    // costs more than the rest of the expansion of a large directory.
    GlobBuffer buf;
    switch (glob(given, GLOB_NOSORT, nullptr, &buf.g)) {
        case 0: {
            report.matched = buf.g.gl_pathc > 0;
            char** first = buf.g.gl_pathv;
            char** last = first + buf.g.gl_pathc;
            const char* collate = setlocale(LC_COLLATE, nullptr);
            if (collate && (std::strcmp(collate, "C") == 0 || std::strcmp(collate, "POSIX") == 0)) {
                std::sort(first, last,
                          [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
            } else {
                std::sort(first, last,
                          [](const char* a, const char* b) { return std::strcoll(a, b) < 0; });
            }
            // No reserve of the exact size: called once per word, it would copy every earlier
            // path each time. Left to grow geometrically, the append stays linear.
            for (std::size_t i = 0; i < buf.g.gl_pathc; ++i) paths.emplace_back(buf.g.gl_pathv[i]);
            return GLOB_STATUS_OK;
        }
        case GLOB_NOMATCH:
            if (nocheck) paths.push_back(unescape(pattern, len));
            return GLOB_STATUS_OK;
        case GLOB_NOSPACE:
            return GLOB_STATUS_NOSPACE;
        default:
            return GLOB_STATUS_ABORTED;
    }
}
