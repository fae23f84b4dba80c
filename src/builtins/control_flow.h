// Control flow: if, while, foreach, switch, goto and their partners are builtins that move
// around in the shell input by recording and restoring positions, and skip forward with one
// search that reads only the first word (sometimes two) of each line.
#pragma once

#include <memory>
#include <utility>

#include "core/chars.h"
#include "input/input_buffer.h"
#include "parse/syntax_tree.h"

/// An active while or foreach loop.
struct LoopFrame {
    InputPosition start;  ///< where each iteration begins
    InputPosition end;    ///< just after the loop's end line once located; kind FILE offset 0
                          ///< while not located, kind INPUT_NONE while read ahead at a terminal
    std::size_t next_value = 0;  ///< foreach: index of the next value in all_words
    WordVector all_words;        ///< foreach: the values, the last being the ")" word
    CharString var_name;         ///< foreach: the loop variable; empty for while
    bool is_foreach = false;
    std::unique_ptr<LoopFrame> next;  ///< the enclosing loop

    LoopFrame() = default;
    LoopFrame(const LoopFrame&) = delete;
    LoopFrame& operator=(const LoopFrame&) = delete;
    /// Frees the enclosing loops one by one: a stack thousands deep must not recurse.
    ~LoopFrame() {
        while (next) next = std::move(next->next);
    }
};

/// The innermost active loop; null when none.
extern std::unique_ptr<LoopFrame> loop_stack;

/// True while a while or foreach loop is active.
inline bool loop_active() {
    return loop_stack != nullptr;
}
/// Pops the loops that no longer contain the current input position.
void loop_free_exited();
/// Locates the ends of the active loops, then goes to the line after the label.
void goto_label(const CharString& label);

/// The commands.
void builtin_if(WordVector& words, CommandNode& node);
void builtin_else(WordVector& words, CommandNode& node);
void builtin_while(WordVector& words, CommandNode& node);
void builtin_foreach(WordVector& words, CommandNode& node);
void builtin_end(WordVector& words, CommandNode& node);
void builtin_continue(WordVector& words, CommandNode& node);
void builtin_break(WordVector& words, CommandNode& node);
void builtin_switch(WordVector& words, CommandNode& node);
void builtin_breaksw(WordVector& words, CommandNode& node);
void builtin_goto(WordVector& words, CommandNode& node);
void builtin_repeat(WordVector& words, CommandNode& node);
void builtin_exit(WordVector& words, CommandNode& node);
