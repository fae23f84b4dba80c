// Error reporting and recovery.
//
// Every error a user can see is one entry of a fixed message table. An immediate error
// (error_raise) prints its message, cleans up what a half-finished command leaves behind and
// throws ShellError to the innermost recovery point. A deferred error (error_defer) only records
// the first message of a line; the command loop reports it once the line has been read.
#pragma once

#include <csignal>
#include <cstdint>
#include <new>
#include <optional>
#include <string>

#include "core/chars.h"

using ErrorCode = std::uint32_t;

inline constexpr ErrorCode ERROR_CODE_MASK = 0x0fffffff;
inline constexpr ErrorCode ERRF_NAME = 0x10000000;     ///< print error_name and ": " first
inline constexpr ErrorCode ERRF_SILENT = 0x20000000;   ///< print nothing
inline constexpr ErrorCode ERRF_PENDING = 0x40000000;  ///< report the recorded deferred error

/// Indexes of the message table.
enum : ErrorCode {
    ERR_SYNTAX = 0,
    ERR_NOT_ALLOWED = 1,
    ERR_WORD_TOO_LONG = 2,
    ERR_DOLLAR_LINE_TOO_LONG = 3,
    ERR_NO_FILE_FOR_ZERO = 4,
    ERR_DOLLAR_QUERY_NOT_ALLOWED = 5,
    ERR_INCOMPLETE_SUBSCRIPT = 6,
    ERR_EXPANSION_BEFORE_BRACKET = 7,
    ERR_BAD_COLON_MODIFIER = 8,
    ERR_SUBSCRIPT = 9,
    ERR_BAD_NUMBER = 10,
    ERR_NO_MORE_WORDS = 11,
    ERR_MISSING_FILE_NAME = 12,
    ERR_INTERNAL_GLOB = 13,
    ERR_COMMAND_NOT_FOUND = 14,
    ERR_TOO_FEW_ARGS = 15,
    ERR_TOO_MANY_ARGS = 16,
    ERR_DANGEROUS_ALIAS = 17,
    ERR_EMPTY_IF = 18,
    ERR_IMPROPER_THEN = 19,
    ERR_NOT_PARENTHESIZED = 20,
    ERR_NOT_FOUND = 21,
    ERR_IMPROPER_MASK = 22,
    ERR_NO_SUCH_LIMIT = 23,
    ERR_ARG_TOO_LARGE = 24,
    ERR_BAD_SCALE_FACTOR = 25,
    ERR_UNDEFINED_VARIABLE = 26,
    ERR_DIR_STACK_NOT_DEEP = 27,
    ERR_BAD_SIGNAL_NUMBER = 28,
    ERR_UNKNOWN_SIGNAL = 29,
    ERR_VAR_BEGIN_LETTER = 30,
    ERR_VAR_NAME_TOO_LONG = 31,
    ERR_VAR_ALPHANUMERIC = 32,
    ERR_NO_JOB_CONTROL = 33,
    ERR_EXPRESSION_SYNTAX = 34,
    ERR_NO_HOME = 35,
    ERR_CANT_CHANGE_HOME = 36,
    ERR_NULL_COMMAND = 37,
    ERR_ASSIGN_MISSING_EXPR = 38,
    ERR_UNKNOWN_OPERATOR = 39,
    ERR_AMBIGUOUS = 40,
    ERR_FILE_EXISTS = 41,
    ERR_INTERRUPTED = 42,
    ERR_SUBSCRIPT_RANGE = 43,
    ERR_LINE_OVERFLOW = 44,
    ERR_UNKNOWN_VAR_MODIFIER = 45,
    ERR_NO_SUCH_JOB = 46,
    ERR_CANT_FROM_TERMINAL = 47,
    ERR_NOT_IN_LOOP = 48,
    ERR_NO_MORE_PROCESSES = 49,
    ERR_NO_MATCH = 50,
    ERR_MISSING = 51,
    ERR_UNMATCHED = 52,
    ERR_NO_MEMORY = 53,
    ERR_CANT_MAKE_PIPE = 54,
    ERR_NAME_TEXT = 55,
    ERR_TEXT = 56,
    ERR_JOBS_USAGE = 57,
    ERR_JOBS_OR_PIDS = 58,
    ERR_NO_CURRENT_JOB = 59,
    ERR_NO_PREVIOUS_JOB = 60,
    ERR_NO_JOB_MATCHES = 61,
    ERR_FORK_NESTING = 62,
    ERR_NO_JOB_CONTROL_SUBSHELL = 63,
    ERR_BADLY_PLACED_PARENS = 64,
    ERR_SUSPENDED_JOBS = 65,
    ERR_NO_OTHER_DIR = 66,
    ERR_DIR_STACK_EMPTY = 67,
    ERR_BAD_DIRECTORY = 68,
    ERR_DIRS_USAGE = 69,
    ERR_NO_H_OPERAND = 70,
    ERR_NOT_LOGIN_SHELL = 71,
    ERR_DIVISION_BY_ZERO = 72,
    ERR_MOD_BY_ZERO = 73,
    ERR_BAD_SCALING = 74,
    ERR_CANT_SUSPEND_LOGIN = 75,
    ERR_UNKNOWN_USER = 76,
    ERR_NO_HOME_VAR = 77,
    ERR_HISTORY_USAGE = 78,
    ERR_DOLLAR_SPECIAL_WITH_COUNT = 79,
    ERR_NEWLINE_IN_NAME = 80,
    ERR_STAR_WITH_COUNT = 81,
    ERR_DIGIT_WITH_COUNT = 82,
    ERR_ILLEGAL_VAR_NAME = 83,
    ERR_NEWLINE_IN_INDEX = 84,
    ERR_EXPANSION_OVERFLOW = 85,
    ERR_VARIABLE_SYNTAX = 86,
    ERR_BAD_BANG_FORM = 87,
    ERR_NO_PREVIOUS_SUBSTITUTE = 88,
    ERR_BAD_SUBSTITUTE = 89,
    ERR_NO_PREVIOUS_LEFT = 90,
    ERR_RIGHT_TOO_LONG = 91,
    ERR_BAD_BANG_MODIFIER = 92,
    ERR_MODIFIER_FAILED = 93,
    ERR_SUBSTITUTION_OVERFLOW = 94,
    ERR_BAD_ARG_SELECTOR = 95,
    ERR_NO_PREV_SEARCH = 96,
    ERR_EVENT_NOT_FOUND = 97,
    ERR_TOO_MANY_CLOSE = 98,
    ERR_TOO_MANY_OPEN = 99,
    ERR_BADLY_PLACED_OPEN = 100,
    ERR_MISSING_REDIRECT_NAME = 101,
    ERR_AMBIGUOUS_OUTPUT = 102,
    ERR_HEREDOC_IN_PARENS = 103,
    ERR_AMBIGUOUS_INPUT = 104,
    ERR_ALIAS_LOOP = 105,
    ERR_HISTORY_LOOP = 106,
    ERR_WRONG_ARCH = 107,
    ERR_MALFORMED_INQUIRY = 108,
    ERR_SELECTOR_OVERFLOW = 109,
    ERR_INVALID = 110,
};

