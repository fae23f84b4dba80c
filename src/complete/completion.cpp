#include "complete/completion.h"

#include <dirent.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <numeric>
#include <string_view>
#include <vector>

#include "core/descriptors.h"
#include "core/signal_mask.h"
#include "core/signals.h"
#include "vars/environment.h"
#include "vars/variables.h"

namespace {

constexpr Char ESCAPE = 27;
// Limits of the parts of a word. Nothing overflows past them (the strings grow as needed); a
// word beyond one of them simply matches nothing.
constexpr std::size_t NAME_LIMIT = 255;   // a name part, an extension, a listed name
constexpr std::size_t PATH_LIMIT = 1024;  // a directory part, as typed or expanded
constexpr std::size_t USER_LIMIT = 39;    // a user name after "~" in a directory part
constexpr std::size_t READ_LIMIT = 1024;  // bytes taken from the terminal at a time
constexpr int DEFAULT_WIDTH = 80;
// Times the terminal's waiting input is taken in while more keeps coming (see take_waiting_input).
constexpr int TAKE_ROUNDS = 8;
// What ends a line in canonical mode, as read outside it: newline, escape, and the 0 that stands
// for an end of file.
constexpr std::string_view LINE_ENDS("\n\x1b\0", 3);

// The names of the last listing; emptied at the next request and once printed.
WordVector listed_names;

}  // namespace

void (*completion_prompt)() = nullptr;

namespace {

// Input that comes before what the terminal still holds, in the order typed, but that is not in
// the terminal's queue: the system refused to take it back, or it came in with an escape. Read
// before the terminal; an interrupt while the terminal is read drops it with the driver's queue.
std::string held_input;

void release_listed_names() {
    SignalsBlocked held({SIGINT});  // the terminal is never left without echo
    WordVector().swap(listed_names);
}

// Makes escape a second end-of-line character of the input terminal (and its input canonical)
// for its lifetime. A descriptor that is no terminal is left alone.
class EscapeEndsLines {
  public:
    EscapeEndsLines() noexcept {
        struct termios t;
        if (tcgetattr(fds.shell_in, &t) != 0) return;
        terminal_ = true;
        t.c_cc[VEOL] = ESCAPE;
        if (t.c_lflag & ICANON) {
            tcsetattr(fds.shell_in, TCSADRAIN, &t);
        } else {
            t.c_lflag |= ICANON;
            tcsetattr(fds.shell_in, TCSAFLUSH, &t);
        }
    }
    // The disabled value of this system (not 255 here: that would end lines at a typed 0xff).
    ~EscapeEndsLines() {
        struct termios t;
        if (!terminal_ || tcgetattr(fds.shell_in, &t) != 0) return;
        t.c_cc[VEOL] = _POSIX_VDISABLE;
        tcsetattr(fds.shell_in, TCSADRAIN, &t);
    }
    EscapeEndsLines(const EscapeEndsLines&) = delete;
    EscapeEndsLines& operator=(const EscapeEndsLines&) = delete;
    bool terminal() const { return terminal_; }

  private:
    bool terminal_ = false;
};

}  // namespace

ssize_t terminal_read(char* bytes, std::size_t n) {
    for (;;) {
        wait_readable(fds.shell_in);
        ssize_t r = read(fds.shell_in, bytes, n);
        if (r >= 0) return r;
        if (errno == EINTR) {
            act_on_signals();
        } else if (errno == EAGAIN) {
            int off = 0;
            ioctl(fds.shell_in, FIONBIO, &off);
        } else {
            return r;
        }
    }
}

