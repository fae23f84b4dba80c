// The shell input: one character source over pushback, alias words, eval words, the -c text
// and the input descriptor. Every point of it can be recorded as an InputPosition and returned
// to, which is how loops and goto move around in the input.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/chars.h"

enum InputKind : std::int32_t {
    INPUT_NONE = -1,  ///< not a position (a loop body being read ahead at the terminal)
    INPUT_ALIAS = 0,
    INPUT_FILE = 1,
    INPUT_EVAL = 2,
};

/// A point of the shell input.
struct InputPosition {
    std::int32_t kind = INPUT_FILE;
    std::int64_t offset = 0;       ///< file: character offset; alias, eval: index in the word
    std::int64_t vector_pos = -1;  ///< alias, eval: index of the next word; -1 for file
    bool operator==(const InputPosition&) const = default;
};

inline constexpr int INPUT_BLOCK_SIZE = 1024;

/// The words read by eval or an alias: a vector and a cursor into it.
struct WordCursor {
    const WordVector* words = nullptr;  ///< null: no such source
    std::size_t next_word = 0;          ///< index of the next word to start
    std::int64_t char_pos = -1;         ///< index in the current word; -1: no current word
    bool used_up = false;               ///< eval only: the words are exhausted
};

/// Text kept in memory in blocks of INPUT_BLOCK_SIZE, each allocated whole when it is first
/// written: the text grows without being copied and without room to spare past its last block.
class TextBlocks {
  public:
    /// The byte at index i, which has been written; the bytes after it to the end of its block
    /// follow it in memory.
    const char& at(std::size_t i) const {
        return blocks_[i / INPUT_BLOCK_SIZE][i % INPUT_BLOCK_SIZE];
    }
    /// Where the bytes from index i to the end of its block are stored (the block is allocated
    /// when it is new; i is at most one block past the last one).
    char* room_at(std::size_t i);
    /// Frees the first n blocks; the indexes of the rest go down by n blocks.
    void drop_blocks(std::size_t n);
    /// Frees every block.
    void clear() noexcept { blocks_.clear(); }

  private:
    std::vector<std::unique_ptr<char[]>> blocks_;
};

/// Something a higher floor learns about the text of one input and keeps with it (parsed
/// lines, the places control-flow searches found): dropped with the input, set aside with it
/// by sourcing, never consulted for another input.
class InputAttachment {
  public:
    virtual ~InputAttachment() = default;
};

/// The state of the input (the descriptor read is fds.shell_in); sourcing saves it whole and
/// installs a fresh one.
struct InputState {
    TextBlocks memory;              ///< in-memory mode: text from memory_start to buffer_end
    std::int64_t memory_start = 0;  ///< offset of memory's first byte, a multiple of the block size
    std::int64_t input_offset = 0;  ///< offset of the next character to deliver
    std::int64_t buffer_start = 0;  ///< seekable mode: offset of window[0]
    std::int64_t buffer_end = 0;    ///< one past the last character obtained
    bool input_seekable = false;    ///< the descriptor can be positioned: one-block window
    std::string window;             ///< seekable mode: the block read from buffer_start
    WordCursor alias;               ///< alias text being read
    WordCursor eval;                ///< eval text being read
    const CharString* command_string = nullptr;  ///< -c text; null when none
    std::size_t command_pos = 0;
    bool command_used_up = false;  ///< the -c text has been delivered
    int one_line_count = 0;        ///< -t: 2 while the line is read, 1 when it ended
    std::int32_t current_input_kind = INPUT_FILE;  ///< kind of the last character's source
    int read_pushback = 0;                         ///< one character pushed back; 0 none
    int eof_retries = 0;                           ///< consecutive ends of file from a terminal
    bool descriptor_finished = false;  ///< a pipe thrown away by input_to_eof reads as ended
    std::int64_t noted_from = -1;      ///< the offset text is noted from (TextNote); -1 none
    std::string noted;                 ///< seekable mode: the noted text that has left the window
    bool noted_broken = false;         ///< the position was moved while text was noted
    std::int64_t lines_read_upto = 0;  ///< the furthest offset the command loop read lines to
    std::unique_ptr<InputAttachment> parsed_lines;    ///< the command loop's parsed lines
    std::unique_ptr<InputAttachment> search_results;  ///< where control-flow searches ended
};
extern InputState input;