inline constexpr int ERROR_COUNT = 111;

/// The message of an index; an index above 110 gives "Invalid Error".
const char* error_message(ErrorCode index);

/// The error state of the process.
struct ErrorState {
    std::optional<std::string> pending_error;  ///< the first deferred message of the line
    std::string error_name;                    ///< printed before the message with ERRF_NAME
    bool error_seen = false;       ///< set by every error_raise; tested by the command loop
    bool exit_on_error = false;    ///< -e: any immediate error ends the shell
    bool cleanup_pending = false;  ///< an error unwinds; the recovery point has yet to clean up
};
extern ErrorState errors;

/// The clean-up steps an error leaves to the recovery point that catches it, after the steps of
/// error_raise itself (message, descriptors, the end of a child). Start-up fills them in; the
/// recovery point then takes the terminal back.
struct RecoveryHooks {
    void (*discard_input)() = nullptr;     ///< throws away the pending input
    void (*set_error_status)() = nullptr;  ///< sets status to 1
};
extern RecoveryHooks recovery_hooks;

/// What error_raise throws; caught only at recovery points.
struct ShellError {};

/// Ends a shared-memory child: thrown where a forked child would exit, so that the child's own
/// frames release what they hold before it leaves (their memory is the shell's).
struct SharedChildExit {
    int status;
};

/// A return to the command loop that is not an error (a line shown by :p and not run).
struct LoopReturn {};

/// Reports an immediate error and unwinds to the innermost recovery point, which finishes the
/// clean-up. In a forked child or under -e it ends the process with status 1 instead.
[[noreturn]] void error_raise(ErrorCode code, ...);

/// Returns to the innermost recovery point without an error (no message, error_seen unchanged).
[[noreturn]] void unwind();

/// Reports the recorded deferred error as error_raise does (adding the flags given);
/// returns without effect when nothing is pending.
void error_raise_pending(ErrorCode flags = 0);

/// Records a deferred error unless one is already recorded for this line.
void error_defer(ErrorCode index, ...);

/// Raises "Undefined variable" under the visible form of the name.
[[noreturn]] void error_undefined_variable(const CharString& name);

/// Sets error_name to the visible form of a word.
void error_set_name(const CharString& word);

/// A place to which errors unwind: it records the signal mask in force when it is made and
/// restores it when control comes back.
class RecoveryPoint {
  public:
    RecoveryPoint() noexcept;
    /// Control came back here: after an error, throws away the pending input, sets status to 1
    /// and takes the terminal back; then restores the mask recorded at installation.
    void recover() const;
    /// Restores the mask recorded at installation.
    void restore_mask() const noexcept;

  private:
    sigset_t mask_;
};

/// Runs body at a recovery point: an unwind out of it (or running out of memory, which is
/// reported as "Out of memory") comes back here with the point's mask restored. Returns true
/// when body was abandoned by an unwind (errors.error_seen tells whether it was an error).
/// A LoopReturn passes through.
template <class Body>
bool run_recovering(Body&& body) {
    RecoveryPoint point;
    try {
        body();
        return false;
    } catch (const ShellError&) {
    } catch (const std::bad_alloc&) {
        try {
            error_raise(ERR_NO_MEMORY);
        } catch (const ShellError&) {
        }
    }
    point.recover();
    return true;
}