namespace {

// One line as the driver gives it in canonical mode, the held input first: its text up to and
// including its first line end (an end of file gives the text before it, maybe none), else all
// of it followed by what one read of the terminal gives. At most n bytes.
ssize_t read_line(char* bytes, std::size_t n) {
    std::size_t end = held_input.find_first_of(LINE_ENDS);
    std::size_t held = held_input.size();
    if (end == std::string::npos && held < n) {
        held_input.copy(bytes, held);
        held_input.clear();
        ssize_t r = terminal_read(bytes + held, n - held);
        return r < 0 ? r : static_cast<ssize_t>(held) + r;
    }
    std::size_t take = n;
    if (end != std::string::npos) take = std::min(n, end + (held_input[end] == '\0' ? 0 : 1));
    held_input.copy(bytes, take);
    bool end_of_file = take == end && held_input[end] == '\0';
    held_input.erase(0, take + (end_of_file ? 1 : 0));
    return static_cast<ssize_t>(take);
}

// Moves what the terminal has already received after a line ended by escape into the (empty)
// held input: the rest of a key's sequence comes in the same instant as its escape. A partial
// line can be read only outside canonical mode, which is left for a moment; what comes in
// meanwhile becomes a line of its own when the mode comes back, and is taken by another round.
void take_waiting_input() {
    struct termios canonical;
    if (tcgetattr(fds.shell_in, &canonical) != 0) return;
    struct termios raw = canonical;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    SignalsBlocked held({SIGINT});  // the terminal is never left without echo
    for (int round = 0; round < TAKE_ROUNDS; ++round) {
        if (tcsetattr(fds.shell_in, TCSANOW, &raw) != 0) return;
        char bytes[READ_LIMIT];
        ssize_t n;
        while ((n = read(fds.shell_in, bytes, sizeof bytes)) > 0) {
            held_input.append(bytes, static_cast<std::size_t>(n));
        }
        tcsetattr(fds.shell_in, TCSANOW, &canonical);
        pollfd p = {fds.shell_in, POLLIN, 0};
        if (poll(&p, 1, 0) != 1) return;
    }
}

// Puts the line, then the held input, back in front of what the terminal has not given yet:
// into the driver's queue, so that the user edits the line there (with echo the driver shows it
// again, after a reprinted prompt; without, it stays as shown), or into the held input where the
// system refuses to push characters. False then: the line can be added to but not edited.
bool give_back(const Char* line, bool echo) {
    std::string queue;
    for (; *line; ++line) queue += static_cast<char>(low_byte(*line));
    std::size_t line_size = queue.size();
    queue += held_input;
    held_input.clear();
    std::size_t pushed = 0;
    {
        SignalsBlocked held({SIGINT});  // the terminal is never left without echo
        struct termios saved;
        if (tcgetattr(fds.shell_out, &saved) == 0) {
            struct termios quiet = saved;
            quiet.c_lflag &=
                ~static_cast<tcflag_t>(ECHOKE | ECHOE | ECHOK | ECHO | ECHONL | ECHOPRT | ECHOCTL);
            if (echo) quiet.c_lflag |= ECHO;
            tcsetattr(fds.shell_out, TCSANOW, &quiet);
            for (; pushed < queue.size(); ++pushed) {
                if (echo && pushed == line_size) {  // what follows the line was shown as typed
                    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
                    tcsetattr(fds.shell_out, TCSANOW, &quiet);
                }
                // An end of file taken out of the driver's queue reads as a 0.
                char c =
                    queue[pushed] == '\0' ? static_cast<char>(saved.c_cc[VEOF]) : queue[pushed];
                if (ioctl(fds.shell_out, TIOCSTI, &c) != 0) break;
            }
            tcsetattr(fds.shell_out, TCSANOW, &saved);
        }
    }
    if (pushed == queue.size()) return true;
    // Taken back when refused part way, so that nothing typed later comes before the rest.
    if (pushed > 0) tcflush(fds.shell_out, TCIFLUSH);
    held_input = std::move(queue);
    return false;
}

// Shows a line as the driver's echo does (control characters as "^X"), for a line it does not
// hold.
void echo_line(const Char* line) {
    for (; *line; ++line) {
        unsigned char c = low_byte(*line);
        if ((c < ' ' && c != '\t' && c != '\n') || c == 0x7f) {
            std::fputc('^', output_stream);
            std::fputc(c ^ 0x40, output_stream);
        } else {
            std::fputc(c, output_stream);
        }
    }
    std::fflush(output_stream);
}

// Moves the cursor to column 1 without any newline translation of the terminal.
void back_to_column_one() {
    SignalsBlocked held({SIGINT});  // the terminal is never left without echo
    struct termios saved;
    if (tcgetattr(fds.shell_out, &saved) != 0) return;
    struct termios raw = saved;
    raw.c_iflag &= ~static_cast<tcflag_t>(INLCR);
    raw.c_oflag &= ~static_cast<tcflag_t>(ONLCR);
    tcsetattr(fds.shell_out, TCSADRAIN, &raw);
    [[maybe_unused]] ssize_t w = write(fds.shell_out, "\r", 1);
    tcsetattr(fds.shell_out, TCSADRAIN, &saved);
}

// The width of the output terminal; 80 when it cannot be told.
int current_terminal_width() {
    struct winsize w;
    if (ioctl(fds.shell_out, TIOCGWINSZ, &w) != 0 || w.ws_col == 0) return DEFAULT_WIDTH;
    return w.ws_col;
}

// The entries a word is completed from: a directory, or the user names of the password database.
class Candidates {
  public:
    /// Opens a directory ("." when empty); false when it cannot be opened.
    bool open_directory(const std::string& path) {
        dir_ = opendir(path.empty() ? "." : path.c_str());
        return dir_ != nullptr;
    }
    void open_users() {
        setpwent();
        users_ = true;
    }
    /// The next entry, null after the last.
    const char* next() {
        if (users_) {
            struct passwd* pw = getpwent();
            return pw ? pw->pw_name : nullptr;
        }
        struct dirent* e = dir_ ? readdir(dir_) : nullptr;
        return e ? e->d_name : nullptr;
    }
    void rewind() {
        if (users_) {
            setpwent();
        } else if (dir_) {
            rewinddir(dir_);
        }
    }
    void close() noexcept {
        if (users_) endpwent();
        if (dir_) closedir(dir_);
        users_ = false;
        dir_ = nullptr;
    }
    ~Candidates() { close(); }
    bool users() const { return users_; }

