// The directory stack: the current directory by the name the user reached it, and the stack of
// other directories for pushd and popd.
//
// The entries form a ring through a sentinel without a name. A listing starts at current_dir and
// follows down (passing over the sentinel) until it comes back, so the current directory is
// always on top and the ring keeps its order when the current position moves.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdio>

#include "core/chars.h"

/// One remembered directory; jobs started in it hold a reference.
struct DirEntry {
    DirEntry* down = nullptr;  ///< the next entry in listing order (older)
    DirEntry* up = nullptr;    ///< the previous entry in listing order
    int ref_count = 0;         ///< references held by jobs; an unlinked entry lives while > 0
    CharString name;           ///< the canonical absolute name
};

/// Bits of DirStack::print_flags, set by the option words of cd, pushd, popd and dirs.
enum DirsFlags : unsigned {
    DIRS_LONG = 0x1,     ///< -l: names in full, without ~
    DIRS_VERBOSE = 0x2,  ///< -v: numbered, one entry per line
    DIRS_WRAP = 0x4,     ///< -n: break lines before 80 columns
};

/// Whether canonical_dir shows a name reached through another path to the home directory under
/// the value of home.
enum HomeRewrite : int {
    HOME_REWRITE = 0,
    NO_HOME_REWRITE = 1,
};

/// The state of the directory stack.
struct DirStack {
    DirEntry head;               ///< the sentinel of the ring; has no name
    unsigned print_flags = 0;    ///< DIRS_* bits of the running cd, pushd, popd or dirs
    bool print_pending = false;  ///< setting a new current directory lists the stack
    CharString home_value;       ///< the value of home the identity below was taken from
    bool home_known = false;     ///< home_device and home_inode hold home_value's identity
    dev_t home_device = 0;       ///< device of the home directory
    ino_t home_inode = 0;        ///< inode of the home directory
};

/// The one directory stack.
extern DirStack dir_stack;
/// The entry of the current directory.
extern DirEntry* current_dir;

/// Builds the stack with the current directory at start-up; home is the start-up value of home
/// (null when there is none). Ends the shell when not even / can be entered.
void dir_init(const CharString* home);
/// The canonical form of path, whose components from the one at start on are processed (a
/// relative path is joined to cwd and processed whole); start at the end processes nothing,
/// so that only the home rewrite applies. A relative path with no absolute cwd comes back as is.
CharString canonical_dir(CharString path, std::size_t start, HomeRewrite rewrite = HOME_REWRITE);
/// The canonical name of a directory just entered by name (relative to the current entry).
CharString dir_goto(const CharString& name);
/// Applies the home rewrite to every name of the stack after home changed; updates cwd and PWD.
void dir_rehome();
/// Makes entry current: sets cwd and PWD, and lists the stack when a listing is pending and
/// pushdsilent is not set.
void dir_set_current(DirEntry* entry);
/// Lists the stack on the output stream as print_flags say.
void dir_print();
/// The entry n steps below the current one for a word +n (n > 0); null for any other word.
/// Raises "Directory stack not that deep" when the stack is shorter.
DirEntry* dir_find(const CharString& word);
/// Gives up an entry that has left the ring: kept, unlinked, while jobs hold it; else freed.
void dir_free(DirEntry* entry);
/// Drops a job's reference to an entry; frees an entry that has left the stack when none is left.
void dir_release(DirEntry* entry);
/// Writes a directory name in visible form with a leading home shown as ~.
void tilde_form(const CharString& name, FILE* stream);

/// Reads the option words after the command word into print_flags ("Usage: %s [-lvn]%s" with
/// the suffix for another letter); returns the index of the first other word. A lone "-" is
/// passed over.
std::size_t dir_read_options(const WordVector& words, const char* usage_suffix);
/// Enters the directory a cd or pushd argument (after file-name generation) names and returns
/// its canonical name: the name itself (logically with ignore_symlinks), then along cdpath, then
/// the value of a shell variable of that name. Sets print_pending when the name was found by
/// either of the last two.
CharString dir_follow(const CharString& name);
/// Changes the process's directory to an entry's ("%s: %s" when the system refuses).
void dir_enter(const DirEntry* e);
/// cd: the entry found (already entered), or a new entry of a directory just entered, takes the
/// place of the current one.
void dir_replace_current(DirEntry* found);
void dir_replace_current(CharString name);
/// pushd alone: exchanges the top two entries ("No other directory").
void dir_exchange_top();
/// pushd dir: a new entry of a directory just entered goes on top.
void dir_push(CharString name);
/// popd: drops an entry, entering the one below when it was the current one ("Directory stack
/// empty" when it is the only one).
void dir_pop(DirEntry* gone);
