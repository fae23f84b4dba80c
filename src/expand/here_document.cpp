#include "expand/here_document.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "exec/reentry.h"
#include "expand/substitute.h"
#include "input/input_buffer.h"
#include "vars/variables.h"

namespace {

constexpr std::size_t LINE_ROOM = 1020;         // characters of a line as read
constexpr std::size_t SUBSTITUTED_ROOM = 1019;  // characters of a line after substitution
constexpr std::size_t OUTPUT_BLOCK = 1024;      // bytes written to the file at a time
constexpr const char* HERE_DIR = "/tmp";        // where the documents' files live

// The document's bytes on their way to descriptor 0, written a block at a time.
class HereOutput {
  public:
    void put(Char c) {
        if (used_ == block_.size()) flush();
        block_[used_++] = static_cast<char>(low_byte(c));
    }
    void put_line(const CharString& line) {
        for (std::size_t at = 0; at < line.size();) {
            if (used_ == block_.size()) flush();
            std::size_t n = std::min(block_.size() - used_, line.size() - at);
            char* to = block_.data() + used_;
            const Char* from = line.data() + at;
            for (std::size_t i = 0; i < n; ++i) to[i] = static_cast<char>(low_byte(from[i]));
            used_ += n;
            at += n;
        }
        put('\n');
    }
    // A failed write leaves the document short, as a full disk does for any other file.
    void flush() {
        write_fully(0, block_.data(), used_);
        used_ = 0;
    }

  private:
    std::array<char, OUTPUT_BLOCK> block_{};
    std::size_t used_ = 0;
};

[[noreturn]] void line_overflow() {
    errors.error_name = "<<";
    error_raise(ERR_LINE_OVERFLOW | ERRF_NAME);
}

// Creates the document's file on descriptor 0. The file never has a name another process could
// open, remove or put in its place: O_TMPFILE, or where the file system lacks it a fresh unique
// name removed at once. An existing name is never touched.
void create_here_file() {
    int fd = open(HERE_DIR, O_TMPFILE | O_RDWR, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        std::string path = std::string(HERE_DIR) + "/shXXXXXX";
        fd = mkstemp(path.data());
        if (fd >= 0) unlink(path.c_str());
    }
    if (fd < 0) error_raise(ERR_NAME_TEXT, HERE_DIR, std::strerror(errno));
    if (fd != 0) fd_move(fd, 0);  // descriptor 0 was closed, so this is rare
}

// Reads one line of the shell input without its newline; false at end of input. What is
// buffered is taken a run at a time, up to a newline or a NUL (which is dropped).
bool read_line(CharString& line) {
    line.clear();
    for (;;) {
        std::string_view ahead = input_buffered_ahead();
        std::size_t run = 0;
        while (run < ahead.size() && ahead[run] != '\n' && ahead[run] != '\0') ++run;
        if (run > 0) {
            // Past the room, the line ends in an error with its first LINE_ROOM + 1 characters
            // read, as one at a time.
            bool overflow = line.size() + run > LINE_ROOM;
            if (overflow) run = LINE_ROOM + 1 - line.size();
            std::size_t old_size = line.size();
            line.resize(old_size + run);
            Char* to = line.data() + old_size;
            for (std::size_t i = 0; i < run; ++i) {
                to[i] = static_cast<Char>(static_cast<unsigned char>(ahead[i]));
            }
            bool ended = !overflow && run < ahead.size() && ahead[run] == '\n';
            input_skip_buffered(ended ? run + 1 : run);
            if (overflow) line_overflow();
            if (ended) return true;
            continue;
        }
        int c = read_char(true);
        if (c == -1) return false;
        c &= TRIM;
        if (c == '\n') return true;
        if (c == 0) continue;
        if (line.size() >= LINE_ROOM) line_overflow();
        line += static_cast<Char>(c);
    }
}

// What a line holds of the characters that its substitution acts on or drops.
enum LineSpecials : unsigned {
    HAS_DOLLAR = 1,
    HAS_BACKSLASH = 2,  // or a NUL
    HAS_BACKQUOTE = 4,
};

unsigned line_specials(const CharString& text) {
    unsigned found = 0;
    for (Char c : text) {
        if (c == '$') {
            found |= HAS_DOLLAR;
        } else if (c == '\\' || c == 0) {
            found |= HAS_BACKSLASH;
        } else if (c == '`') {
            found |= HAS_BACKQUOTE;
        }
    }
    return found;
}

// A character of a variable name after its first: the ASCII ones without a call.
bool is_name_char(Char c) {
    if (c >= 0 && c < 0x80) {
        return c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
               (c >= 'A' && c <= 'Z');
    }
    return char_is_alnum(c);
}

// Substitutes $ constructs in a line. A backslash quotes a following $, backslash or
// backquote and is then dropped; before anything else it stays.
void substitute_line(const WordVector& words, CharString& out) {
    out.clear();
    SubstReader reader(words);
    for (;;) {
        int c = subst_get_char(true);
        if (c == SUBST_END) break;
        c &= TRIM;
        if (c == 0) continue;
        if (c == '\\') {
            int next = subst_get_char(false);
            int plain = next == SUBST_END ? 0 : next & TRIM;
            if (plain == '$' || plain == '\\' || plain == '`') {
                c = quoted(plain);
            } else {
                subst_unget_char(next);  // read again, past the $ reader
            }
        }
        if (out.size() >= SUBSTITUTED_ROOM) line_overflow();
        out += static_cast<Char>(c);
    }
}

// The variable a line looked up last, kept while the lines go through substitute_plain_line
// one after another: nothing else runs meanwhile that could set or unset a variable.
struct LastLookup {
    CharString name;
    const WordVector* value = nullptr;  ///< none, or a value without a backslash
    bool backquote = false;             ///< the value holds a backquote
};

// substitute_line for a line without a backslash or NUL in which every $ is a plain $name of
// a set variable whose value holds no backslash: the runs between the names and the values
// (their words joined by blanks) are copied as they are; backquote tells whether a value held
// one. False, with out unspecified, for any other line, which the reader then takes, and which
// may end in an error.
bool substitute_plain_line(const CharString& text, CharString& out, LastLookup& last,
                           bool& backquote) {
    if (errors.pending_error) return false;
    out.clear();
    backquote = false;
    for (std::size_t at = 0;;) {
        std::size_t dollar = text.find('$', at);
        out.append(text, at, dollar == CharString::npos ? CharString::npos : dollar - at);
        if (dollar == CharString::npos) break;
        std::size_t name_end = dollar + 1;
        if (name_end == text.size() || (text[name_end] != '_' && !char_is_alpha(text[name_end]))) {
            return false;
        }
        while (name_end < text.size() && is_name_char(text[name_end])) ++name_end;
        std::size_t name_size = name_end - dollar - 1;
        if (name_size > VAR_NAME_ROOM) return false;
        if (name_end < text.size() && (text[name_end] == '[' || text[name_end] == ':')) {
            return false;
        }
        CharView name = CharView(text).substr(dollar + 1, name_size);
        if (!last.value || name != CharView(last.name)) {
            last.value = nullptr;
            const WordVector* value = var_lookup(name);
            if (!value) return false;
            last.backquote = false;
            for (const CharString& word : *value) {
                for (Char c : word) {
                    if (c == '\\' || c == 0 || (c & QUOTE)) return false;
                    if (c == '`') last.backquote = true;
                }
            }
            last.value = value;
            last.name.assign(name);
        }
        for (std::size_t w = 0; w < last.value->size(); ++w) {
            if (w > 0) out += ' ';
            out += (*last.value)[w];
        }
        backquote = backquote || last.backquote;
        at = name_end;
    }
    return out.size() <= SUBSTITUTED_ROOM;
}

}  // namespace

