#include "complete/line_editor.h"

#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "complete/completion.h"
#include "complete/edit_line.h"
#include "complete/keys.h"
#include "complete/text_display.h"
#include "core/descriptors.h"
#include "core/shell.h"
#include "core/signal_mask.h"
#include "core/signals.h"
#include "input/history.h"
#include "vars/variables.h"

namespace {

// How long the rest of a key's sequence may take to follow its escape. Terminals send a
// sequence at once; a remote one may split it, so the wait is not made shorter than this.
constexpr int KEY_TIMEOUT_MS = 100;
constexpr int DEFAULT_COLUMNS = 80;

std::string noted_prompt;
// The rest of a line longer than the caller's buffer, given out by the next calls.
std::string pending_line;
// The modes of the user's programs: those of the last line that found the terminal canonical.
struct termios user_modes;
bool have_user_modes = false;
bool window_handler_installed = false;

constexpr unsigned char control(char c) {
    return static_cast<unsigned char>(c & 0x1f);
}

// The modes given to programs when those found are no use (a raw terminal at the first line).
void make_sane(struct termios& t) {
    t.c_lflag |= ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN;
    t.c_iflag |= ICRNL;
    t.c_oflag |= OPOST | ONLCR;
}

// Puts the terminal in the editor's modes, noting first the user's modes when it is canonical.
bool enter_editor_modes() {
    struct termios now;
    if (tcgetattr(fds.shell_in, &now) != 0) return false;
    if (now.c_lflag & ICANON) {
        user_modes = now;
        have_user_modes = true;
    } else if (!have_user_modes) {
        user_modes = now;
        make_sane(user_modes);
        have_user_modes = true;
    }
    struct termios raw = user_modes;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    raw.c_lflag |= ISIG;
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
    // Reads return at once: the editor waits in ppoll, where signals wake it (see read_byte).
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    return tcsetattr(fds.shell_in, TCSADRAIN, &raw) == 0;
}

// Set before the prompt was printed, for the line the editor reads next.
bool modes_set_early = false;

// The editor's terminal modes for its lifetime; the user's modes after.
class EditorModes {
  public:
    EditorModes() noexcept {
        set_ = modes_set_early || enter_editor_modes();
        modes_set_early = false;
    }
    ~EditorModes() {
        if (set_) tcsetattr(fds.shell_in, TCSADRAIN, &user_modes);
    }
    EditorModes(const EditorModes&) = delete;
    EditorModes& operator=(const EditorModes&) = delete;

