#include "dirs/directory_stack.h"

#include <unistd.h>

#include <climits>
#include <cstdio>

#include "vars/environment.h"
#include "vars/variables.h"

namespace {
DirEntry dir_stack_head;  // the sentinel of the ring
}

DirEntry* current_dir = nullptr;

// The stack and canonical names come with cd and pushd; until then the current directory is
// taken from the system as it is.
void dir_init(const CharString*) {
    char buf[PATH_MAX];
    auto* entry = new DirEntry;
    entry->name = getcwd(buf, sizeof buf) ? to_char_string(buf) : chars("/");
    entry->down = entry->up = &dir_stack_head;
    dir_stack_head.down = dir_stack_head.up = entry;
    current_dir = entry;
    var_store(chars("cwd"), WordVector{entry->name}, shell_variables);
    env_set("PWD", entry->name);
}

void dir_release(DirEntry* entry) {
    if (!entry) return;
    if (--entry->ref_count == 0 && !entry->down && !entry->up) delete entry;
}

void tilde_form(const CharString& name, FILE* stream) {
    const CharString& home = var_value("home");
    bool under_home = !home.empty() && !(home.size() == 1 && home[0] == '/') &&
                      name.compare(0, home.size(), home) == 0 &&
                      (name.size() == home.size() || name[home.size()] == '/');
    if (under_home) {
        std::fputc('~', stream);
        std::fputs(to_visible(CharView(name).substr(home.size())), stream);
    } else {
        std::fputs(to_visible(name), stream);
    }
}
