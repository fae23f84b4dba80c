#include "input/input_frame.h"

#include <unistd.h>

#include "core/descriptors.h"
#include "core/shell.h"
#include "core/signal_mask.h"
#include "core/signals.h"
#include "input/lexer.h"

InputFrame::InputFrame(int fd, SourceReading reading)
    : whole_(true),
      fd_(fd),
      input_(std::move(input)),
      shell_in_(fds.shell_in),
      interactive_(shell.interactive),
      label_(std::move(session.interrupt_label)),
      loops_(std::move(loop_stack)),
      history_loading_(session.history_loading),
      history_char_(lexer.history_char),
      source_in_progress_(session.source_in_progress) {
    session.source_in_progress = true;
    // An interrupt must not find the input half changed.
    SignalsBlocked unchanged({});
    hold_interrupts();
    input = InputState{};
    fds.shell_in = fd;
    shell.interactive = isatty(fd);
    session.interrupt_label.reset();
    loop_stack.reset();
    session.history_loading = reading == SourceReading::HISTORY_LINES;
    if (session.history_loading) lexer.history_char = 0;
}

InputFrame::InputFrame(const WordVector& eval_words) : whole_(false), eval_(input.eval) {
    input.eval = WordCursor{};
    input.eval.words = &eval_words;
    // The first line's position is taken before any of its characters is read.
    input.current_input_kind = INPUT_EVAL;
}

InputFrame::~InputFrame() {
    input_done = false;
    if (!whole_) {
        input.eval = eval_;
        return;
    }
    input = std::move(input_);
    close(fd_);
    fds.shell_in = shell_in_;
    shell.interactive = interactive_;
    session.interrupt_label = std::move(label_);
    loop_stack = std::move(loops_);
    if (session.history_loading) lexer.history_char = history_char_;
    session.history_loading = history_loading_;
    session.source_in_progress = source_in_progress_;
}