  private:
    DIR* dir_ = nullptr;
    bool users_ = false;
};

// Expands a leading "~" or "~user" of a directory part; false for an unknown user or a result
// past the limits.
bool expand_directory(const CharString& typed, std::string& expanded) {
    expanded = to_bytes(typed);
    if (expanded.empty() || expanded[0] != '~') return expanded.size() <= PATH_LIMIT;
    std::size_t slash = expanded.find('/');
    if (slash == std::string::npos) slash = expanded.size();
    std::string rest = expanded.substr(slash);
    if (slash == 1) {
        expanded = to_bytes(var_value("home"));
    } else {
        if (slash - 1 > USER_LIMIT) return false;
        std::string user = expanded.substr(1, slash - 1);
        struct passwd* pw = getpwnam(user.c_str());
        if (!pw) return false;
        expanded = pw->pw_dir;
    }
    expanded += rest;
    return expanded.size() <= PATH_LIMIT;
}

bool is_prefix_of(const CharString& prefix, const char* entry) {
    std::size_t i = 0;
    for (; i < prefix.size(); ++i) {
        if (entry[i] == '\0' || low_byte(prefix[i]) != static_cast<unsigned char>(entry[i])) {
            return false;
        }
    }
    return true;
}

// True when the entry ends with one of the words of fignore.
bool ignored_name(const char* entry, const WordVector* fignore) {
    if (!fignore) return false;
    std::size_t len = std::strlen(entry);
    for (const CharString& suffix : *fignore) {
        if (suffix.size() > len) continue;
        const char* tail = entry + len - suffix.size();
        if (is_prefix_of(suffix, tail)) return true;
    }
    return false;
}

// What one search collects.
struct Search {
    CharString name;  // the name part of the word
    CompletionRequest request = CompletionRequest::COMPLETE;
    bool ignoring = true;  // names matching fignore are passed over
    int ignored = 0;       // how many were
    CharString extension;  // completion: what all matches begin with
};

// One pass over the candidates; returns the number of matches.
int search_pass(Search& s, Candidates& from) {
    const WordVector* fignore =
        s.request == CompletionRequest::COMPLETE && s.ignoring ? var_lookup("fignore") : nullptr;
    int n = 0;
    while (const char* entry = from.next()) {
        if (!is_prefix_of(s.name, entry)) continue;
        if (s.name.empty() && entry[0] == '.' && !from.users()) continue;
        if (s.request == CompletionRequest::LIST) {
            if (listed_names.size() >= COMPLETION_LIST_MAX) {
                std::fprintf(diagnostic_stream, "\nYikes!! Too many %s!!\n",
                             from.users() ? "names in password file" : "files");
                std::fflush(diagnostic_stream);
                from.close();
                break;
            }
            listed_names.push_back(to_char_string(std::string_view(entry).substr(0, NAME_LIMIT)));
            ++n;
            continue;
        }
        if (s.ignoring && ignored_name(entry, fignore)) {
            ++s.ignored;
            continue;
        }
        if (++n == 1) {
            s.extension = to_char_string(std::string_view(entry).substr(0, NAME_LIMIT));
            continue;
        }
        std::size_t same = 0;
        while (same < s.extension.size() &&
               low_byte(s.extension[same]) == static_cast<unsigned char>(entry[same])) {
            ++same;
        }
        s.extension.resize(same);
        if (s.extension.size() <= s.name.size()) break;  // ambiguous at what was typed
    }
    return n;
}

// Sorts the names by the locale's collation and prints them in columns.
void print_listing(WordVector& names, const std::string& directory, CompletionNames kind) {
    std::vector<std::string> keys;
    keys.reserve(names.size());
    for (const CharString& name : names) keys.push_back(to_bytes(name));
    std::vector<std::size_t> order(keys.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return std::strcoll(keys[a].c_str(), keys[b].c_str()) < 0;
    });
    WordVector sorted;
    sorted.reserve(order.size());
    for (std::size_t i : order) sorted.push_back(std::move(names[i]));
    names = std::move(sorted);
    completion_print_columns(output_stream, names, directory, kind, current_terminal_width());
    std::fflush(output_stream);
}

