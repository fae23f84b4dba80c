#include "input/loop_stack.h"

std::unique_ptr<LoopFrame> loop_stack;

namespace {

// The order of two points of the same eval (or alias) words: by word, then by character. A
// point without a current word lies after every character of the words before the next one.
std::pair<std::int64_t, std::int64_t> word_order(const InputPosition& p) {
    if (p.offset >= 0) return {p.vector_pos - 1, p.offset};
    return {p.vector_pos, -1};
}

// A frame contains the position when it lies between the frame's start and its end (or after
// its start while the end is not yet known).
//
// Eval text is compared character by character, since a whole loop usually sits in one word
// with newlines, and a loop of eval text stays open until its end is located within that text
// (an end recorded as a file position lies after the eval words). A loop of the file contains
// the eval or alias text read from one of its lines: that text is compared by the file offset
// of its line. Comparing only the kinds and the words would drop the enclosing loop of a nested
// eval loop when the inner one ends.
bool frame_contains(const LoopFrame& f, const InputPosition& o) {
    if (f.end.kind == INPUT_NONE) return false;
    if (f.start.kind == INPUT_FILE) {
        if (f.end.kind != INPUT_FILE) return false;
        std::int64_t at = o.kind == INPUT_FILE ? o.offset : input.input_offset;
        return at >= f.start.offset && (f.end.offset == 0 || at < f.end.offset);
    }
    if (o.kind != f.start.kind) return false;
    if (word_order(o) < word_order(f.start)) return false;
    if (f.end.kind == INPUT_FILE) return true;
    return f.end.kind == o.kind && word_order(o) < word_order(f.end);
}

}  // namespace

// Records the current position as the loop's end. When the end line of a loop in eval text is
// its last line, the input already reports the file; the end is then the end of the eval words,
// so that leaving the loop finishes the eval text instead of going on where the eval stood.
void record_end(LoopFrame& f) {
    input_tell(f.end);
    if (f.start.kind == INPUT_EVAL && f.end.kind == INPUT_FILE && input.eval.words) {
        f.end.kind = INPUT_EVAL;
        f.end.offset = -1;
        f.end.vector_pos = static_cast<std::int64_t>(input.eval.words->size());
    }
}

bool end_located(const LoopFrame& f) {
    return !(f.end.kind == INPUT_FILE && f.end.offset == 0);
}

void mark_end_unknown(LoopFrame& f) {
    f.end = InputPosition{};
    f.end.kind = INPUT_FILE;
    f.end.offset = 0;
}

void loop_free_exited() {
    InputPosition o;
    input_tell(o);
    while (loop_stack && !frame_contains(*loop_stack, o)) {
        loop_stack = std::move(loop_stack->next);
    }
}
