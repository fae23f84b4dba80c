#include "dirs/directory_stack.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/process_exit.h"
#include "vars/environment.h"
#include "vars/variables.h"

DirStack dir_stack;
DirEntry* current_dir = nullptr;

namespace {

// The name buffer of start-up; a longer current directory is reported as not found.
constexpr std::size_t CWD_BUFFER_SIZE = 1024;
// Link targets longer than this are not expanded.
constexpr std::size_t LINK_TARGET_MAX = 1023;
// Expansions of symbolic links in one canonicalisation. The system refuses to enter a path
// with a loop of links, but a name given to home need not be enterable; past this bound the
// remaining links are taken as plain names, so a loop cannot make the walk endless.
constexpr int MAX_LINK_EXPANSIONS = 128;
// A wrapped listing breaks before an entry that would reach this column.
constexpr int WRAP_COLUMN = 79;

bool is_set(std::string_view name) {
    return var_lookup(name) != nullptr;
}

// True when name is dir itself or lies below it: dir followed by "/" or by the end.
bool begins_with_dir(CharView name, CharView dir) {
    return name.size() >= dir.size() && name.substr(0, dir.size()) == dir &&
           (name.size() == dir.size() || name[dir.size()] == '/');
}

bool begins_with(CharView s, std::string_view text) {
    return s.size() >= text.size() && equals(s.substr(0, text.size()), text);
}

// The next entry below e in the ring, passing over the sentinel.
DirEntry* below(DirEntry* e) {
    e = e->down;
    return e == &dir_stack.head ? e->down : e;
}

// Links e into the ring just above at.
void link_above(DirEntry* e, DirEntry* at) {
    e->down = at;
    e->up = at->up;
    at->up->down = e;
    at->up = e;
}

void unlink_entry(DirEntry* e) {
    e->up->down = e->down;
    e->down->up = e->up;
    e->up = e->down = nullptr;
}

DirEntry* new_entry(CharString name) {
    auto* e = new DirEntry;
    e->name = std::move(name);
    return e;
}

// cwd and PWD follow the current entry; cwd is stored as is, without file-name generation.
void publish_current() {
    static const CharString cwd_name = chars("cwd");
    var_store(cwd_name, WordVector{current_dir->name}, shell_variables);
    env_set("PWD", current_dir->name);
}

// Changes the process's directory to an entry's; "%s: %s" when the system refuses.
void enter(const DirEntry* e) {
    if (chdir(to_byte_string(e->name)) < 0) {
        int err = errno;
        error_raise(ERR_NAME_TEXT, to_visible(e->name), std::strerror(err));
    }
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// ---- Canonical names ----------------------------------------------------------------------

// The target of the symbolic link named by the first n Chars of path; nullopt when that is no
// link or its target does not fit in LINK_TARGET_MAX bytes.
std::optional<CharString> link_target(const CharString& path, std::size_t n) {
    char buf[LINK_TARGET_MAX + 1];
    ssize_t len = readlink(to_byte_string(CharView(path).substr(0, n)), buf, sizeof buf);
    if (len <= 0 || static_cast<std::size_t>(len) > LINK_TARGET_MAX) return std::nullopt;
    return to_char_string(std::string_view(buf, static_cast<std::size_t>(len)));
}

// Puts a link's target in place of the link path[0, end), whose last component begins after
// the "/" at slash: a relative target replaces that component, an absolute one the whole link.
// Returns the "/" at which the walk goes on.
std::size_t expand_link(CharString& path, std::size_t slash, std::size_t end,
                        const CharString& target) {
    if (target[0] == '/') {
        path.replace(0, end, target);
        return 0;
    }
    path.replace(slash + 1, end - slash - 1, target);
    return slash;
}

// Rewrites a name reached through another path to the home directory to begin with home.
void home_rewrite(CharString& path) {
    const CharString& home = var_value("home");
    if (home.empty() || home[0] != '/' || begins_with_dir(path, home)) return;
    if (!dir_stack.home_known || dir_stack.home_value != home) {
        struct stat st;
        dir_stack.home_value = home;
        dir_stack.home_known = stat(to_byte_string(home), &st) == 0;
        if (dir_stack.home_known) {
            dir_stack.home_device = st.st_dev;
            dir_stack.home_inode = st.st_ino;
        }
    }
    if (!dir_stack.home_known) return;
    std::size_t n = path.size();
    struct stat st;
    while (n > 0 && stat(to_byte_string(CharView(path).substr(0, n)), &st) == 0) {
        if (st.st_dev == dir_stack.home_device && st.st_ino == dir_stack.home_inode) {
            path.replace(0, n, home);
            return;
        }
        std::size_t slash = path.rfind('/', n - 1);
        n = slash == CharString::npos ? 0 : slash;
    }
}

// ---- Following a name ---------------------------------------------------------------------

// The name the user means with symbolic links ignored: leading ".." components climb from the
// current entry's name and leading "." components are skipped.
CharString logical_name(const CharString& name) {
    CharView base(current_dir->name);
    if (equals(base, "/")) base = CharView();
    CharView rest(name);
    for (;;) {
        std::size_t end = rest.find('/');
        CharView component = rest.substr(0, end);
        if (equals(component, "..")) {
            std::size_t slash = base.rfind('/');
            base = base.substr(0, slash == CharView::npos ? 0 : slash);
        } else if (!equals(component, ".")) {
            break;
        }
        if (end == CharView::npos) {
            rest = CharView();
            break;
        }
        rest = rest.substr(end);
        while (!rest.empty() && rest[0] == '/') rest.remove_prefix(1);
    }
    CharString logical(base);
    logical += Char('/');
    logical += rest;
    return logical;
}

bool enter_name(const CharString& name) {
    return chdir(to_byte_string(name)) == 0;
}

// The only entry of the ring is its own neighbour.
bool is_alone(DirEntry* e) {
    return below(e) == e;
}

}  // namespace

// ---- Start-up -------------------------------------------------------------------------------

void dir_init(const CharString* home) {
    const bool have_home = home && !home->empty();
    char buf[CWD_BUFFER_SIZE];
    CharString name;
    if (!getcwd(buf, sizeof buf) || buf[0] == '\0') {
        // What the buffer holds after a failure is unspecified, so the call is named instead.
        std::fprintf(diagnostic_stream, "orv: %s: %s\n", "getcwd", std::strerror(errno));
        bool entered = false;
        if (have_home) {
            entered = chdir(to_byte_string(*home)) == 0;
            std::fprintf(diagnostic_stream, "orv: Trying to start from \"%s\"\n",
                         to_visible(*home));
        }
        if (entered) {
            name = *home;
        } else {
            std::fprintf(diagnostic_stream, "orv: Trying to start from \"%s\"\n", "/");
            if (chdir("/") < 0) exit_now(1);
            name = chars("/");
        }
    } else {
        struct stat here, there;
        const bool have_here = stat(buf, &here) == 0;
        if (have_home && have_here && stat(to_byte_string(*home), &there) == 0 &&
            same_file(here, there)) {
            name = *home;
        } else {
            // PWD keeps the name the parent reached this directory by; only an absolute one
            // can be a canonical name.
            std::optional<CharView> pwd = env_lookup("PWD");
            if (pwd && !pwd->empty() && (*pwd)[0] == '/' && have_here &&
                stat(to_byte_string(*pwd), &there) == 0 && same_file(here, there)) {
                name = CharString(*pwd);
            } else {
                name = to_char_string(buf);
            }
            const std::size_t end = name.size();
            name = canonical_dir(std::move(name), end);
        }
    }
    DirEntry* e = new_entry(std::move(name));
    DirEntry& head = dir_stack.head;
    head.down = head.up = e;
    e->down = e->up = &head;
    dir_stack.print_pending = false;
    dir_set_current(e);
}

// ---- Canonical names --------------------------------------------------------------------------

// Walks the components from the "/" at i. The text before i is taken as canonical already.
CharString canonical_dir(CharString path, std::size_t start, HomeRewrite rewrite) {
    if (path.empty() || path[0] != '/') {
        const CharString& cwd = var_value("cwd");
        if (cwd.empty() || cwd[0] != '/') return path;
        CharString joined = cwd;
        joined += Char('/');
        joined += path;
        path = std::move(joined);
        start = 0;
    }
    const bool ignore = is_set("ignore_symlinks");
    const bool chase = !ignore && is_set("chase_symlinks");
    int expansions = 0;
    std::size_t i = start < path.size() ? path.find('/', start) : path.size();
    if (i == CharString::npos) i = path.size();

    while (i < path.size()) {
        std::size_t run = i + 1;
        while (run < path.size() && path[run] == '/') ++run;
        path.erase(i + 1, run - i - 1);
        if (i + 1 == path.size()) {  // a trailing "/"; the root stays
            if (i > 0) path.erase(i);
            break;
        }
        std::size_t end = path.find('/', i + 1);
        if (end == CharString::npos) end = path.size();
        CharView component = CharView(path).substr(i + 1, end - i - 1);

        if (equals(component, ".")) {
            if (end < path.size()) {
                path.erase(i + 1, 2);
                continue;
            }
            if (i > 0) path.erase(i);  // "/." directly after the root is left as it is
            break;
        }
        if (equals(component, "..")) {
            if (i == 0) {  // above the root is the root
                path.erase(1, end < path.size() ? 3 : 2);
                continue;
            }
            const std::size_t slash = path.rfind('/', i - 1);
            if (!ignore && expansions < MAX_LINK_EXPANSIONS) {
                if (std::optional<CharString> target = link_target(path, i)) {
                    ++expansions;
                    i = expand_link(path, slash, i, *target);
                    continue;
                }
            }
            path.erase(slash, end - slash);
            if (path.empty()) path = chars("/");
            i = slash;
            continue;
        }
        if (chase && expansions < MAX_LINK_EXPANSIONS) {
            if (std::optional<CharString> target = link_target(path, end)) {
                ++expansions;
                i = expand_link(path, i, end, *target);
                continue;
            }
        }
        i = end;
    }
    if (rewrite == HOME_REWRITE) home_rewrite(path);
    return path;
}

CharString dir_goto(const CharString& name) {
    if (!name.empty() && name[0] == '/') return canonical_dir(name, 0);
    CharString joined = current_dir->name;
    std::size_t at = 0;
    if (!equals(joined, "/")) {
        at = joined.size();
        joined += Char('/');
    }
    joined += name;
    return canonical_dir(std::move(joined), at);
}

void dir_rehome() {
    if (!current_dir) return;  // home is set at start-up before the stack exists
    for (DirEntry* e = dir_stack.head.down; e != &dir_stack.head; e = e->down) {
        const std::size_t end = e->name.size();
        e->name = canonical_dir(std::move(e->name), end);
    }
    publish_current();
}

// ---- The current entry and the listing -------------------------------------------------------

void dir_set_current(DirEntry* entry) {
    current_dir = entry;
    publish_current();
    if (dir_stack.print_pending && !is_set("pushdsilent")) dir_print();
}

void dir_print() {
    const CharString& home = var_value("home");
    const bool abbreviate =
        !home.empty() && !(dir_stack.print_flags & DIRS_LONG) && !equals(home, "/");
    const bool verbose = dir_stack.print_flags & DIRS_VERBOSE;
    const char end = verbose ? '\n' : ' ';
    int column = 0;
    int index = 0;
    DirEntry* e = current_dir;
    do {
        if (verbose) {
            std::fprintf(output_stream, "%d\t", index++);
            column = 0;
        }
        const bool tilde = abbreviate && begins_with_dir(e->name, home);
        CharView text = CharView(e->name).substr(tilde ? home.size() : 0);
        if (dir_stack.print_flags & DIRS_WRAP) {
            const int width = static_cast<int>(text.size()) + (tilde ? 2 : 1);
            column += width;
            if (width <= WRAP_COLUMN && column >= WRAP_COLUMN) {
                std::fputc('\n', output_stream);
                column = width;
            }
        }
        std::fprintf(output_stream, tilde ? "~%s%c" : "%s%c", to_visible(text), end);
        e = below(e);
    } while (e != current_dir);
    if (!verbose) std::fputc('\n', output_stream);
}

void tilde_form(const CharString& name, FILE* stream) {
    const CharString& home = var_value("home");
    if (!home.empty() && !equals(home, "/") && begins_with_dir(name, home)) {
        std::fputc('~', stream);
        std::fputs(to_visible(CharView(name).substr(home.size())), stream);
    } else {
        std::fputs(to_visible(name), stream);
    }
}

// ---- Entries ----------------------------------------------------------------------------------

DirEntry* dir_find(const CharString& word) {
    if (word.size() < 2 || word[0] != '+') return nullptr;
    for (std::size_t i = 1; i < word.size(); ++i) {
        if (!char_is(word[i], CC_DIGIT)) return nullptr;
    }
    std::int32_t n = parse_number(word);
    if (n <= 0) return nullptr;
    DirEntry* e = current_dir;
    for (; n > 0; --n) {
        e = below(e);
        if (e == current_dir) error_raise(ERR_DIR_STACK_NOT_DEEP | ERRF_NAME);
    }
    return e;
}

void dir_free(DirEntry* entry) {
    if (entry->ref_count != 0) {
        entry->up = entry->down = nullptr;
        return;
    }
    delete entry;
}

void dir_release(DirEntry* entry) {
    if (!entry) return;
    if (--entry->ref_count == 0 && !entry->down && !entry->up) delete entry;
}

// ---- What cd, pushd and popd do -----------------------------------------------------------------

std::size_t dir_read_options(const WordVector& words, const char* usage_suffix) {
    dir_stack.print_flags = 0;
    std::size_t i = 1;
    for (; i < words.size() && !words[i].empty() && words[i][0] == '-'; ++i) {
        for (std::size_t k = 1; k < words[i].size(); ++k) {
            switch (words[i][k]) {
                case 'l':
                    dir_stack.print_flags |= DIRS_LONG;
                    break;
                case 'v':
                    dir_stack.print_flags |= DIRS_VERBOSE;
                    break;
                case 'n':
                    dir_stack.print_flags |= DIRS_WRAP;
                    break;
                default:
                    error_raise(ERR_DIRS_USAGE, to_visible(words[0]), usage_suffix);
            }
        }
    }
    return i;
}

CharString dir_follow(const CharString& name) {
    const bool absolute = !name.empty() && name[0] == '/';
    if (is_set("ignore_symlinks") && !absolute) {
        CharString logical = logical_name(name);
        if (enter_name(logical)) return dir_goto(logical);
    }
    if (enter_name(name)) return dir_goto(name);
    const int err = errno;

    if (!absolute && !begins_with(name, "./") && !begins_with(name, "../")) {
        if (const WordVector* cdpath = var_lookup("cdpath")) {
            for (const CharString& dir : *cdpath) {
                CharString candidate = dir;
                candidate += Char('/');
                candidate += name;
                if (enter_name(candidate)) {
                    dir_stack.print_pending = true;
                    return dir_goto(candidate);
                }
            }
        }
    }
    if (const WordVector* value = var_lookup(CharView(name))) {
        if (!value->empty()) {
            const CharString& dir = value->front();
            if (!dir.empty() && (dir[0] == '/' || dir[0] == '.') && enter_name(dir)) {
                dir_stack.print_pending = true;
                return dir_goto(CharString(dir));
            }
        }
    }
    error_raise(ERR_NAME_TEXT, to_visible(name), std::strerror(err));
}

void dir_enter(const DirEntry* e) {
    enter(e);
}

void dir_replace_current(DirEntry* found) {
    DirEntry* old = current_dir;
    unlink_entry(old);
    current_dir = found;
    dir_free(old);
    dir_set_current(found);
}

void dir_replace_current(CharString name) {
    // The new entry takes the place of the current one in the ring.
    DirEntry* e = new_entry(std::move(name));
    DirEntry* old = current_dir;
    link_above(e, old);
    unlink_entry(old);
    current_dir = e;
    dir_free(old);
    dir_set_current(e);
}

void dir_exchange_top() {
    DirEntry* other = below(current_dir);
    if (other == current_dir) error_raise(ERR_NO_OTHER_DIR | ERRF_NAME);
    enter(other);
    unlink_entry(other);
    link_above(other, current_dir);
    dir_set_current(other);
}

void dir_push(CharString name) {
    DirEntry* e = new_entry(std::move(name));
    link_above(e, current_dir);
    dir_set_current(e);
}

void dir_pop(DirEntry* gone) {
    if (is_alone(gone)) error_raise(ERR_DIR_STACK_EMPTY | ERRF_NAME);
    if (gone == current_dir) {
        DirEntry* target = below(gone);
        enter(target);
        unlink_entry(gone);
        current_dir = target;
        dir_set_current(target);
    } else {
        unlink_entry(gone);
        dir_print();  // another entry left: listed even under pushdsilent
    }
    dir_free(gone);
}