// Blanks out the last `width` columns the driver echoed.
void erase_echo(std::size_t width) {
    std::string erase(width, '\b');
    erase.append(width, ' ');
    erase.append(width, '\b');
    std::fputs(erase.c_str(), output_stream);
    std::fflush(output_stream);
}

// Writes the echo of a completion over the "^[" the driver showed for the escape: the added
// characters, or blanks where there are fewer than two.
void show_added(const Char* added, std::size_t count) {
    std::fputs("\b\b", output_stream);
    if (count == 0) {
        std::fputs("  \b\b", output_stream);
    } else {
        std::fputs(to_visible(CharView(added, count)), output_stream);
        if (count == 1) std::fputs(" \b", output_stream);
    }
    std::fflush(output_stream);
}

}  // namespace

std::size_t completion_key_tail(std::string_view after) {
    auto in = [&](std::size_t i, char low, char high) {
        return i < after.size() && after[i] >= low && after[i] <= high;
    };
    if (after.starts_with('O')) return in(1, 0x40, 0x7e) ? 2 : 0;
    if (!after.starts_with('[')) return 0;
    std::size_t i = 1;
    while (in(i, 0x30, 0x3f)) ++i;  // parameters
    while (in(i, 0x20, 0x2f)) ++i;  // intermediates
    return in(i, 0x40, 0x7e) ? i + 1 : 0;
}

std::size_t completion_word_start(const Char* line, std::size_t end) {
    for (std::size_t i = end; i > 0; --i) {
        Char c = line[i - 1];
        if (c > 0 && c < 128 && std::strchr(COMPLETION_DELIMITERS, c)) return i;
    }
    return 0;
}

char completion_type_char(const std::string& path) {
    struct stat st;
    if (path.size() > PATH_LIMIT || lstat(path.c_str(), &st) != 0) return ' ';
    if (S_ISDIR(st.st_mode)) return '/';
    if (S_ISSOCK(st.st_mode)) return '=';
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        return stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode) ? '>' : '@';
    }
    if (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) return '*';
    return ' ';
}

void completion_print_columns(FILE* out, const WordVector& names, const std::string& directory,
                              CompletionNames kind, int width) {
    if (names.empty()) return;
    std::vector<std::string> shown;
    shown.reserve(names.size());
    std::size_t longest = 0;
    for (const CharString& name : names) {
        shown.emplace_back(to_visible(name));
        longest = std::max(longest, shown.back().size());
    }
    std::size_t column_width = longest + 2;
    std::size_t columns =
        std::max<std::size_t>(1, static_cast<std::size_t>(std::max(width, 0)) / column_width);
    std::size_t rows = (names.size() + columns - 1) / columns;
    std::string path;
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t k = 0; k < columns; ++k) {
            std::size_t i = k * rows + r;
            if (i >= names.size()) break;
            char type = ' ';
            if (kind == CompletionNames::FILES) {
                path = directory;
                path += to_byte_string(names[i]);
                type = completion_type_char(path);
            }
            std::fputs(shown[i].c_str(), out);
            std::fputc(type, out);
            if (k + 1 < columns) {
                for (std::size_t w = shown[i].size() + 1; w < column_width; ++w) {
                    std::fputc(' ', out);
                }
            }
        }
        std::fputs("\r\n", out);
    }
}

