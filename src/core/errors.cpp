#include "core/errors.h"

#include <cstdarg>
#include <cstdio>

#include "core/descriptors.h"
#include "core/process_exit.h"
#include "core/shell.h"
#include "core/signal_mask.h"

namespace {

constexpr const char* kMessages[] = {
    "Syntax Error",                                        // 0
    "%s is not allowed",                                   // 1
    "Word too long",                                       // 2
    "$< line too long",                                    // 3
    "No file for $0",                                      // 4
    "$? not allowed here",                                 // 5
    "Incomplete [] modifier",                              // 6
    "$ expansion must end before ]",                       // 7
    "Bad : modifier in $ (%c)",                            // 8
    "Subscript error",                                     // 9
    "Badly formed number",                                 // 10
    "No more words",                                       // 11
    "Missing file name",                                   // 12
    "Internal glob error",                                 // 13
    "Command not found",                                   // 14
    "Too few arguments",                                   // 15
    "Too many arguments",                                  // 16
    "Too dangerous to alias that",                         // 17
    "Empty if",                                            // 18
    "Improper then",                                       // 19
    "Words not parenthesized",                             // 20
    "%s not found",                                        // 21
    "Improper mask",                                       // 22
    "No such limit",                                       // 23
    "Argument too large",                                  // 24
    "Improper or unknown scale factor",                    // 25
    "Undefined variable",                                  // 26
    "Directory stack not that deep",                       // 27
    "Bad signal number",                                   // 28
    "Unknown signal; kill -l lists signals",               // 29
    "Variable name must begin with a letter",              // 30
    "Variable name too long",                              // 31
    "Variable name must contain alphanumeric characters",  // 32
    "No job control in this shell",                        // 33
    "Expression Syntax",                                   // 34
    "No home directory",                                   // 35
    "Can't change to home directory",                      // 36
    "Invalid null command",                                // 37
    "Assignment missing expression",                       // 38
    "Unknown operator",                                    // 39
    "Ambiguous",                                           // 40
    "%s: File exists",                                     // 41
    "Interrupted",                                         // 42
    "Subscript out of range",                              // 43
    "Line overflow",                                       // 44
    "Unknown variable modifier",                           // 45
    "No such job",                                         // 46
    "Can't from terminal",                                 // 47
    "Not in while/foreach",                                // 48
    "No more processes",                                   // 49
    "No match",                                            // 50
    "Missing %c",                                          // 51
    "Unmatched %c",                                        // 52
    "Out of memory",                                       // 53
    "Can't make pipe",                                     // 54
    "%s: %s",                                              // 55
    "%s",                                                  // 56
    "Usage: jobs [ -l ]",                                  // 57
    "Arguments should be jobs or process id's",            // 58
    "No current job",                                      // 59
    "No previous job",                                     // 60
    "No job matches pattern",                              // 61
    "Fork nesting > %d; maybe `...` loop",                 // 62
    "No job control in subshells",                         // 63
    "Badly placed ()'s",                                   // 64
    "%sThere are suspended jobs",                          // 65
    "No other directory",                                  // 66
    "Directory stack empty",                               // 67
    "Bad directory",                                       // 68
    "Usage: %s [-lvn]%s",                                  // 69
    "No operand for -h flag",                              // 70
    "Not a login shell",                                   // 71
    "Division by 0",                                       // 72
    "Mod by 0",                                            // 73
    "Bad scaling; did you mean \"%s\"?",                   // 74
    "Can't suspend a login shell (yet)",                   // 75
    "Unknown user: %s",                                    // 76
    "No $home variable set",                               // 77
    "Usage: history [-rh] [# number of events]",           // 78
    "$, ! or < not allowed with $# or $?",                 // 79
    "Newline in variable name",                            // 80
    "* not allowed with $# or $?",                         // 81
    "$?<digit> or $#<digit> not allowed",                  // 82
    "Illegal variable name",                               // 83
    "Newline in variable index",                           // 84
    "Expansion buffer overflow",                           // 85
    "Variable syntax",                                     // 86
    "Bad ! form",                                          // 87
    "No previous substitute",                              // 88
    "Bad substitute",                                      // 89
    "No previous left hand side",                          // 90
    "Right hand side too long",                            // 91
    "Bad ! modifier: %c",                                  // 92
    "Modifier failed",                                     // 93
    "Substitution buffer overflow",                        // 94
    "Bad ! arg selector",                                  // 95
    "No prev search",                                      // 96
    "%s: Event not found",                                 // 97
    "Too many )'s",                                        // 98
    "Too many ('s",                                        // 99
    "Badly placed (",                                      // 100
    "Missing name for redirect",                           // 101
    "Ambiguous output redirect",                           // 102
    "Can't << within ()'s",                                // 103
    "Ambiguous input redirect",                            // 104
    "Alias loop",                                          // 105
    "!# History loop",                                     // 106
    "%s: %s. Wrong Architecture",                          // 107
    "Malformed file inquiry",                              // 108
    "Selector overflow",                                   // 109
    "Invalid Error",                                       // 110
};
static_assert(sizeof(kMessages) / sizeof(kMessages[0]) == ERROR_COUNT);

// A deferred message is cut to 1023 bytes; an immediate one is printed whole, so that a long
// file name in a message is never shown as the name of another file.
enum class Cut { Deferred, Whole };

std::string format_message(ErrorCode index, std::va_list args, Cut cut) {
    char buf[1024];
    std::va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(buf, sizeof buf, error_message(index), args);
    std::string text;
    if (n < static_cast<int>(sizeof buf) || cut == Cut::Deferred) {
        text = buf;
    } else {
        text.resize(static_cast<std::size_t>(n));
        std::vsnprintf(text.data(), text.size() + 1, error_message(index), copy);
    }
    va_end(copy);
    return text;
}

// Everything error_raise does after choosing the text: the message, the descriptors of the
// half-set-up command, the end of a child, and the unwind. The rest of the clean-up runs where
// the error is caught (RecoveryPoint::recover).
[[noreturn]] void raise_with(ErrorCode flags, const std::string* text) {
    std::fflush(output_stream);
    std::fflush(diagnostic_stream);
    errors.error_seen = true;
    if (!(flags & ERRF_SILENT)) {
        if (flags & ERRF_NAME) {
            std::fputs(errors.error_name.c_str(), diagnostic_stream);
            std::fputs(": ", diagnostic_stream);
        }
        std::fputs(text->c_str(), diagnostic_stream);
        std::fputs(".\n", diagnostic_stream);
    }
    errors.pending_error.reset();
    std::fflush(output_stream);
    std::fflush(diagnostic_stream);
    fds.fds_prepared = false;
    if (shell.fork_depth != 0 || errors.exit_on_error) {
        if (shell.in_shared_child) throw SharedChildExit{1};
        exit_now(1);
    }
    errors.cleanup_pending = true;
    throw ShellError{};
}

}  // namespace

