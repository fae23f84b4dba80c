#include "expand/here_document.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "exec/reentry.h"
#include "expand/substitute.h"
#include "input/input_buffer.h"

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
        for (Char c : line) put(c);
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

// Reads one line of the shell input without its newline; false at end of input.
bool read_line(CharString& line) {
    line.clear();
    for (;;) {
        int c = read_char(true);
        if (c == -1) return false;
        c &= TRIM;
        if (c == '\n') return true;
        if (c == 0) continue;
        if (line.size() >= LINE_ROOM) line_overflow();
        line += static_cast<Char>(c);
    }
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

}  // namespace

WordVector read_here_lines(const CharString& terminator) {
    CharString end_line = terminator;
    str_strip(end_line);
    WordVector lines;
    CharString line;
    while (read_line(line) && line != end_line) lines.push_back(line);
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
    for (const CharString& text : lines) {
        if (quoted_terminator || shell.no_execute) {
            out.put_line(text);
            continue;
        }
        line[0] = text;
        substitute_line(line, substituted);
        if (substituted.find('`') == CharString::npos) {
            out.put_line(substituted);
            continue;
        }
        output.clear();
        reentry.command_substitute(substituted, true, output);
        for (const CharString& word : output) out.put_line(word);
    }
    out.flush();
    lseek(0, 0, SEEK_SET);
}