int completion_search(Char* word, CompletionRequest request, std::size_t room) {
    release_listed_names();
    CharView w(word, CharTraits::length(word));
    Search s;
    s.request = request;
    CharString typed_directory;
    std::string directory;
    Candidates from;
    if (!w.empty() && w[0] == '~' && w.find('/') == CharView::npos) {
        typed_directory = chars("~");
        s.name = CharString(w.substr(1));
        if (s.name.size() > NAME_LIMIT) return 0;
        from.open_users();
    } else {
        std::size_t slash = w.rfind('/');
        std::size_t split = slash == CharView::npos ? 0 : slash + 1;
        typed_directory = CharString(w.substr(0, split));
        s.name = CharString(w.substr(split));
        if (s.name.size() > NAME_LIMIT || typed_directory.size() > PATH_LIMIT) return 0;
        if (!expand_directory(typed_directory, directory)) return 0;
        if (!from.open_directory(directory)) return 0;
    }
    CompletionNames kind = from.users() ? CompletionNames::USERS : CompletionNames::FILES;
    int n = search_pass(s, from);
    if (n == 0 && s.ignoring && s.ignored > 0) {
        s.ignoring = false;
        from.rewind();
        n = search_pass(s, from);
    }
    from.close();
    if (n == 0) return 0;
    if (request == CompletionRequest::LIST) {
        print_listing(listed_names, directory, kind);
        release_listed_names();
        return 0;
    }
    std::size_t at = std::min(typed_directory.size(), room);
    std::copy_n(typed_directory.begin(), at, word);
    std::size_t more = std::min(s.extension.size(), room - at);
    std::copy_n(s.extension.begin(), more, word + at);
    word[at + more] = 0;
    return n;
}

int complete_line(Char* buffer, int size) {
    EscapeEndsLines terminal;
    char bytes[READ_LIMIT];
    std::size_t want = std::min<std::size_t>(READ_LIMIT, size > 0 ? size : 0);
    ssize_t count;
    while ((count = read_line(bytes, want)) > 0) {
        for (ssize_t i = 0; i < count; ++i) buffer[i] = static_cast<unsigned char>(bytes[i]);
        if (count == size || (buffer[count - 1] & 0x7f) == '\n') return static_cast<int>(count);
        // Pieces of a file or a pipe are no lines ending in escape or end of file.
        if (!terminal.terminal()) return static_cast<int>(count);
        CompletionRequest request =
            buffer[count - 1] == ESCAPE ? CompletionRequest::COMPLETE : CompletionRequest::LIST;
        std::size_t end = static_cast<std::size_t>(count);
        std::size_t key_tail = 0;
        if (request == CompletionRequest::COMPLETE) {
            --end;
            // The escape of a key's sequence asks for nothing: the sequence goes whole.
            if (held_input.empty()) take_waiting_input();
            key_tail = completion_key_tail(held_input);
            held_input.erase(0, key_tail);
        } else {
            std::fputc('\n', output_stream);
        }
        buffer[end] = 0;
        if (key_tail > 0) {
            erase_echo(2 + key_tail);  // "^[" and the rest
        } else {
            std::size_t start = completion_word_start(buffer, end);
            std::size_t room = static_cast<std::size_t>(size) - start - 1;
            int n = completion_search(buffer + start, request, room);
            if (request == CompletionRequest::COMPLETE) {
                std::size_t new_end = start + CharTraits::length(buffer + start);
                show_added(buffer + end, new_end > end ? new_end - end : 0);
                if (n != 1 && !var_lookup("nobeep")) {
                    [[maybe_unused]] ssize_t w = write(fds.shell_out, "\a", 1);
                }
            }
        }
        bool tab = false;
        for (const Char* p = buffer; *p; ++p) tab = tab || *p == '\t';
        if (tab) back_to_column_one();
        // The driver here does not reprint pending input on request, so a line shown again
        // after the prompt is echoed as it goes back into the queue.
        bool show = tab || request == CompletionRequest::LIST;
        if (show && completion_prompt) completion_prompt();
        if (!give_back(buffer, show) && show) echo_line(buffer);
    }
    return static_cast<int>(count);
}

// ---- Completion for the line editor ------------------------------------------------------------

void (*completion_builtin_names)(WordVector& out) = nullptr;

