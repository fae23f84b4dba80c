#include "expand/here_document.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "expand/command_subst.h"
#include "expand/substitute.h"
#include "input/input_buffer.h"

CharString here_temp_name;

namespace {

constexpr std::size_t LINE_ROOM = 1020;         // characters of a line as read
constexpr std::size_t SUBSTITUTED_ROOM = 1019;  // characters of a line after substitution
constexpr std::size_t OUTPUT_BLOCK = 1024;      // bytes written to the file at a time
// Names that exist and cannot be removed get new random names; after this many collisions in
// a row the creation fails as any other would, instead of trying for ever.
constexpr int CREATE_ATTEMPTS = 100;

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
        const char* p = block_.data();
        std::size_t left = used_;
        while (left > 0) {
            ssize_t n = write(0, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            p += n;
            left -= static_cast<std::size_t>(n);
        }
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

void new_random_name() {
    timeval now{};
    gettimeofday(&now, nullptr);
    unsigned long n =
        (static_cast<unsigned long>(now.tv_sec) ^ static_cast<unsigned long>(now.tv_usec) ^
         static_cast<unsigned long>(getpid())) &
        0xffffff;
    here_temp_name = chars("/tmp/sh" + std::to_string(n));
}

// Creates the file on descriptor 0 and removes its name at once.
void create_here_file() {
    if (here_temp_name.empty()) here_temp_name = chars("/tmp/sh") + shell.pid_text;
    for (int attempt = 1;; ++attempt) {
        std::string path = to_bytes(here_temp_name);
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_TRUNC, 0600);
        if (fd >= 0) {
            unlink(path.c_str());
            if (fd != 0) fd_move(fd, 0);  // descriptor 0 was to be closed; make it so
            return;
        }
        int err = errno;
        bool removed = unlink(path.c_str()) == 0;
        if (err != EEXIST || attempt >= CREATE_ATTEMPTS) {
            error_raise(ERR_NAME_TEXT, path.c_str(), std::strerror(err));
        }
        if (!removed) new_random_name();
    }
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
    subst_begin(words);
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
        for (const CharString& word : command_substitute(substituted, true)) out.put_line(word);
    }
    out.flush();
    lseek(0, 0, SEEK_SET);
}
