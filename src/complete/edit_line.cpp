#include "complete/edit_line.h"

#include <utility>

#include "complete/text_display.h"
#include "core/chars.h"

namespace {

bool is_word_char(std::string_view text, std::size_t pos, bool utf8) {
    unsigned char c = static_cast<unsigned char>(text[pos]);
    if (utf8 && c >= 0x80) return true;
    return char_is_alnum(static_cast<Char>(c)) || c == '_';
}

bool is_blank(std::string_view text, std::size_t pos) {
    return text[pos] == ' ' || text[pos] == '\t';
}

// The start of the word before pos: back over non-word characters, then over word characters.
std::size_t word_start_before(const EditLine& l, std::size_t pos) {
    while (pos > 0) {
        std::size_t prev = text_previous(l.text, pos, l.utf8);
        if (is_word_char(l.text, prev, l.utf8)) break;
        pos = prev;
    }
    while (pos > 0) {
        std::size_t prev = text_previous(l.text, pos, l.utf8);
        if (!is_word_char(l.text, prev, l.utf8)) break;
        pos = prev;
    }
    return pos;
}

// The end of the word after pos: over non-word characters, then over word characters.
std::size_t word_end_after(const EditLine& l, std::size_t pos) {
    while (pos < l.text.size() && !is_word_char(l.text, pos, l.utf8)) {
        pos = text_next(l.text, pos, l.utf8);
    }
    while (pos < l.text.size() && is_word_char(l.text, pos, l.utf8)) {
        pos = text_next(l.text, pos, l.utf8);
    }
    return pos;
}

// Kills text[from, to); the cursor goes to from. Kills in a row add up in the order of the text.
bool kill(EditLine& l, std::size_t from, std::size_t to, bool backward) {
    if (from >= to) return false;
    std::string_view cut = std::string_view(l.text).substr(from, to - from);
    if (!l.killing) {
        l.killed.assign(cut);
    } else if (backward) {
        l.killed.insert(0, cut);
    } else {
        l.killed.append(cut);
    }
    l.text.erase(from, to - from);
    l.cursor = from;
    l.killing = true;
    return true;
}

bool move_to(EditLine& l, std::size_t pos) {
    if (pos == l.cursor) return false;
    l.cursor = pos;
    return true;
}

}  // namespace

void edit_insert(EditLine& l, std::string_view bytes) {
    l.text.insert(l.cursor, bytes);
    l.cursor += bytes.size();
    l.killing = false;
}

void edit_set_text(EditLine& l, std::string_view text) {
    l.text.assign(text);
    l.cursor = l.text.size();
    l.killing = false;
}

bool edit_apply(EditLine& l, EditOp op) {
    bool was_killing = std::exchange(l.killing, false);
    const std::size_t size = l.text.size();
    std::size_t cur = l.cursor;
    switch (op) {
        case EditOp::LEFT:
            return move_to(l, text_previous(l.text, cur, l.utf8));
        case EditOp::RIGHT:
            return move_to(l, text_next(l.text, cur, l.utf8));
        case EditOp::WORD_LEFT:
            return move_to(l, word_start_before(l, cur));
        case EditOp::WORD_RIGHT:
            return move_to(l, word_end_after(l, cur));
        case EditOp::HOME:
            return move_to(l, 0);
        case EditOp::END:
            return move_to(l, size);
        case EditOp::BACKSPACE: {
            if (cur == 0) return false;
            std::size_t prev = text_previous(l.text, cur, l.utf8);
            l.text.erase(prev, cur - prev);
            l.cursor = prev;
            return true;
        }
        case EditOp::DELETE:
            if (cur >= size) return false;
            l.text.erase(cur, text_next(l.text, cur, l.utf8) - cur);
            return true;
        case EditOp::YANK:
            if (l.killed.empty()) return false;
            edit_insert(l, l.killed);
            return true;
        case EditOp::TRANSPOSE: {
            if (cur == 0 || size == 0) return false;
            std::size_t right = cur;
            if (cur == size) right = text_previous(l.text, cur, l.utf8);
            if (right == 0) return false;
            std::size_t left = text_previous(l.text, right, l.utf8);
            std::size_t end = text_next(l.text, right, l.utf8);
            std::string a = l.text.substr(left, right - left);
            std::string b = l.text.substr(right, end - right);
            l.text.replace(left, end - left, b + a);
            l.cursor = end;
            return true;
        }
        default:
            break;
    }
    // The kills.
    l.killing = was_killing;
    switch (op) {
        case EditOp::KILL_TO_END:
            return kill(l, cur, size, false) || (l.killing = false);
        case EditOp::KILL_LINE:
            return kill(l, 0, size, true) || (l.killing = false);
        case EditOp::KILL_TO_BLANK: {
            std::size_t from = cur;
            while (from > 0 && is_blank(l.text, from - 1)) --from;
            while (from > 0 && !is_blank(l.text, from - 1)) {
                from = text_previous(l.text, from, l.utf8);
            }
            return kill(l, from, cur, true) || (l.killing = false);
        }
        case EditOp::KILL_WORD_BACK:
            return kill(l, word_start_before(l, cur), cur, true) || (l.killing = false);
        case EditOp::KILL_WORD_FORWARD:
            return kill(l, cur, word_end_after(l, cur), false) || (l.killing = false);
        default:
            l.killing = false;
            return false;
    }
}
