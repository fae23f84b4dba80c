#include "parse/parser.h"

#include "core/errors.h"
#include "parse/keywords.h"

// The levels below follow the grammar's right recursion (a ; b ; c is list(a, list(b, c)), and
// so for &, ||, && and |) but build each right-leaning chain in a loop, so that a long line costs
// neither stack depth nor a rescan of its tail per operator. Recursion is left only for
// parenthesised groups, bounded by MAX_GROUP_NESTING.
//
// Every range [first, end) handed to parse_sequence and the levels below it has parenthesis
// depth 0 at its end: parse_background only passes on a balanced range or the part before an &
// found at depth 0. So the tail of a sequence, which the grammar parses again with
// parse_commands, never splits at & and never fails the depth check there; its scan would only
// record errors already recorded by the scan of the whole range, and the loops leave it out.

namespace {

using Word = const LexWord*;

Char first_char(Word w) {
    return w->word.empty() ? Char{0} : w->word[0];
}
Char second_char(Word w) {
    return w->word.size() < 2 ? Char{0} : w->word[1];
}
bool is_exactly(Word w, char c) {
    return w->word.size() == 1 && w->word[0] == c;
}

bool is_separator(Word w) {
    Char c = first_char(w);
    return c == ';' || c == '&' || c == '\n';
}

// Skips the separators that may lead a list: words beginning with ;, & or a newline.
Word skip_separators(Word first, Word end) {
    while (first != end && is_separator(first)) first = first->next;
    return first;
}

// Raises or lowers the parenthesis depth for a word beginning with ( or ).
void track_depth(Word w, int& depth) {
    Char c = first_char(w);
    if (c == '(') {
        ++depth;
    } else if (c == ')') {
        --depth;
    }
}

// The first word of [first, end) at parenthesis depth 0 for which is_operator holds, or null.
template <class Pred>
Word find_operator(Word first, Word end, Pred is_operator) {
    int depth = 0;
    for (Word p = first; p != end; p = p->next) {
        if (depth == 0 && is_operator(p)) return p;
        track_depth(p, depth);
    }
    return nullptr;
}

CommandTree make_node(std::uint16_t type) {
    auto node = std::make_unique<CommandNode>();
    node->node_type = type;
    return node;
}

// Appends node at *slot and returns the slot of its right operand, where the chain goes on.
CommandTree* link_right(CommandTree* slot, CommandTree node) {
    *slot = std::move(node);
    return &(*slot)->right;
}

CommandTree parse_background(Word first, Word end, int context);

// Depth of the groups being parsed, for MAX_GROUP_NESTING.
int group_nesting = 0;

struct GroupNesting {
    GroupNesting() noexcept { ++group_nesting; }
    ~GroupNesting() { --group_nesting; }
    GroupNesting(const GroupNesting&) = delete;
    GroupNesting& operator=(const GroupNesting&) = delete;
};

// The commands that parse their own expressions and word lists: in them parentheses and
// redirection words inside parentheses are ordinary words.
bool starts_keyword_form(Word first, Word end) {
    Word p = first;
    while (p != end && keyword_lookup(p->word) == KW_ELSE) p = p->next;
    if (p == end) return false;
    switch (keyword_lookup(p->word)) {
        case KW_EXIT:
        case KW_FOREACH:
        case KW_IF:
        case KW_AT:
        case KW_SET:
        case KW_SWITCH:
        case KW_WHILE:
            return true;
        default:
            return false;
    }
}

// A word that cannot be the name after a redirection.
bool cannot_be_target(Word w) {
    Char c = first_char(w);
    return c == '<' || c == '>' || c == '(' || c == ')';
}

// Room for the words of a simple command: every word but those inside parentheses (outside
// keyword form), the parentheses themselves, and redirections with their names. Only a size
// hint for the vector; it may overcount, never matters for the result.
std::size_t count_arguments(Word first, Word end, bool keyword_form) {
    long count = 0;
    int depth = 0;
    for (Word p = first; p != end; p = p->next) {
        Char c = first_char(p);
        if (c == '(' || c == ')') {
            if (keyword_form) ++count;
            track_depth(p, depth);
        } else if (c == '<' || c == '>') {
            if (depth != 0) {
                if (keyword_form) ++count;
            } else if (p->next != end && !cannot_be_target(p->next)) {
                --count;
            }
        } else if (depth == 0 || keyword_form) {
            ++count;
        }
    }
    return count < 0 ? 0 : static_cast<std::size_t>(count);
}

// A simple command, or a parenthesised group, with its redirections.
CommandTree parse_simple(Word first, Word end, int context) {
    const bool keyword_form = starts_keyword_form(first, end);
    CommandTree node = make_node(CMD_SIMPLE);
    node->words.reserve(count_arguments(first, end, keyword_form));
    if (first_char(end) == ')') node->node_flags = FLAG_NO_FORK;

    int depth = 0;
    bool group_seen = false;
    Word group_first = nullptr;
    Word group_end = nullptr;
    std::size_t stored = 0;
    // Once a line has an error it will not run: its words are counted but not copied.
    auto store = [&](Word w) {
        if (!errors.pending_error) node->words.push_back(w->word);
        ++stored;
    };

    for (Word p = first; p != end; p = p->next) {
        switch (first_char(p)) {
            case '(':
                if (depth == 0) {
                    if (group_seen && !keyword_form) error_defer(ERR_BADLY_PLACED_OPEN);
                    group_seen = true;
                    group_first = p->next;
                    group_end = nullptr;
                }
                if (keyword_form) store(p);
                ++depth;
                break;
            case ')':
                if (depth == 1) group_end = p;
                --depth;
                if (keyword_form) store(p);
                break;
            case '>':
                if (depth != 0) {
                    if (keyword_form) store(p);
                    break;
                }
                if (second_char(p) == '>') node->node_flags |= FLAG_APPEND;
                if (p->next != end && is_exactly(p->next, '&')) {
                    node->node_flags |= FLAG_ERR_TOO;
                    p = p->next;
                    if (context & (PARSE_PIPE_OUT | PARSE_PIPE_DIAG)) {
                        error_defer(ERR_AMBIGUOUS_OUTPUT);
                        break;
                    }
                }
                if (p->next != end && is_exactly(p->next, '!')) {
                    node->node_flags |= FLAG_CLOBBER;
                    p = p->next;
                }
                if (p->next == end || cannot_be_target(p->next)) {
                    error_defer(ERR_MISSING_REDIRECT_NAME);
                    break;
                }
                p = p->next;
                if ((context & PARSE_PIPE_OUT) &&
                    (!(context & PARSE_PIPE_DIAG) || node->output_word)) {
                    error_defer(ERR_AMBIGUOUS_OUTPUT);
                } else {
                    node->output_word = p->word;
                }
                break;
            case '<':
                if (depth != 0) {
                    if (keyword_form) store(p);
                    break;
                }
                if (second_char(p) == '<') node->node_flags |= FLAG_HERE_DOC;
                if (p->next == end || cannot_be_target(p->next)) {
                    error_defer(ERR_MISSING_REDIRECT_NAME);
                    break;
                }
                p = p->next;
                if ((context & PARSE_IN_PARENS) && (node->node_flags & FLAG_HERE_DOC)) {
                    error_defer(ERR_HEREDOC_IN_PARENS);
                } else if ((context & PARSE_PIPE_IN) || node->input_word) {
                    error_defer(ERR_AMBIGUOUS_INPUT);
                } else {
                    node->input_word = p->word;
                }
                break;
            default:
                if (depth == 0 || keyword_form) store(p);
                break;
        }
    }

    if (group_seen && !keyword_form) {
        if (stored != 0) error_defer(ERR_BADLY_PLACED_PARENS);
        node->node_type = CMD_SUBSHELL;
        // A group left open cannot reach this level (the background level checks the depth);
        // should one, its body runs to the end of the range rather than around the list.
        if (!group_end) group_end = end;
        if (group_nesting >= MAX_GROUP_NESTING) {
            error_defer(ERR_TOO_MANY_OPEN);
        } else {
            GroupNesting nesting;
            node->body = parse_background(group_first, group_end, PARSE_IN_PARENS);
        }
    } else if (stored == 0) {
        error_defer(ERR_NULL_COMMAND);
    }
    return node;
}

// a | b | c: a pipe whose right operand is the rest of the pipeline.
CommandTree parse_pipeline(Word first, Word end, int context) {
    CommandTree result;
    CommandTree* slot = &result;
    for (;;) {
        Word bar = find_operator(first, end, [](Word w) { return first_char(w) == '|'; });
        if (!bar) {
            *slot = parse_simple(first, end, context);
            return result;
        }
        CommandTree pipe = make_node(CMD_PIPE);
        int left_context = context | PARSE_PIPE_OUT;
        Word rest = bar->next;
        if (rest != end && first_char(rest) == '&') {
            left_context |= PARSE_PIPE_DIAG;
            pipe->node_flags |= FLAG_ERR_TOO;
            rest = rest->next;
        }
        pipe->left = parse_simple(first, bar, left_context);
        slot = link_right(slot, std::move(pipe));
        first = rest;
        context |= PARSE_PIPE_IN;
    }
}

// a && b && c: an and whose right operand is the rest.
CommandTree parse_and(Word first, Word end, int context) {
    CommandTree result;
    CommandTree* slot = &result;
    for (;;) {
        Word op = find_operator(
            first, end, [](Word w) { return first_char(w) == '&' && second_char(w) == '&'; });
        if (!op) {
            *slot = parse_pipeline(first, end, context);
            return result;
        }
        CommandTree node = make_node(CMD_AND);
        node->left = parse_pipeline(first, op, context);
        slot = link_right(slot, std::move(node));
        first = op->next;
    }
}

// a || b || c: an or whose right operand is the rest.
CommandTree parse_or(Word first, Word end, int context) {
    CommandTree result;
    CommandTree* slot = &result;
    for (;;) {
        Word op = find_operator(
            first, end, [](Word w) { return first_char(w) == '|' && second_char(w) == '|'; });
        if (!op) {
            *slot = parse_and(first, end, context);
            return result;
        }
        CommandTree node = make_node(CMD_OR);
        node->left = parse_and(first, op, context);
        slot = link_right(slot, std::move(node));
        first = op->next;
    }
}

// a ; b: a list whose right operand is the rest. A command with nothing after it but
// separators becomes the right operand of a list with no left one.
CommandTree parse_sequence(Word first, Word end, int context) {
    CommandTree result;
    CommandTree* slot = &result;
    for (;;) {
        Word op = find_operator(first, end, [](Word w) {
            Char c = first_char(w);
            return c == ';' || c == '\n';
        });
        if (!op) {
            *slot = parse_or(first, end, context);
            return result;
        }
        CommandTree command = parse_or(first, op, context);
        CommandTree list = make_node(CMD_LIST);
        Word rest = skip_separators(op->next, end);
        if (rest == end) {
            list->right = std::move(command);
            *slot = std::move(list);
            return result;
        }
        list->left = std::move(command);
        slot = link_right(slot, std::move(list));
        first = rest;
    }
}

// Marks a command to run without waiting; a list of several commands becomes one background
// subshell, so that a ; b & runs both in the background in turn.
CommandTree make_background(CommandTree command) {
    constexpr std::uint16_t background = FLAG_BACKGROUND | FLAG_NO_INTERRUPT;
    const auto type = command->node_type;
    if (type == CMD_LIST || type == CMD_OR || type == CMD_AND) {
        CommandTree group = make_node(CMD_SUBSHELL);
        group->node_flags = background;
        group->body = std::move(command);
        return group;
    }
    command->node_flags |= background;
    return command;
}

// a & b: a list whose left operand runs in the background. Checks the parentheses of the range.
CommandTree parse_background(Word first, Word end, int context) {
    CommandTree result;
    CommandTree* slot = &result;
    for (;;) {
        int depth = 0;
        Word ampersand = nullptr;
        for (Word p = first; p != end; p = p->next) {
            Char c = first_char(p);
            if (c == '(') {
                ++depth;
            } else if (c == ')') {
                if (--depth < 0) error_defer(ERR_TOO_MANY_CLOSE);
            } else if (c == '|' && second_char(p) == '|') {
                // || is no pipe: an & after it is a separator
            } else if (c == '|' || c == '>') {
                // |& and >& : the & belongs to the operator
                if (p->next != end && is_exactly(p->next, '&')) p = p->next;
            } else if (c == '&' && second_char(p) != '&' && depth == 0) {
                ampersand = p;
                break;
            }
        }
        if (!ampersand) {
            if (depth != 0) {
                error_defer(ERR_TOO_MANY_OPEN);
                return result;
            }
            *slot = parse_sequence(first, end, context);
            return result;
        }
        CommandTree list = make_node(CMD_LIST);
        list->left = make_background(parse_sequence(first, ampersand, context));
        slot = link_right(slot, std::move(list));
        first = skip_separators(ampersand->next, end);
        if (first == end) return result;
    }
}

}  // namespace

CommandTree parse_commands(LexWord* first, LexWord* end, int context) {
    Word start = skip_separators(first, end);
    if (start == end) return nullptr;
    return parse_background(start, end, context);
}