namespace {

bool starts_with(const CharString& name, std::string_view prefix) {
    if (name.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (low_byte(name[i]) != static_cast<unsigned char>(prefix[i])) return false;
    }
    return true;
}

void sort_unique(WordVector& names) {
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
}

// The entries of a directory or of the password database that begin with prefix; names of a
// directory beginning with "." only for a prefix that does too. fignore as for filec.
WordVector entries_matching(Candidates& from, const std::string& prefix) {
    const WordVector* fignore = from.users() ? nullptr : var_lookup("fignore");
    WordVector names, ignored;
    CharString wide = to_char_string(prefix);
    while (const char* entry = from.next()) {
        if (!is_prefix_of(wide, entry)) continue;
        if (prefix.empty() && entry[0] == '.' && !from.users()) continue;
        (ignored_name(entry, fignore) ? ignored : names).push_back(to_char_string(entry));
    }
    return names.empty() ? ignored : names;
}

// Programs along path whose names begin with prefix: executable files that are no directory.
void programs_matching(const std::string& prefix, WordVector& out) {
    const WordVector* path = var_lookup("path");
    if (!path) return;
    CharString wide = to_char_string(prefix);
    for (const CharString& dir_word : *path) {
        std::string dir = to_bytes(dir_word);
        Candidates from;
        if (!from.open_directory(dir)) continue;
        if (!dir.empty() && dir.back() != '/') dir += '/';
        while (const char* entry = from.next()) {
            if (!is_prefix_of(wide, entry) || entry[0] == '.') continue;
            struct stat st;
            std::string file = dir + entry;
            if (stat(file.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) &&
                (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH))) {
                out.push_back(to_char_string(entry));
            }
        }
    }
}

}  // namespace

WordVector completion_matches(const CompletionWord& word) {
    WordVector names;
    switch (word.kind) {
        case CompletionKind::COMMAND: {
            WordVector all;
            if (completion_builtin_names) completion_builtin_names(all);
            for (const auto& [name, value] : aliases) all.push_back(name);
            for (CharString& name : all) {
                if (starts_with(name, word.prefix)) names.push_back(std::move(name));
            }
            programs_matching(word.prefix, names);
            break;
        }
        case CompletionKind::VARIABLE:
            for (const auto& [name, value] : shell_variables) {
                if (starts_with(name, word.prefix)) names.push_back(name);
            }
            for (const CharString& entry : env_words) {
                CharString name = entry.substr(0, entry.find('='));
                if (starts_with(name, word.prefix)) names.push_back(std::move(name));
            }
            break;
        case CompletionKind::USER: {
            Candidates from;
            from.open_users();
            names = entries_matching(from, word.prefix);
            break;
        }
        case CompletionKind::FILE_NAME: {
            std::string directory;
            Candidates from;
            if (!expand_directory(to_char_string(word.directory), directory) ||
                !from.open_directory(directory)) {
                return names;
            }
            names = entries_matching(from, word.prefix);
            break;
        }
    }
    sort_unique(names);
    return names;
}

bool completion_match_is_directory(const CompletionWord& word, const CharString& name) {
    std::string path;
    if (word.kind == CompletionKind::USER) {
        struct passwd* pw = getpwnam(to_byte_string(name));
        if (!pw) return false;
        path = pw->pw_dir;
    } else if (word.kind == CompletionKind::FILE_NAME) {
        if (!expand_directory(to_char_string(word.directory), path)) return false;
        path += to_bytes(name);
    } else {
        return false;
    }
    struct stat st;
    return stat(path.empty() ? "." : path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void completion_list(const CompletionWord& word, WordVector names) {
    if (names.size() > COMPLETION_LIST_MAX) {
        std::fprintf(diagnostic_stream, "Yikes!! Too many %s!!\n",
                     word.kind == CompletionKind::USER ? "names in password file" : "files");
        std::fflush(diagnostic_stream);
        names.resize(COMPLETION_LIST_MAX);
    }
    std::string directory;
    CompletionNames kind = CompletionNames::OTHER;
    if (word.kind == CompletionKind::FILE_NAME) {
        kind = CompletionNames::FILES;
        if (!expand_directory(to_char_string(word.directory), directory)) directory.clear();
    } else if (word.kind == CompletionKind::USER) {
        kind = CompletionNames::USERS;
    }
    print_listing(names, directory, kind);
}