WordVector read_here_lines(const CharString& terminator) {
    CharString end_line = terminator;
    str_strip(end_line);
    WordVector lines;
    for (;;) {
        CharString& line = lines.emplace_back();
        if (!read_line(line) || line == end_line) break;
    }
    lines.pop_back();
    return lines;
}

void read_here_document(const CharString& terminator, const WordVector& lines) {
    create_here_file();
    CharString end_line = terminator;
    str_strip(end_line);
    bool quoted_terminator = std::any_of(end_line.begin(), end_line.end(), [](Char c) {
        return c == '\'' || c == '"' || c == '`' || c == '\\';
    });
    HereOutput out;
    WordVector line(1);  // the line being substituted, as the only input word
    CharString substituted;
    WordVector output;  // the output of the commands of a line
    LastLookup last;
    for (const CharString& text : lines) {
        if (quoted_terminator || shell.no_execute) {
            out.put_line(text);
            continue;
        }
        unsigned specials = line_specials(text);
        bool backquote = specials & HAS_BACKQUOTE;
        if (!(specials & (HAS_DOLLAR | HAS_BACKSLASH))) {
            // Nothing to substitute: the line goes out as it is, or to its commands.
            if (text.size() > SUBSTITUTED_ROOM) line_overflow();
            if (!backquote) {
                out.put_line(text);
                continue;
            }
            substituted = text;
        } else if (bool from_value = false;
                   !(specials & HAS_BACKSLASH) &&
                   substitute_plain_line(text, substituted, last, from_value)) {
            backquote = backquote || from_value;
        } else {
            last.value = nullptr;
            line[0] = text;
            substitute_line(line, substituted);
            backquote = substituted.find('`') != CharString::npos;
        }
        if (!backquote) {
            out.put_line(substituted);
            continue;
        }
        last.value = nullptr;  // the commands may change the variables
        output.clear();
        reentry.command_substitute(substituted, true, output);
        for (const CharString& word : output) out.put_line(word);
    }
    out.flush();
    lseek(0, 0, SEEK_SET);
}
