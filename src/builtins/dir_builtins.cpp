#include "builtins/dir_builtins.h"

#include <unistd.h>

#include "core/errors.h"
#include "dirs/directory_stack.h"
#include "expand/glob.h"
#include "vars/variables.h"

void builtin_cd(WordVector& words, CommandNode&) {
    const std::size_t i = dir_read_options(words, " [<dir>]");
    dir_stack.print_pending = false;
    if (i == words.size()) {
        const CharString& home = var_value("home");
        if (home.empty()) error_raise(ERR_NO_HOME | ERRF_NAME);
        if (chdir(to_byte_string(home)) < 0) error_raise(ERR_CANT_CHANGE_HOME | ERRF_NAME);
        dir_replace_current(CharString(home));
    } else if (words.size() - i > 1) {
        error_raise(ERR_TOO_MANY_ARGS | ERRF_NAME);
    } else if (DirEntry* found = dir_find(words[i])) {
        dir_stack.print_pending = true;
        dir_enter(found);
        dir_replace_current(found);
    } else {
        dir_replace_current(dir_follow(glob_one(words[i], ONE_AMBIGUOUS)));
    }
}

void builtin_pushd(WordVector& words, CommandNode&) {
    const std::size_t i = dir_read_options(words, " [<dir>|+<n>]");
    dir_stack.print_pending = true;
    if (i == words.size()) {
        dir_exchange_top();
        return;
    }
    if (words.size() - i > 1) error_raise(ERR_TOO_MANY_ARGS | ERRF_NAME);
    if (DirEntry* found = dir_find(words[i])) {
        dir_enter(found);
        dir_set_current(found);  // the ring stays: the listing now starts at found
        return;
    }
    dir_push(dir_follow(glob_one(words[i], ONE_AMBIGUOUS)));
}

void builtin_popd(WordVector& words, CommandNode&) {
    const std::size_t i = dir_read_options(words, " [+<n>]");
    dir_stack.print_pending = true;
    DirEntry* gone = current_dir;
    if (words.size() - i > 1) error_raise(ERR_TOO_MANY_ARGS | ERRF_NAME);
    if (i < words.size()) {
        gone = dir_find(words[i]);
        if (!gone) error_raise(ERR_BAD_DIRECTORY | ERRF_NAME);
    }
    dir_pop(gone);
}

void builtin_dirs(WordVector& words, CommandNode&) {
    if (dir_read_options(words, "") < words.size()) error_raise(ERR_DIRS_USAGE, "dirs", "");
    dir_print();
}
