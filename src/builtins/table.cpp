#include "builtins/table.h"

#include <string_view>

#include "builtins/alias_builtins.h"
#include "builtins/control_flow.h"
#include "builtins/dir_builtins.h"
#include "builtins/hash_builtins.h"
#include "builtins/job_builtins.h"
#include "builtins/limits.h"
#include "builtins/other_builtins.h"
#include "builtins/source_eval.h"
#include "builtins/time_nice.h"
#include "builtins/var_commands.h"
#include "core/errors.h"
#include "dirs/directory_stack.h"
#include "exec/command_hash.h"
#include "exec/command_search.h"
#include "jobs/job_control.h"
#include "jobs/usage.h"

void noop_builtin(WordVector&, CommandNode&) {}

namespace {

constexpr std::int16_t U = ARGS_UNLIMITED;
// The properties column: S scripting (runs under -n), D changes the directory, F takes 0, 1 and 2
// itself, P forks in a pipeline.
constexpr std::uint8_t S = BUILTIN_SCRIPTING;
constexpr std::uint8_t D = BUILTIN_CHANGES_DIR;
constexpr std::uint8_t F = BUILTIN_TAKES_STD_FDS;
constexpr std::uint8_t P = BUILTIN_FORKS_IN_PIPE;

// Sorted in byte order of the names: the lookup halves the table.
constexpr BuiltinEntry kTable[] = {
    {"@", builtin_at, 0, U},
    {"alias", builtin_alias, 0, U},
    {"alloc", builtin_alloc, 0, 1},
    {"bg", builtin_bg, 0, U},
    {"break", builtin_break, 0, 0, S},
    {"breaksw", builtin_breaksw, 0, 0, S},
    {"case", noop_builtin, 0, 1, S},
    {"cd", builtin_cd, 0, U, D},
    {"chdir", builtin_cd, 0, U, D},
    {"continue", builtin_continue, 0, 0, S},
    {"default", noop_builtin, 0, 0, S},
    {"dirs", builtin_dirs, 0, U},
    {"echo", builtin_echo, 0, U},
    {"else", builtin_else, 0, U, S},
    {"end", builtin_end, 0, 0, S},
    {"endif", noop_builtin, 0, 0, S},
    {"endsw", noop_builtin, 0, 0, S},
    {"eval", builtin_eval, 0, U, P},
    {"exec", builtin_exec, 1, U, F},
    {"exit", builtin_exit, 0, U},
    {"fg", builtin_fg, 0, U},
    {"foreach", builtin_foreach, 3, U, S},
    {"glob", builtin_glob, 0, U},
    {"goto", builtin_goto, 1, 1, S},
    {"hashstat", builtin_hashstat, 0, 0},
    {"history", builtin_history, 0, 2},
    {"if", builtin_if, 1, U, S | F},
    {"jobs", builtin_jobs, 0, 1},
    {"kill", builtin_kill, 1, U},
    {"limit", builtin_limit, 0, 3},
    {"linedit", builtin_echo, 0, U},
    {"login", builtin_login, 0, 1, F},
    {"logout", builtin_logout, 0, 0},
    {"nice", builtin_nice, 0, U},
    {"nohup", builtin_nohup, 0, U},
    {"notify", builtin_notify, 0, U},
    {"onintr", builtin_onintr, 0, 2},
    {"popd", builtin_popd, 0, U, D},
    {"printf", builtin_printf, 1, U},
    {"pushd", builtin_pushd, 0, U, D},
    {"rehash", builtin_rehash, 0, 0},
    {"repeat", builtin_repeat, 2, U, S | F},
    {"set", builtin_set, 0, U},
    {"setenv", builtin_setenv, 0, 2},
    {"shift", builtin_shift, 0, 1},
    {"source", builtin_source, 1, 2},
    {"stop", builtin_stop, 1, U},
    {"suspend", builtin_suspend, 0, 0},
    {"switch", builtin_switch, 1, U, S},
    {"time", builtin_time, 0, U},
    {"umask", builtin_umask, 0, 1},
    {"unalias", builtin_unalias, 1, U},
    {"unhash", builtin_unhash, 0, 0},
    {"unlimit", builtin_unlimit, 0, U},
    {"unset", builtin_unset, 1, U},
    {"unsetenv", builtin_unsetenv, 1, U},
    {"wait", builtin_wait, 0, 0},
    {"which", builtin_which, 1, U},
    {"while", builtin_while, 1, U, S},
};
constexpr int kRows = sizeof kTable / sizeof kTable[0];
static_assert(kRows == 59, "the shell has 59 builtin commands");

constexpr bool sorted() {
    for (int i = 1; i < kRows; ++i) {
        if (!(std::string_view(kTable[i - 1].name) < std::string_view(kTable[i].name))) {
            return false;
        }
    }
    return true;
}
static_assert(sorted(), "the builtin table must be sorted by name");

// The pseudo-entries for labels and %job words; their names are the command word.
std::string label_name, job_name;
BuiltinEntry label_entry{nullptr, noop_builtin, 0, 0, BUILTIN_SCRIPTING};
BuiltinEntry job_fg_entry{"%job", builtin_job_fg, 0, 0};
BuiltinEntry job_bg_entry{"%job &", builtin_job_bg, 0, 0};

// Compares a command word with a row's name as the shell compares Chars: a quoted character
// is negative and never equals a character of a name.
int compare_word(const CharString& w, const char* name) {
    std::size_t i = 0;
    for (;; ++i) {
        int a = i < w.size() ? w[i] : 0;
        int b = static_cast<signed char>(name[i]);
        if (a != b || a == 0) return a - b;
    }
}

}  // namespace

const BuiltinEntry* const builtin_table = kTable;
const int builtin_count = kRows;

const BuiltinEntry* find_builtin(CommandNode& node) {
    if (node.words.empty()) return nullptr;
    const CharString& w = node.words[0];
    if (!w.empty() && w.back() == ':') {
        label_name = to_bytes(w);
        label_entry.name = label_name.c_str();
        return &label_entry;
    }
    if (!w.empty() && w[0] == '%') {
        job_name = to_bytes(w);
        BuiltinEntry& entry = (node.node_flags & FLAG_BACKGROUND) ? job_bg_entry : job_fg_entry;
        node.node_flags &= static_cast<std::uint16_t>(~FLAG_BACKGROUND);
        entry.name = job_name.c_str();
        return &entry;
    }
    int lo = 0, hi = builtin_count;
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        int first = w.empty() ? 0 : w[0];
        int d = first - static_cast<signed char>(builtin_table[mid].name[0]);
        if (d == 0) d = compare_word(w, builtin_table[mid].name);
        if (d == 0) return &builtin_table[mid];
        if (d < 0) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    return nullptr;
}

void run_builtin(CommandNode& node, const BuiltinEntry& entry) {
    echo_command(node.words);
    errors.error_name = entry.name;
    int args = static_cast<int>(node.words.size()) - 1;
    if (args < entry.min_args) error_raise(ERR_TOO_FEW_ARGS | ERRF_NAME);
    if (args > entry.max_args) error_raise(ERR_TOO_MANY_ARGS | ERRF_NAME);
    entry.perform(node.words, node);
}