  private:
    bool set_ = false;
};

// The history walk and the incremental search.
struct HistoryWalk {
    std::vector<std::string> events;  // newest first; read at the first use in a line
    bool loaded = false;
    int event = -1;     // the event shown; -1 the line being typed
    std::string typed;  // the line being typed, kept while events are shown
};

struct Search {
    bool on = false;
    bool backward = true;
    bool failed = false;
    std::string text;
    int start_event = -1;
    EditLine saved;
    int saved_event = -1;
};

// One line being edited and what the screen shows of it.
struct Session {
    EditLine line;
    std::string prompt_head;  // the prompt up to its last newline (printed whole on a redraw)
    std::string prompt;       // the rest, on the row where the line begins
    int columns = DEFAULT_COLUMNS;
    ScreenPos cursor;   // where the terminal's cursor is, from the start of the prompt's last row
    std::string out;    // what to write to the terminal next
    std::string bytes;  // a key read in part
    HistoryWalk history;
    Search search;
    bool tab_again = false;     // the last key was a Tab that left the word ambiguous
    bool escape_again = false;  // the last key was a lone escape, which completes no word alone
    bool waiting = false;       // the editor waits in act_on_signals: output may come
    bool cleared = false;       // the line was taken off the screen for output
};

Session* active = nullptr;  // the line being edited, for line_editor_clear
std::string last_killed;    // what ^Y gives back, kept from one line to the next

void flush(Session& s) {
    if (s.out.empty()) return;
    std::fflush(output_stream);
    write_fully(fds.shell_out, s.out.data(), s.out.size());
    s.out.clear();
}

void bell(Session& s) {
    if (!var_lookup("nobeep")) s.out += '\a';
}

int terminal_columns() {
    struct winsize w;
    if (ioctl(fds.shell_out, TIOCGWINSZ, &w) != 0 || w.ws_col == 0) return DEFAULT_COLUMNS;
    return w.ws_col;
}

void csi(std::string& out, int n, char final) {
    out += "\x1b[";
    if (n != 1) out += std::to_string(n);
    out += final;
}

// Moves the terminal's cursor between two places of the edited rows.
void move_cursor(std::string& out, ScreenPos from, ScreenPos to) {
    if (to.row < from.row) csi(out, from.row - to.row, 'A');
    if (to.row > from.row) csi(out, to.row - from.row, 'B');
    if (to.col == 0 && from.col != 0) {
        out += '\r';
    } else if (to.col < from.col) {
        csi(out, from.col - to.col, 'D');
    } else if (to.col > from.col) {
        csi(out, to.col - from.col, 'C');
    }
}

const std::string& shown_prompt(const Session& s, std::string& search_prompt) {
    if (!s.search.on) return s.prompt;
    search_prompt = s.search.failed ? "(failed " : "(";
    search_prompt += s.search.backward ? "reverse-i-search)'" : "i-search)'";
    search_prompt += s.search.text;
    search_prompt += "': ";
    return search_prompt;
}

// Where the line begins: after the prompt shown.
ScreenPos line_start(const Session& s, const std::string& prompt) {
    ScreenPos p;
    int width = prompt_width(prompt, s.line.utf8);
    for (int i = 0; i < width; ++i) p = screen_advance(p, 1, s.columns);
    return p;
}

ScreenPos place_of(const Session& s, ScreenPos start, std::size_t offset) {
    return screen_end(start, s.line.text, offset, s.line.utf8, s.columns);
}

// Writes the prompt's last row and the line again, from the start of that row.
void redraw(Session& s) {
    std::string search_prompt;
    const std::string& prompt = shown_prompt(s, search_prompt);
    move_cursor(s.out, s.cursor, ScreenPos{});
    s.out += prompt;
    ScreenPos start = line_start(s, prompt);
    ScreenPos p = start;
    for (std::size_t i = 0; i < s.line.text.size();) {
        TextCell cell = text_cell(s.line.text, i, s.line.utf8);
        s.out += cell.shown;
        p = screen_advance(p, cell, s.columns);
        i += cell.length;
    }
    // A row filled to its last column leaves the cursor there until the next character: it is
    // moved to the next row, where it is taken to be.
    if (p.col == 0 && p.row > 0) s.out += "\r\n";
    s.out += "\x1b[J";
    s.cursor = place_of(s, start, s.line.cursor);
    move_cursor(s.out, p, s.cursor);
}

// Prints the whole prompt on the row where the cursor is, then the line.
void redraw_with_prompt(Session& s) {
    for (char c : s.prompt_head) {
        if (c == '\n') s.out += '\r';
        s.out += c;
    }
    s.cursor = ScreenPos{};
    redraw(s);
}

// Moves the cursor to the end of the line, shown after it has moved.
void move_to_end(Session& s) {
    std::string search_prompt;
    ScreenPos end = place_of(s, line_start(s, shown_prompt(s, search_prompt)), s.line.text.size());
    move_cursor(s.out, s.cursor, end);
    s.cursor = end;
}

// Shows a move of the cursor in an unchanged line.
void show_cursor(Session& s) {
    std::string search_prompt;
    ScreenPos to = place_of(s, line_start(s, shown_prompt(s, search_prompt)), s.line.cursor);
    move_cursor(s.out, s.cursor, to);
    s.cursor = to;
}

// Inserts a typed character; at the end of the line it is only written.
void insert(Session& s, std::string_view bytes) {
    bool at_end = s.line.cursor == s.line.text.size() && !s.search.on;
    edit_insert(s.line, bytes);
    if (!at_end) {
        redraw(s);
        return;
    }
    std::size_t at = s.line.text.size() - bytes.size();
    TextCell cell = text_cell(s.line.text, at, s.line.utf8);
    if (cell.length != bytes.size()) {
        redraw(s);  // a mark that joins the character before it, or a sequence made whole
        return;
    }
    s.out += cell.shown;
    ScreenPos after = screen_advance(s.cursor, cell, s.columns);
    if (after.row > s.cursor.row && after.col == 0) s.out += "\r\n";
    s.cursor = after;
}

void follow_window(Session& s) {
    signal_records.window = 0;
    int columns = terminal_columns();
    if (columns == s.columns) return;
    // The rows above were laid out for the old width; the cursor goes back to where the prompt
    // began by that reckoning, and everything is drawn again for the new one.
    move_cursor(s.out, s.cursor, ScreenPos{});
    s.cursor = ScreenPos{};
    s.columns = columns;
    redraw(s);
}

// Acts on what the signals recorded while the editor waited for a key. An interrupt unwinds
// from here: the cursor is put after the line first, for the new prompt to come below it.
void act_on_records(Session& s) {
    if (signal_records.window) follow_window(s);
    sigset_t mask = mask_now();
    if (signal_records.interrupt && !sigismember(&mask, SIGINT)) {
        move_to_end(s);
        if ((user_modes.c_lflag & (ECHO | ECHOCTL)) == (ECHO | ECHOCTL)) s.out += "^C";
    }
    flush(s);
    s.waiting = true;
    act_on_signals();
    s.waiting = false;
    if (s.cleared) {
        s.cleared = false;
        std::fflush(output_stream);
        redraw(s);
    }
    flush(s);
}

enum class ReadResult { KEY, END, ERROR };

enum class ByteRead { BYTE, NONE, END, ERROR };

// Reads a byte after a wait saw input. An interrupt typed meanwhile flushes the terminal's input,
// so the read must not block (the editor's modes make it return at once): a blocking read would
// keep the interrupt recorded but unseen until the next key. Nothing to read is the end of the
// input only when the terminal has hung up.
ByteRead read_byte(char& c) {
    ssize_t n = read(fds.shell_in, &c, 1);
    if (n == 1) return ByteRead::BYTE;
    if (n == 0) {
        struct pollfd p {
            fds.shell_in, POLLIN, 0
        };
        return poll(&p, 1, 0) == 1 && (p.revents & POLLHUP) ? ByteRead::END : ByteRead::NONE;
    }
    if (errno == EAGAIN) {
        // Someone left the terminal non-blocking: the editor waits in ppoll, not in read.
        int off = 0;
        ioctl(fds.shell_in, FIONBIO, &off);
        return ByteRead::NONE;
    }
    return errno == EINTR ? ByteRead::NONE : ByteRead::ERROR;
}

// Reads the next key, waiting for the rest of a sequence no longer than KEY_TIMEOUT_MS.
ReadResult read_key(Session& s, KeyPress& key, std::string& raw) {
    for (;;) {
        if (!s.bytes.empty()) {
            key = decode_key(s.bytes, s.line.utf8, false);
            if (key.length > 0) break;
        }
        flush(s);
        InputWait w = wait_input(fds.shell_in, s.bytes.empty() ? -1 : KEY_TIMEOUT_MS, true);
        if (w == InputWait::TIMED_OUT) {
            key = decode_key(s.bytes, s.line.utf8, true);
            break;
        }
        if (w == InputWait::SIGNALED) {
            act_on_records(s);
            continue;
        }
        char c;
        ByteRead r = read_byte(c);
        if (r == ByteRead::BYTE) s.bytes += c;
        if (r == ByteRead::END) return ReadResult::END;
        if (r == ByteRead::ERROR) return ReadResult::ERROR;
    }
    raw.assign(s.bytes, 0, key.length);
    s.bytes.erase(0, key.length);
    return ReadResult::KEY;
}

// ---- History ------------------------------------------------------------------------------

void load_events(Session& s) {
    if (s.history.loaded) return;
    s.history.events = history_lines();
    s.history.loaded = true;
}

void show_event(Session& s, int event) {
    HistoryWalk& h = s.history;
    if (h.event == -1) h.typed = s.line.text;
    h.event = event;
    edit_set_text(s.line, event == -1 ? h.typed : h.events[static_cast<std::size_t>(event)]);
    redraw(s);
}

void walk_history(Session& s, int step) {
    load_events(s);
    int to = s.history.event + step;
    if (to < -1 || to >= static_cast<int>(s.history.events.size())) {
        bell(s);
        return;
    }
    show_event(s, to);
}

// Looks for the search text from event `from` on in the search's direction.
bool search_from(Session& s, int from) {
    const std::vector<std::string>& events = s.history.events;
    int step = s.search.backward ? 1 : -1;
    // Nothing is newer than the line being typed.
    if (from < 0) from = s.search.backward ? 0 : static_cast<int>(events.size());
    for (int i = from; i >= 0 && i < static_cast<int>(events.size()); i += step) {
        std::size_t at = events[static_cast<std::size_t>(i)].find(s.search.text);
        if (at == std::string::npos) continue;
        if (i != s.history.event) show_event(s, i);
        s.line.cursor = at;
        s.search.failed = false;
        return true;
    }
    s.search.failed = true;
    bell(s);
    return false;
}

void start_search(Session& s, bool backward) {
    load_events(s);
    Search& f = s.search;
    if (f.on) {
        // Again: the next match in the direction asked.
        f.backward = backward;
        if (!f.text.empty()) search_from(s, s.history.event + (backward ? 1 : -1));
        redraw(s);
        return;
    }
    f = Search{};
    f.on = true;
    f.backward = backward;
    f.start_event = s.history.event;
    f.saved = s.line;
    f.saved_event = s.history.event;
    redraw(s);
}

// A key typed while searching; false when it ends the search and is to act as usual.
bool search_key(Session& s, const KeyPress& key, const std::string& raw) {
    Search& f = s.search;
    if (key.key == Key::CHAR) {
        f.text += raw;
        search_from(s, s.history.event);
    } else if (key.key == Key::CONTROL && (key.byte == 0x7f || key.byte == control('H'))) {
        if (!f.text.empty()) {
            f.text.erase(text_previous(f.text, f.text.size(), s.line.utf8));
            f.failed = false;
            if (!f.text.empty()) search_from(s, f.start_event);
        }
    } else if (key.key == Key::CONTROL && (key.byte == control('R') || key.byte == control('S'))) {
        start_search(s, key.byte == control('R'));
        return true;
    } else if (key.key == Key::CONTROL && key.byte == control('G')) {
        f.on = false;
        int event = f.saved_event;
        if (event != s.history.event) show_event(s, event);
        s.line = f.saved;
    } else {
        f.on = false;
        redraw(s);
        return key.key == Key::ESCAPE;  // escape only ends the search
    }
    redraw(s);
    return true;
}

// ---- Completion ---------------------------------------------------------------------------

void replace_word(Session& s, const CompletionWord& w, const std::string& text) {
    s.line.text.replace(w.replace_from, s.line.cursor - w.replace_from, text);
    s.line.cursor = w.replace_from + text.size();
    s.line.killing = false;
    redraw(s);
}

void list_choices(Session& s, const CompletionWord& w, WordVector names) {
    move_to_end(s);
    s.out += "\r\n";
    flush(s);
    completion_list(w, std::move(names));
    std::fflush(output_stream);
    redraw_with_prompt(s);
}

void complete(Session& s, bool list) {
    CompletionWord w = completion_word_at(s.line.text, s.line.cursor);
    WordVector names = completion_matches(w);
    bool again = std::exchange(s.tab_again, false);
    if (names.empty()) {
        bell(s);
        return;
    }
    if (list || again) {
        list_choices(s, w, std::move(names));
        return;
    }
    bool word_start = w.directory.empty() && w.quote == 0;
    bool variable = w.kind == CompletionKind::VARIABLE;
    bool plain = variable || w.kind == CompletionKind::USER;
    auto quote = [&](const std::string& name) {
        return plain ? name : completion_quote(name, w.quote, word_start);
    };
    if (names.size() == 1) {
        std::string name = to_bytes(names[0]);
        std::string text = quote(name);
        if (completion_match_is_directory(w, names[0])) {
            text += '/';
        } else {
            if (w.braced) text += '}';
            // A variable inside quotes leaves them open: the word may go on.
            if (!(variable && w.quote)) {
                if (w.quote) text += w.quote;
                text += ' ';
            }
        }
        replace_word(s, w, text);
        return;
    }
    std::string prefix = completion_common_prefix(names, s.line.utf8);
    if (prefix.size() > w.prefix.size()) replace_word(s, w, quote(prefix));
    bell(s);
    s.tab_again = true;
}

// ---- Keys ---------------------------------------------------------------------------------

enum class Outcome { GO_ON, LINE, END };

// What a key does.
enum class Command : std::uint8_t {
    NONE,
    BELL,
    INSERT,       // the key's character
    LITERAL,      // the next key's byte
    MOVE,         // op moves the cursor
    EDIT,         // op changes the line
    PREVIOUS,     // the previous event
    NEXT,         // the next event
    SEARCH_BACK,  // incremental search backwards
    SEARCH_FORWARD,
    COMPLETE,
    FILEC_COMPLETE,  // a lone escape completes with filec set
    DELETE_OR_LIST,  // ^D: end of input on an empty line, a listing at the end of one
    CLEAR_SCREEN,
    ENTER,
};

struct Binding {
    Command command = Command::NONE;
    EditOp op = EditOp::LEFT;
};

constexpr Binding move(EditOp op) {
    return Binding{Command::MOVE, op};
}
constexpr Binding edit(EditOp op) {
    return Binding{Command::EDIT, op};
}
constexpr Binding does(Command c) {
    return Binding{c, EditOp::LEFT};
}

// The control characters, by their code.
constexpr Binding CONTROL_KEYS[32] = {
    does(Command::BELL),            // ^@
    move(EditOp::HOME),             // ^A
    move(EditOp::LEFT),             // ^B
    does(Command::BELL),            // ^C (an interrupt while signals are on)
    does(Command::DELETE_OR_LIST),  // ^D
    move(EditOp::END),              // ^E
    move(EditOp::RIGHT),            // ^F
    does(Command::BELL),            // ^G
    edit(EditOp::BACKSPACE),        // ^H
    does(Command::COMPLETE),        // ^I, Tab
    does(Command::ENTER),           // ^J
    edit(EditOp::KILL_TO_END),      // ^K
    does(Command::CLEAR_SCREEN),    // ^L
    does(Command::ENTER),           // ^M
    does(Command::NEXT),            // ^N
    does(Command::BELL),            // ^O
    does(Command::PREVIOUS),        // ^P
    does(Command::BELL),            // ^Q
    does(Command::SEARCH_BACK),     // ^R
    does(Command::SEARCH_FORWARD),  // ^S
    edit(EditOp::TRANSPOSE),        // ^T
    edit(EditOp::KILL_LINE),        // ^U
    does(Command::LITERAL),         // ^V
    edit(EditOp::KILL_TO_BLANK),    // ^W
    does(Command::BELL),            // ^X
    edit(EditOp::YANK),             // ^Y
    does(Command::BELL),            // ^Z
    does(Command::BELL),            // ^[ (decoded as escape, never here)
    does(Command::BELL),            // ^\ (an interrupt while signals are on)
    does(Command::BELL),            // ^]
    does(Command::BELL),            // ^^
    does(Command::BELL),            // ^_
};

// The other keys, in the order of Key.
constexpr Binding KEY_BINDINGS[] = {
    does(Command::NONE),            // NONE
    does(Command::INSERT),          // CHAR
    does(Command::BELL),            // CONTROL (CONTROL_KEYS)
    does(Command::BELL),            // ALT (below)
    does(Command::FILEC_COMPLETE),  // ESCAPE
    does(Command::PREVIOUS),        // UP
    does(Command::NEXT),            // DOWN
    move(EditOp::LEFT),             // LEFT
    move(EditOp::RIGHT),            // RIGHT
    move(EditOp::WORD_LEFT),        // WORD_LEFT
    move(EditOp::WORD_RIGHT),       // WORD_RIGHT
    move(EditOp::HOME),             // HOME
    move(EditOp::END),              // END
    edit(EditOp::DELETE),           // DELETE
};
static_assert(std::size(KEY_BINDINGS) == static_cast<std::size_t>(Key::DELETE) + 1);

Binding binding_of(const KeyPress& key) {
    switch (key.key) {
        case Key::CONTROL:
            if (key.byte == 0x7f || (key.byte != 0 && key.byte == user_modes.c_cc[VERASE])) {
                return edit(EditOp::BACKSPACE);
            }
            return key.byte < 32 ? CONTROL_KEYS[key.byte] : does(Command::BELL);
        case Key::ALT:
            switch (key.byte) {
                case 'b':
                    return move(EditOp::WORD_LEFT);
                case 'f':
                    return move(EditOp::WORD_RIGHT);
                case 'd':
                    return edit(EditOp::KILL_WORD_FORWARD);
                case 0x7f:
                case control('H'):
                    return edit(EditOp::KILL_WORD_BACK);
                case 0x1b:
                    return does(Command::COMPLETE);
                default:
                    return does(Command::BELL);
            }
        default:
            return KEY_BINDINGS[static_cast<std::size_t>(key.key)];
    }
    return does(Command::NONE);
}

bool is_kill(const Binding& b) {
    return b.command == Command::EDIT &&
           (b.op == EditOp::KILL_TO_END || b.op == EditOp::KILL_LINE ||
            b.op == EditOp::KILL_TO_BLANK || b.op == EditOp::KILL_WORD_BACK ||
            b.op == EditOp::KILL_WORD_FORWARD);
}

// The next key typed, inserted as it is (^V).
void insert_literally(Session& s) {
    for (;;) {
        flush(s);
        InputWait w = wait_input(fds.shell_in, -1, true);
        if (w == InputWait::SIGNALED) {
            act_on_records(s);
            continue;
        }
        char c;
        ByteRead r = read_byte(c);
        if (r == ByteRead::BYTE) insert(s, std::string_view(&c, 1));
        if (r != ByteRead::NONE) return;
    }
}

Outcome act_on_key(Session& s, const KeyPress& key, const std::string& raw) {
    if (s.search.on && search_key(s, key, raw)) return Outcome::GO_ON;
    Binding b = binding_of(key);
    if (b.command != Command::COMPLETE) s.tab_again = false;
    bool escape_before = s.escape_again;
    s.escape_again = false;
    if (!is_kill(b)) s.line.killing = false;
    EditLine& l = s.line;
    switch (b.command) {
        case Command::NONE:
            break;
        case Command::BELL:
            bell(s);
            break;
        case Command::INSERT:
            insert(s, raw);
            break;
        case Command::LITERAL:
            insert_literally(s);
            break;
        case Command::MOVE:
            if (edit_apply(l, b.op)) show_cursor(s);
            break;
        case Command::EDIT:
            if (edit_apply(l, b.op)) redraw(s);
            break;
        case Command::PREVIOUS:
            walk_history(s, 1);
            break;
        case Command::NEXT:
            walk_history(s, -1);
            break;
        case Command::SEARCH_BACK:
        case Command::SEARCH_FORWARD:
            start_search(s, b.command == Command::SEARCH_BACK);
            break;
        case Command::FILEC_COMPLETE:
            // Without filec a second lone escape completes, however long after the first.
            if (!filec_enabled && !escape_before) {
                s.escape_again = true;
                break;
            }
            [[fallthrough]];
        case Command::COMPLETE:
            complete(s, false);
            break;
        case Command::DELETE_OR_LIST:
            if (l.text.empty()) return Outcome::END;
            if (l.cursor == l.text.size()) {
                complete(s, true);
            } else if (edit_apply(l, EditOp::DELETE)) {
                redraw(s);
            }
            break;
        case Command::CLEAR_SCREEN:
            s.out += "\x1b[H\x1b[2J";
            redraw_with_prompt(s);
            break;
        case Command::ENTER:
            return Outcome::LINE;
    }
    return Outcome::GO_ON;
}

bool locale_is_utf8() {
    const char* codeset = nl_langinfo(CODESET);
    return codeset && std::strcmp(codeset, "UTF-8") == 0;
}

// Gives out the line (or what is left of it) as the input layer takes it.
int give_line(Char* buffer, int size) {
    std::size_t n = std::min(pending_line.size(), static_cast<std::size_t>(std::max(size, 0)));
    for (std::size_t i = 0; i < n; ++i) buffer[i] = static_cast<unsigned char>(pending_line[i]);
    pending_line.erase(0, n);
    return static_cast<int>(n);
}

// Makes the line the active one, with the text the last line killed; on every way out clears
// `active` and keeps what this line killed for the next.
class ActiveSession {
  public:
    explicit ActiveSession(Session& s) noexcept {
        active = &s;
        s.line.killed = std::move(last_killed);
    }
    ~ActiveSession() {
        last_killed = std::move(active->line.killed);
        active = nullptr;
    }
    ActiveSession(const ActiveSession&) = delete;
    ActiveSession& operator=(const ActiveSession&) = delete;
};

bool editor_reads_lines() {
    return edit_enabled && shell.interactive && isatty(fds.shell_in) && isatty(fds.shell_out);
}

int edit_line(Char* buffer, int size) {
    if (!window_handler_installed) {
        install_window_handler();
        window_handler_installed = true;
    }
    Session s;
    s.line.utf8 = locale_is_utf8();
    s.columns = terminal_columns();
    std::size_t newline = noted_prompt.rfind('\n');
    std::size_t tail = newline == std::string::npos ? 0 : newline + 1;
    s.prompt_head = noted_prompt.substr(0, tail);
    s.prompt = noted_prompt.substr(tail);
    noted_prompt.clear();
    EditorModes modes;
    ActiveSession is_active(s);
    s.cursor = line_start(s, s.prompt);
    if (s.cursor.col == 0 && s.cursor.row > 0) s.out += "\r\n";
    KeyPress key;
    std::string raw;
    for (;;) {
        ReadResult r = read_key(s, key, raw);
        if (r == ReadResult::END) return 0;
        if (r == ReadResult::ERROR) return -1;
        Outcome o = act_on_key(s, key, raw);
        if (o == Outcome::END) {
            flush(s);
            return 0;
        }
        if (o == Outcome::LINE) break;
    }
    if (s.search.on) {
        s.search.on = false;
        redraw(s);
    }
    move_to_end(s);
    s.out += "\r\n";
    flush(s);
    pending_line = std::move(s.line.text);
    pending_line += '\n';
    return give_line(buffer, size);
}

}  // namespace

void line_editor_note_prompt(std::string_view prompt) {
    noted_prompt.assign(prompt);
}

bool line_editor_clear() {
    if (!active || !active->waiting) return false;
    Session& s = *active;
    move_cursor(s.out, s.cursor, ScreenPos{});
    s.out += "\x1b[J";
    s.cursor = ScreenPos{};
    s.cleared = true;
    flush(s);
    return true;
}

void line_editor_before_prompt() {
    if (pending_line.empty() && !modes_set_early && editor_reads_lines()) {
        modes_set_early = enter_editor_modes();
    }
}

int read_terminal_line(Char* buffer, int size) {
    if (!pending_line.empty()) return give_line(buffer, size);
    if (editor_reads_lines()) return edit_line(buffer, size);
    if (filec_enabled) return complete_line(buffer, size);
    std::size_t want = static_cast<std::size_t>(std::max(size, 0));
    std::string bytes(want, '\0');
    ssize_t n = terminal_read(bytes.data(), want);
    for (ssize_t i = 0; i < n; ++i) buffer[i] = static_cast<unsigned char>(bytes[i]);
    return static_cast<int>(n);
}
