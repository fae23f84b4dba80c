#include "input/input_buffer.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "core/signals.h"
#include "input/loop_stack.h"
#include "vars/variables.h"

InputState input;
bool input_done = false;
InputHooks input_hooks;

namespace {
constexpr std::size_t BLOCK = INPUT_BLOCK_SIZE;
int input_nesting = 0;  // sourced files and eval texts being read, one inside the other
}  // namespace

namespace {

[[noreturn]] void bad_seek(std::int32_t kind) {
    std::fprintf(diagnostic_stream, "Bad seek type %d\n", kind);
    std::fflush(diagnostic_stream);
    std::abort();
}

// The next character of the current alias or eval word, a blank between two words, and -1
// (the cursor then has no current word) after the last one.
int next_word_char(WordCursor& w) {
    const CharString& word = (*w.words)[w.next_word - 1];
    if (static_cast<std::size_t>(w.char_pos) < word.size()) return word[w.char_pos++] & TRIM;
    if (w.next_word < w.words->size()) {
        ++w.next_word;
        w.char_pos = 0;
        return ' ';
    }
    w.char_pos = -1;
    return -1;
}

// Starts the next word of a cursor; false when the words are exhausted.
bool start_next_word(WordCursor& w) {
    if (w.next_word >= w.words->size()) return false;
    ++w.next_word;
    w.char_pos = 0;
    return true;
}

// A read that never gives up on a signal: interrupts are acted upon between attempts.
ssize_t read_input(int fd, char* buf, std::size_t n) {
    for (;;) {
        if (shell.interactive) wait_readable(fd);
        ssize_t r = read(fd, buf, n);
        if (r >= 0) return r;
        if (errno == EINTR) {
            act_on_signals();
            continue;
        }
        if (errno == EAGAIN) {
            int off = 0;
            ioctl(fd, FIONBIO, &off);
            continue;
        }
        return -1;
    }
}

// Before the window is filled again: the noted text read from it goes to input.noted. The
// window must hold the noted text not yet taken, up to the current position.
void note_window_leaving() {
    if (input.noted_from < 0 || input.noted_broken) return;
    const std::int64_t next = input.noted_from + static_cast<std::int64_t>(input.noted.size());
    const std::int64_t upto = input.input_offset;
    if (next == upto) return;
    if (next > upto || next < input.buffer_start || upto > input.buffer_end) {
        input.noted_broken = true;
        return;
    }
    input.noted.append(input.window, static_cast<std::size_t>(next - input.buffer_start),
                       static_cast<std::size_t>(upto - next));
}

// Makes the character at input_offset available, in the window or the kept blocks, reading
// from the descriptor as needed; false at the end of its text.
bool input_obtain() {
    if (input.descriptor_finished) return false;
    if (input.input_seekable) {
        if (input.input_offset >= input.buffer_start && input.input_offset < input.buffer_end) {
            return true;
        }
        if (input.input_offset < input.buffer_start || input.input_offset > input.buffer_end) {
            note_window_leaving();
            input.buffer_start = input.buffer_end = input.input_offset;
            lseek(fds.shell_in, input.input_offset, SEEK_SET);
        }
        note_window_leaving();
        input.buffer_start = input.buffer_end;
        input.window.resize(INPUT_BLOCK_SIZE);
        ssize_t n = read_input(fds.shell_in, input.window.data(), INPUT_BLOCK_SIZE);
        if (n <= 0) return false;
        input.window.resize(static_cast<std::size_t>(n));
        input.buffer_end += n;
        return true;
    }
    // Text before the kept blocks is gone; a position there means the oldest text kept.
    if (input.input_offset < input.memory_start) input.input_offset = input.memory_start;
    if (input.input_offset < input.buffer_end) return true;
    std::size_t have = static_cast<std::size_t>(input.buffer_end - input.memory_start);
    ssize_t n;
    if ((filec_enabled || edit_enabled) && shell.interactive && input_hooks.read_terminal_line) {
        // With completion or the editor the terminal's line comes whole from the line reader.
        Char line[INPUT_BLOCK_SIZE];
        n = input_hooks.read_terminal_line(line, INPUT_BLOCK_SIZE);
        for (ssize_t i = 0; i < n; ++i) {
            *input.memory.room_at(have + static_cast<std::size_t>(i)) = static_cast<char>(line[i]);
        }
    } else {
        // Read at most to the end of the current block, as much as one read gives.
        std::int64_t room = INPUT_BLOCK_SIZE - input.buffer_end % INPUT_BLOCK_SIZE;
        n = read_input(fds.shell_in, input.memory.room_at(have), static_cast<std::size_t>(room));
    }
    if (n <= 0) return false;
    input.buffer_end += n;
    return true;
}

// The byte at input_offset, which input_obtain has made available.
unsigned char byte_at_offset() {
    if (input.input_seekable) {
        return static_cast<unsigned char>(
            input.window[static_cast<std::size_t>(input.input_offset - input.buffer_start)]);
    }
    return static_cast<unsigned char>(
        input.memory.at(static_cast<std::size_t>(input.input_offset - input.memory_start)));
}

// The next character of the descriptor, or -1 at its end.
int input_fill() {
    if (!input_obtain()) return -1;
    unsigned char c = byte_at_offset();
    ++input.input_offset;
    return c;
}

}  // namespace

