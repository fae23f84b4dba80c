#include "input/input_buffer.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

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

// The next character of the descriptor, or -1 at its end.
int input_fill() {
    if (input.descriptor_finished) return -1;
    if (input.input_seekable) {
        if (input.input_offset < input.buffer_start || input.input_offset > input.buffer_end) {
            input.buffer_start = input.buffer_end = input.input_offset;
            lseek(fds.shell_in, input.input_offset, SEEK_SET);
        }
        if (input.input_offset == input.buffer_end) {
            input.buffer_start = input.buffer_end;
            input.window.resize(INPUT_BLOCK_SIZE);
            ssize_t n = read_input(fds.shell_in, input.window.data(), INPUT_BLOCK_SIZE);
            if (n <= 0) return -1;
            input.window.resize(static_cast<std::size_t>(n));
            input.buffer_end += n;
        }
        return static_cast<unsigned char>(
            input.window[static_cast<std::size_t>(input.input_offset++ - input.buffer_start)]);
    }
    // Text before the kept blocks is gone; a position there means the oldest text kept.
    if (input.input_offset < input.memory_start) input.input_offset = input.memory_start;
    if (input.input_offset < input.buffer_end) {
        return static_cast<unsigned char>(
            input.memory[static_cast<std::size_t>(input.input_offset++ - input.memory_start)]);
    }
    // The text kept ends at buffer_end; an interrupt during an earlier read may have left the
    // string longer than that.
    std::size_t have = static_cast<std::size_t>(input.buffer_end - input.memory_start);
    ssize_t n;
    if (filec_enabled && shell.interactive && input_hooks.read_terminal_line) {
        // With completion the terminal's line comes whole from the line reader. The kept text is
        // one string, so a line longer than the rest of a block needs no fresh block of its own.
        Char line[INPUT_BLOCK_SIZE];
        n = input_hooks.read_terminal_line(line, INPUT_BLOCK_SIZE);
        input.memory.resize(have);
        for (ssize_t i = 0; i < n; ++i) input.memory += static_cast<char>(line[i]);
    } else {
        // Read at most to the end of the current block, as much as one read gives.
        std::int64_t room = INPUT_BLOCK_SIZE - input.buffer_end % INPUT_BLOCK_SIZE;
        input.memory.resize(have + static_cast<std::size_t>(room));
        n = read_input(fds.shell_in, input.memory.data() + have, static_cast<std::size_t>(room));
        input.memory.resize(have + static_cast<std::size_t>(n > 0 ? n : 0));
    }
    if (n <= 0) return -1;
    input.buffer_end += n;
    return static_cast<unsigned char>(
        input.memory[static_cast<std::size_t>(input.input_offset++ - input.memory_start)]);
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
    const std::string& text = input.input_seekable ? input.window : input.memory;
    std::int64_t start = input.input_seekable ? input.buffer_start : input.memory_start;
    if (o < start || o >= input.buffer_end) return {};
    return std::string_view(text).substr(static_cast<std::size_t>(o - start),
                                         static_cast<std::size_t>(input.buffer_end - o));
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
                input.memory[static_cast<std::size_t>(o - input.memory_start)]);
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
    std::size_t drop = static_cast<std::size_t>(blocks * INPUT_BLOCK_SIZE);
    input.memory.erase(0, drop);
    input.memory_start += static_cast<std::int64_t>(drop);
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

NestedInput::NestedInput() noexcept {
    ++input_nesting;
}
NestedInput::~NestedInput() {
    --input_nesting;
}

bool input_nesting_full() {
    return input_nesting >= INPUT_NESTING_MAX;
}