/// Set when the input is finished; the command loop leaves when it sees it.
extern bool input_done;

/// What the input asks of the floors above it; start-up fills them in.
struct InputHooks {
    /// Reads one line typed at the terminal (size Chars at most, one per byte), while a line
    /// reader is switched on (filec or edit): the count, 0 at the end of the input, < 0 on an
    /// error.
    int (*read_terminal_line)(Char* buffer, int size) = nullptr;
    /// Decides what the end of the descriptor's input means: returns for the input to be read
    /// again, or finishes it (input_finish) or unwinds.
    void (*end_of_input)() = nullptr;
};
extern InputHooks input_hooks;

/// Records where the next character comes from.
void input_tell(InputPosition& pos);
/// Returns to a recorded position.
void input_seek(const InputPosition& pos);
/// The next character; -1 at end of input when want_eof is set.
int read_char(bool want_eof);
/// Pushes one character back.
void unread_char(int c);
/// The characters read_char would give next, as far as they are buffered, when they come from
/// the buffer (no pushback, alias or eval words, -c text or one-line mode in front of them);
/// empty otherwise. Valid until the next reading.
std::string_view input_buffered_ahead();
/// Moves the read position past n characters of input_buffered_ahead().
void input_skip_buffered(std::size_t n);
/// Nested inputs (sourced files and eval texts, one inside the other) read at once, at most.
/// Each holds a stretch of the stack, and a sourced file or an eval with descriptors set up
/// holds descriptors as well: deeper nesting is refused as the system refuses a descriptor when
/// its table is full ("Too many open files"), so that input that nests itself ends with a
/// message whatever the limits are and never overflows the stack.
inline constexpr int INPUT_NESTING_MAX = 100;

/// Counts one nested input for the life of the guard (across a fork too: a child's nesting
/// goes on from its parent's, on the same stack).
class NestedInput {
  public:
    NestedInput() noexcept;
    ~NestedInput();
    NestedInput(const NestedInput&) = delete;
    NestedInput& operator=(const NestedInput&) = delete;
};
/// Whether one more nested input would pass INPUT_NESTING_MAX.
bool input_nesting_full();

/// Marks the input finished and unwinds to the command loop, which then returns.
[[noreturn]] void input_finish();
/// Chooses between the seekable window and the in-memory mode for the current descriptor.
void input_check_seekable();
/// Drops blocks no longer reachable (nothing while a loop is active).
void input_release();
/// True when the next character must really be read from the descriptor.
bool input_at_buffer_end();

/// True when the next character comes plainly from the descriptor's text: nothing is pushed
/// back, and no alias, eval or -c text is being read, nor one line for -t. Text read from here
/// may be noted and skipped.
bool input_reads_plain_text();
/// Notes the text read from the current position on, for the life of the guard (one at a time).
class TextNote {
  public:
    TextNote() noexcept;
    ~TextNote();
    TextNote(const TextNote&) = delete;
    TextNote& operator=(const TextNote&) = delete;
    /// The bytes read since the note began, up to the current position, as they were delivered;
    /// false when they cannot be told (the position was moved meanwhile, or text before the
    /// kept blocks was meant).
    bool text(std::string& out) const;
};
/// Reads past text when the descriptor's text goes on with exactly these bytes from the current
/// position (reading it from the descriptor as read_char would); otherwise the position stays.
/// For a position where input_reads_plain_text holds.
bool input_skip_text(std::string_view text);
/// Throws away all pending input (the rest of a script, the typed-ahead line, loops).
void input_to_eof();