void input_tell(InputPosition& pos) {
    pos.kind = input.current_input_kind;
    switch (pos.kind) {
        case INPUT_FILE:
            pos.offset = input.input_offset;
            pos.vector_pos = -1;
            break;
        case INPUT_ALIAS:
            pos.offset = input.alias.char_pos;
            pos.vector_pos = static_cast<std::int64_t>(input.alias.next_word);
            break;
        case INPUT_EVAL:
            pos.offset = input.eval.char_pos;
            pos.vector_pos = static_cast<std::int64_t>(input.eval.next_word);
            break;
        default:
            bad_seek(pos.kind);
    }
}

void input_seek(const InputPosition& pos) {
    switch (pos.kind) {
        case INPUT_FILE:
            if (input.noted_from >= 0 && pos.offset != input.input_offset) {
                input.noted_broken = true;
            }
            input.input_offset = pos.offset;
            break;
        case INPUT_ALIAS:
            input.alias.char_pos = pos.offset;
            input.alias.next_word = static_cast<std::size_t>(pos.vector_pos);
            break;
        case INPUT_EVAL:
            input.eval.char_pos = pos.offset;
            input.eval.next_word = static_cast<std::size_t>(pos.vector_pos);
            input.eval.used_up = false;
            break;
        default:
            bad_seek(pos.kind);
    }
    input.current_input_kind = pos.kind;
}

namespace {

// Whether the next character comes from the buffer, if it holds it: no other source is active.
bool buffer_is_next() {
    return !(input.read_pushback | input.one_line_count) && !input.alias.words &&
           !input.eval.words && !input.command_string;
}

}  // namespace

std::string_view input_buffered_ahead() {
    if (!buffer_is_next()) return {};
    std::int64_t o = input.input_offset;
    std::int64_t start = input.input_seekable ? input.buffer_start : input.memory_start;
    if (o < start || o >= input.buffer_end) return {};
    const auto at = static_cast<std::size_t>(o - start);
    auto ahead = static_cast<std::size_t>(input.buffer_end - o);
    if (input.input_seekable) return std::string_view(input.window).substr(at, ahead);
    // Text kept in memory is contiguous to the end of its block.
    ahead = std::min(ahead, INPUT_BLOCK_SIZE - at % INPUT_BLOCK_SIZE);
    return std::string_view(&input.memory.at(at), ahead);
}

void input_skip_buffered(std::size_t n) {
    if (n == 0) return;
    input.current_input_kind = INPUT_FILE;
    input.input_offset += static_cast<std::int64_t>(n);
    input.eof_retries = 0;
}

