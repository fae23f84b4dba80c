// File-name patterns matched against the file system, as the shell expects of glob(3) with
// GLOB_QUOTE | GLOB_NOMAGIC, GLOB_NOCHECK on request and GLOB_APPEND, and a reliable
// GLOB_MAGCHAR. glibc's glob differs: a pattern holding a backslash but no wildcard is not
// passed through by GLOB_NOMAGIC, GLOB_NOCHECK hands back the pattern with its backslashes,
// GLOB_MAGCHAR is set for any backslash and left clear when nothing matched, a lone [ counts
// as a wildcard and a trailing backslash makes the pattern match nothing.
#pragma once

#include <string>
#include <vector>

/// What one call of glob_quoted found out about its pattern.
struct GlobReport {
    bool magic = false;    ///< GLOB_MAGCHAR: an unquoted *, ?, or [ with a closing ] after it
    bool matched = false;  ///< a magic pattern named at least one existing path
};

/// Results of glob_quoted.
enum GlobStatus : int {
    GLOB_STATUS_OK = 0,
    GLOB_STATUS_NOSPACE = -1,  ///< out of memory
    GLOB_STATUS_ABORTED = -2,  ///< a directory could not be read where that is fatal
};

/// True when a pattern (a backslash quoting the next byte) holds a wildcard: an unquoted * or
/// ?, or an unquoted [ followed, after at least one more character, by an unquoted ].
bool glob_pattern_is_magic(const char* pattern);

/// Appends to paths what the pattern names; a backslash quotes the next byte (a trailing one
/// stands for itself). A magic pattern gives its matches, sorted by strcoll; one without
/// wildcards, and with nocheck a magic one that matches nothing, is appended as itself with
/// its backslashes removed. Returns a GlobStatus.
int glob_quoted(const char* pattern, bool nocheck, std::vector<std::string>& paths,
                GlobReport& report);
