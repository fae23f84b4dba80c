// Nested input: the input of the shell set aside while a sourced file or eval text is read, and
// put back on every way out.
#pragma once

#include <memory>
#include <optional>

#include "core/chars.h"
#include "input/input_buffer.h"
#include "input/loop_stack.h"

/// What a sourced file is read for.
enum class SourceReading {
    COMMANDS,       ///< the commands are run
    HISTORY_LINES,  ///< the lines are entered into the history list and not run (source -h)
};

/// One level of nested input, for the life of the guard.
///
/// A sourced file gets an input of its own: the input state, the shell input descriptor, the
/// interactive flag, the onintr label, the active loops and the history flags are set aside and
/// come back, and the file's descriptor is closed. Eval text is read inside the input of the line
/// that runs eval (its loops and gotos reach the lines around it): only the eval words are set
/// aside.
class InputFrame {
  public:
    /// Sets the input aside and reads the file open on fd (above 2) instead.
    InputFrame(int fd, SourceReading reading);
    /// Reads the words (which must outlive the frame) as eval text from their first character.
    explicit InputFrame(const WordVector& eval_words);
    /// Puts back what was set aside; the input of the frame counts as not finished.
    ~InputFrame();
    InputFrame(const InputFrame&) = delete;             ///< restores once
    InputFrame& operator=(const InputFrame&) = delete;  ///< restores once

  private:
    bool whole_;                        ///< the whole input was set aside (a sourced file)
    int fd_ = -1;                       ///< the sourced file's descriptor
    NestedInput nesting_;               ///< counts this level against the nesting bound
    WordCursor eval_;                   ///< the eval words being read before
    InputState input_;                  ///< the input state before
    int shell_in_ = -1;                 ///< the shell input descriptor before
    bool interactive_ = false;          ///< the interactive flag before
    std::optional<CharString> label_;   ///< the onintr label before
    std::unique_ptr<LoopFrame> loops_;  ///< the active loops before
    bool history_loading_ = false;      ///< the history-loading flag before
    int history_char_ = 0;              ///< the history character before
    bool source_in_progress_ = false;   ///< the sourcing flag before
};