int read_char(bool want_eof) {
    // The common case first: the next character is already in the buffer and no other source
    // is active. This is the path of every character of a loop body read again.
    if (buffer_is_next()) {
        std::int64_t o = input.input_offset;
        int c = -1;
        if (input.input_seekable) {
            if (o >= input.buffer_start && o < input.buffer_end) {
                c = static_cast<unsigned char>(
                    input.window[static_cast<std::size_t>(o - input.buffer_start)]);
            }
        } else if (o >= input.memory_start && o < input.buffer_end) {
            c = static_cast<unsigned char>(
                input.memory.at(static_cast<std::size_t>(o - input.memory_start)));
        }
        if (c > 0) {
            input.current_input_kind = INPUT_FILE;
            input.input_offset = o + 1;
            input.eof_retries = 0;
            return c;
        }
    }
    input.current_input_kind = INPUT_FILE;
    if (input.read_pushback) {
        int c = input.read_pushback;
        input.read_pushback = 0;
        return c;
    }
    // Alias words; once they are exhausted every call gives a newline until the alias is done.
    if (input.alias.words) {
        for (;;) {
            if (input.alias.char_pos >= 0) {
                input.current_input_kind = INPUT_ALIAS;
                int c = next_word_char(input.alias);
                if (c >= 0) return c;
                input.current_input_kind = INPUT_FILE;
                return '\n';
            }
            if (!start_next_word(input.alias)) return '\n';
        }
    }
    // Eval words; the end of them finishes the input of the eval's command loop.
    if (input.eval.words) {
        for (;;) {
            if (input.eval.char_pos >= 0) {
                input.current_input_kind = INPUT_EVAL;
                int c = next_word_char(input.eval);
                if (c >= 0) return c;
                input.current_input_kind = INPUT_FILE;
            }
            if (input.eval.used_up) input_finish();
            if (!start_next_word(input.eval)) {
                input.eval.used_up = true;
                return '\n';
            }
        }
    }
    for (;;) {
        if (input.command_used_up || input.one_line_count == 1) {
            if (want_eof) return -1;
            exit_with_status();
        }
        if (input.command_string) {
            const CharString& text = *input.command_string;
            if (input.command_pos < text.size()) return text[input.command_pos++] & TRIM;
            input.command_used_up = true;
            return '\n';
        }
        int c = input_fill();
        if (c < 0) {
            if (want_eof) return -1;
            if (!input_hooks.end_of_input) input_finish();
            input_hooks.end_of_input();
            continue;
        }
        input.eof_retries = 0;
        if (c == '\n' && input.one_line_count) {
            --input.one_line_count;
            return '\n';
        }
        if (c != 0) return c;
    }
}

void unread_char(int c) {
    input.read_pushback = c;
}

void input_finish() {
    input_done = true;
    unwind();
}

bool input_at_buffer_end() {
    return input.current_input_kind == INPUT_FILE && input.input_offset == input.buffer_end;
}

void input_check_seekable() {
    input.input_seekable = false;
    if (input.command_string || input.one_line_count || shell.interactive) return;
    off_t here = lseek(fds.shell_in, 0, SEEK_CUR);
    if (here < 0) return;
    input.memory.clear();
    input.memory_start = 0;
    input.window.clear();
    input.input_offset = input.buffer_start = input.buffer_end = here;
    input.input_seekable = true;
}

void input_release() {
    if (input.input_seekable || loop_active()) return;
    std::int64_t blocks = (input.input_offset - 1 - input.memory_start) / INPUT_BLOCK_SIZE;
    if (blocks <= 0) return;
    input.memory.drop_blocks(static_cast<std::size_t>(blocks));
    input.memory_start += blocks * INPUT_BLOCK_SIZE;
}

void input_to_eof() {
    // A pipe cannot be positioned at its end. Left as it is, the shell would go on reading the
    // script after an exit or an error from the middle of a line; so a script on a pipe that
    // has begun ends there, as a script file does. A terminal, or a pipe standing in for one
    // (-i), only loses what was typed ahead; a pipe not yet read (an error in a start-up file)
    // loses nothing.
    if (fds.shell_in >= 0 && lseek(fds.shell_in, 0, SEEK_END) < 0 && input.buffer_end > 0 &&
        !shell.interactive && !isatty(fds.shell_in)) {
        input.descriptor_finished = true;
    }
    input.current_input_kind = INPUT_FILE;
    input.input_offset = input.buffer_end;
    input.alias = WordCursor{};
    input.eval = WordCursor{};
    // The -c text is pending input like any other: after exit or an error nothing more of it
    // runs, as nothing more of a script runs.
    if (input.command_string) input.command_used_up = true;
    loop_free_exited();
    input_release();
}

bool input_reads_plain_text() {
    return buffer_is_next() && input.current_input_kind == INPUT_FILE;
}

TextNote::TextNote() noexcept {
    input.noted_from = input.input_offset;
    input.noted.clear();
    input.noted_broken = false;
}

TextNote::~TextNote() {
    input.noted_from = -1;
    input.noted.clear();
}