ErrorState errors;
RecoveryHooks recovery_hooks;

const char* error_message(ErrorCode index) {
    index &= ERROR_CODE_MASK;
    return kMessages[index < ERROR_COUNT ? index : ERR_INVALID];
}

void error_raise(ErrorCode code, ...) {
    std::string text;
    if (!(code & ERRF_SILENT)) {
        std::va_list args;
        va_start(args, code);
        text = format_message(code & ERROR_CODE_MASK, args, Cut::Whole);
        va_end(args);
    }
    raise_with(code, &text);
}

void error_raise_pending(ErrorCode flags) {
    if (!errors.pending_error) return;
    std::string text = std::move(*errors.pending_error);
    raise_with(flags, &text);
}

void error_defer(ErrorCode index, ...) {
    if (errors.pending_error) return;
    std::va_list args;
    va_start(args, index);
    std::string text = format_message(index, args, Cut::Deferred);
    va_end(args);
    errors.pending_error = std::move(text);
}

void unwind() {
    throw ShellError{};
}

void error_set_name(const CharString& word) {
    errors.error_name = to_visible(word);
}

void error_undefined_variable(const CharString& name) {
    error_set_name(name);
    error_raise(ERR_UNDEFINED_VARIABLE | ERRF_NAME);
}

RecoveryPoint::RecoveryPoint() noexcept {
    mask_change(SIG_BLOCK, nullptr, &mask_);
}

void RecoveryPoint::recover() const {
    if (errors.cleanup_pending) {
        errors.cleanup_pending = false;
        if (recovery_hooks.discard_input) recovery_hooks.discard_input();
        if (recovery_hooks.set_error_status) recovery_hooks.set_error_status();
        reclaim_terminal();
    }
    restore_mask();
}

void RecoveryPoint::restore_mask() const noexcept {
    mask_change(SIG_SETMASK, &mask_, nullptr);
}
