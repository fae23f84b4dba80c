// The loops being run: where each iteration of an active while or foreach begins and where the
// loop ends, and which loops still contain the point the input has reached.
#pragma once

#include <memory>
#include <utility>

#include "core/chars.h"
#include "input/input_buffer.h"

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
/// Records the current input position as the loop's end.
void record_end(LoopFrame& f);
/// True once the loop's end has been located.
bool end_located(const LoopFrame& f);
/// Marks the loop's end as not yet located.
void mark_end_unknown(LoopFrame& f);