bool TextNote::text(std::string& out) const {
    const std::int64_t from = input.noted_from;
    const std::int64_t to = input.input_offset;
    if (input.noted_broken || from < 0 || to < from) return false;
    if (input.input_seekable) {
        const std::int64_t next = from + static_cast<std::int64_t>(input.noted.size());
        out = input.noted;
        if (next == to) return true;
        if (next > to || next < input.buffer_start || to > input.buffer_end) return false;
        out.append(input.window, static_cast<std::size_t>(next - input.buffer_start),
                   static_cast<std::size_t>(to - next));
        return true;
    }
    if (from < input.memory_start || to > input.buffer_end) return false;
    out.clear();
    out.reserve(static_cast<std::size_t>(to - from));
    for (std::int64_t o = from; o < to;) {
        const std::size_t i = static_cast<std::size_t>(o - input.memory_start);
        const std::size_t n = std::min(static_cast<std::size_t>(to - o), BLOCK - i % BLOCK);
        out.append(&input.memory.at(i), n);
        o += static_cast<std::int64_t>(n);
    }
    return true;
}

namespace {

// input_skip_text for a file: the part of text in the window is compared there, the rest with
// the file's bytes read at once (a jump over many blocks reads them in one go rather than block
// by block), together with a block past them, which the window is left holding.
bool file_goes_on_with(std::string_view text) {
    const std::int64_t start = input.input_offset;
    std::size_t done = 0;
    if (start >= input.buffer_start && start < input.buffer_end) {
        const std::size_t i = static_cast<std::size_t>(start - input.buffer_start);
        done = std::min(text.size(), input.window.size() - i);
        if (std::memcmp(input.window.data() + i, text.data(), done) != 0) return false;
    }
    if (done < text.size()) {
        if (input.descriptor_finished) return false;
        const std::int64_t from = start + static_cast<std::int64_t>(done);
        const std::size_t want = text.size() - done;
        note_window_leaving();
        // Kept from one skip to the next: a jump made again reads into the same room.
        static std::string rest;
        if (rest.size() < want + BLOCK) rest.resize(want + BLOCK);
        std::size_t got = 0;
        if (lseek(fds.shell_in, from, SEEK_SET) == from) {
            while (got < want) {
                ssize_t n = read_input(fds.shell_in, rest.data() + got, want + BLOCK - got);
                if (n <= 0) break;
                got += static_cast<std::size_t>(n);
            }
        }
        // The descriptor stands at buffer_end, where the next read of the window goes on.
        const std::size_t past = std::min(want, got);
        input.window.assign(rest, past, got - past);
        input.buffer_start = from + static_cast<std::int64_t>(past);
        input.buffer_end = from + static_cast<std::int64_t>(got);
        if (got < want || std::memcmp(rest.data(), text.data() + done, want) != 0) return false;
    }
    input.input_offset = start + static_cast<std::int64_t>(text.size());
    return true;
}

}  // namespace

bool input_skip_text(std::string_view text) {
    const std::int64_t start = input.input_offset;
    if (input.input_seekable) {
        if (!file_goes_on_with(text)) return false;
        input.current_input_kind = INPUT_FILE;
        input.eof_retries = 0;
        return true;
    }
    // Text before the kept blocks is gone: reading there would give the oldest text kept.
    if (start < input.memory_start) return false;
    std::size_t done = 0;
    while (done < text.size()) {
        if (!input_obtain()) {
            input.input_offset = start;
            return false;
        }
        // The bytes at hand from the position on, without another read.
        const std::size_t i = static_cast<std::size_t>(input.input_offset - input.memory_start);
        const char* at = &input.memory.at(i);
        std::size_t n = std::min(static_cast<std::size_t>(input.buffer_end - input.input_offset),
                                 BLOCK - i % BLOCK);
        n = std::min(n, text.size() - done);
        if (std::memcmp(at, text.data() + done, n) != 0) {
            input.input_offset = start;
            return false;
        }
        done += n;
        input.input_offset += static_cast<std::int64_t>(n);
    }
    input.current_input_kind = INPUT_FILE;
    input.eof_retries = 0;
    return true;
}

char* TextBlocks::room_at(std::size_t i) {
    const std::size_t b = i / INPUT_BLOCK_SIZE;
    if (b == blocks_.size()) {
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(INPUT_BLOCK_SIZE));
    }
    return blocks_[b].get() + i % INPUT_BLOCK_SIZE;
}

void TextBlocks::drop_blocks(std::size_t n) {
    blocks_.erase(blocks_.begin(), blocks_.begin() + static_cast<std::ptrdiff_t>(n));
}

NestedInput::NestedInput() noexcept {
    ++input_nesting;
}
NestedInput::~NestedInput() {
    --input_nesting;
}

bool input_nesting_full() {
    return input_nesting >= INPUT_NESTING_MAX;
}
