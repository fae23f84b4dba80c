// The debug form of a command tree, one line, for tests and for looking at a parse:
//
//   tree   := "-"                                   an absent node
//           | "(" kind [flags] [in] [out] word* child* ")"
//   kind   := simple | subshell | pipe | list | or | and | type<N> (any other value)
//   flags  := " [" name ("," name)* "]"             the node_flags that are set, in bit order:
//             bg append pipein pipeout nofork noint errtoo clobber heredoc repeat nice nohup
//             time; a bit without a name as 0x<hex>
//   in     := " <" word                             input_word (a here-document under heredoc)
//   out    := " >" word                             output_word (appending under append)
//   word   := " " bytes                             each of words, in order
//   child  := " " tree                              pipe, list, or, and: left then right;
//                                                   subshell: body
//
// A word is written as its bytes, except that a backslash introduces an escape: "\\" is a plain
// backslash, "\c" is the character c carrying the quote mark (c printable, not a blank, not "{"),
// and "\{h}" is any other Char as its 16-bit value in hexadecimal ("\{20}" a plain blank,
// "\{a}" a newline, "\{8000}" the quote mark alone).
//
// So ls ; date & reads (list (subshell [bg,noint] (list (simple ls) (simple date))) -), and
// ( ls ) > f reads (list - (subshell >f (simple [nofork] ls))).
#include "parse/syntax_tree.h"

#include <cstdio>
#include <vector>

namespace {

void put_word(std::string& out, const CharString& word) {
    for (Char c : word) {
        const int ch = trim(c);
        const bool printable = ch > 0x20 && ch < 0x7f;
        if (!is_quoted(c) && printable && ch != '\\') {
            out += static_cast<char>(ch);
        } else if (!is_quoted(c) && ch == '\\') {
            out += "\\\\";
        } else if (is_quoted(c) && printable && ch != '{') {
            out += '\\';
            out += static_cast<char>(ch);
        } else {
            char hex[16];
            std::snprintf(hex, sizeof hex, "\\{%x}", static_cast<unsigned>(c & 0xffff));
            out += hex;
        }
    }
}

const char* kind_name(std::uint16_t type) {
    switch (type) {
        case CMD_SIMPLE:
            return "simple";
        case CMD_SUBSHELL:
            return "subshell";
        case CMD_PIPE:
            return "pipe";
        case CMD_LIST:
            return "list";
        case CMD_OR:
            return "or";
        case CMD_AND:
            return "and";
        default:
            return nullptr;
    }
}

const char* flag_name(unsigned bit) {
    switch (bit) {
        case FLAG_BACKGROUND:
            return "bg";
        case FLAG_APPEND:
            return "append";
        case FLAG_PIPE_IN:
            return "pipein";
        case FLAG_PIPE_OUT:
            return "pipeout";
        case FLAG_NO_FORK:
            return "nofork";
        case FLAG_NO_INTERRUPT:
            return "noint";
        case FLAG_ERR_TOO:
            return "errtoo";
        case FLAG_CLOBBER:
            return "clobber";
        case FLAG_HERE_DOC:
            return "heredoc";
        case FLAG_REPEAT:
            return "repeat";
        case FLAG_NICE:
            return "nice";
        case FLAG_NOHUP:
            return "nohup";
        case FLAG_TIME:
            return "time";
        default:
            return nullptr;
    }
}

void put_tree(std::string& out, const CommandNode* node) {
    if (!node) {
        out += '-';
        return;
    }
    out += '(';
    if (const char* kind = kind_name(node->node_type)) {
        out += kind;
    } else {
        out += "type" + std::to_string(node->node_type);
    }
    if (node->node_flags) {
        out += " [";
        bool first = true;
        for (unsigned bit = 1; bit <= 0x8000; bit <<= 1) {
            if (!(node->node_flags & bit)) continue;
            if (!first) out += ',';
            first = false;
            if (const char* name = flag_name(bit)) {
                out += name;
            } else {
                char hex[16];
                std::snprintf(hex, sizeof hex, "0x%x", bit);
                out += hex;
            }
        }
        out += ']';
    }
    if (node->input_word) {
        out += " <";
        put_word(out, *node->input_word);
    }
    if (node->output_word) {
        out += " >";
        put_word(out, *node->output_word);
    }
    for (const CharString& word : node->words) {
        out += ' ';
        put_word(out, word);
    }
    switch (node->node_type) {
        case CMD_PIPE:
        case CMD_LIST:
        case CMD_OR:
        case CMD_AND:
            out += ' ';
            put_tree(out, node->left.get());
            out += ' ';
            put_tree(out, node->right.get());
            break;
        case CMD_SUBSHELL:
            out += ' ';
            put_tree(out, subshell_body(*node));
            break;
        default:
            break;
    }
    out += ')';
}

}  // namespace

std::string debug_tree(const CommandNode* node) {
    std::string out;
    put_tree(out, node);
    return out;
}

CommandNode::~CommandNode() {
    std::vector<std::unique_ptr<CommandNode>> pending;
    auto take = [&pending](std::unique_ptr<CommandNode>& child) {
        if (child) pending.push_back(std::move(child));
    };
    take(left);
    take(right);
    take(body);
    while (!pending.empty()) {
        std::unique_ptr<CommandNode> node = std::move(pending.back());
        pending.pop_back();
        take(node->left);
        take(node->right);
        take(node->body);
    }
}
