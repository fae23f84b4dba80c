#include "lifecycle/special_variables.h"

#include "dirs/directory_stack.h"
#include "exec/command_hash.h"
#include "input/lexer.h"
#include "vars/environment.h"
#include "vars/variables.h"

namespace {

void after_path() {
    if (const WordVector* path = var_lookup("path")) export_path(*path);
    rehash_path();
}

void after_histchars() {
    const CharString& chars = var_value("histchars");
    lexer.history_char = chars.size() > 0 ? chars[0] : 0;
    lexer.quick_sub_char = chars.size() > 1 ? chars[1] : 0;
}

void unset_histchars() {
    lexer.history_char = '!';
    lexer.quick_sub_char = '^';
}

void after_user() {
    const CharString& user = var_value("user");
    env_set("USER", user);
    env_set("LOGNAME", user);
}

void after_term() {
    env_set("TERM", var_value("term"));
}

// home holds the canonical form of its first word. The rewrite of names under home is left out
// here: it would put the value given back in place of its own canonical form. An empty home
// stays empty (it means "No home directory" to cd).
void after_home() {
    CharString home = var_value("home");
    if (!home.empty()) home = canonical_dir(std::move(home), 0, NO_HOME_REWRITE);
    var_store(chars("home"), WordVector{home}, shell_variables);
    env_set("HOME", home);
    dir_rehome();
}

void after_edit() {
    edit_enabled = true;
}
void unset_edit() {
    edit_enabled = false;
}

void after_filec() {
    filec_enabled = true;
}
void unset_filec() {
    filec_enabled = false;
}

constexpr SpecialVariable kSpecialVariables[] = {
    {"edit", after_edit, unset_edit},
    {"filec", after_filec, unset_filec},
    {"histchars", after_histchars, unset_histchars},
    {"home", after_home, nullptr},
    {"path", after_path, nullptr},
    {"term", after_term, nullptr},
    {"user", after_user, nullptr},
};

}  // namespace

void install_special_variables() {
    var_install_specials(kSpecialVariables);
}
