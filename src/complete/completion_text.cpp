// The text side of completion in the line editor: the word at the cursor, quoting, the common
// prefix.
#include <cstring>

#include "complete/completion.h"
#include "complete/text_display.h"

namespace {

// Characters that end a word; after those of COMMAND_STARTS a command begins.
constexpr char WORD_ENDS[] = " \t\n;&|()<>`";
constexpr char COMMAND_STARTS[] = ";&|(`";
// Characters a backslash must protect outside quotes.
constexpr char SPECIAL[] = " \t\n'\"`\\$&;|<>()*?[]{}!#";

bool one_of(const char* set, char c) {
    return c != '\0' && std::strchr(set, c) != nullptr;
}

bool name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

CompletionWord completion_word_at(std::string_view line, std::size_t cursor) {
    if (cursor > line.size()) cursor = line.size();
    bool command_position = true;  // for the next word to begin
    bool in_word = false;
    bool word_command = true;  // the current word is in the position of a command
    std::string command_word;  // the current command's name, once it has ended
    int depth = 0;             // parentheses open that are not a subshell (an expression, a list)
    bool redirected = false;   // the next word is a redirection's file
    bool resume = false;       // command_position after that file
    std::size_t word_start = cursor;
    std::string text;           // the current word, unquoted
    std::size_t name_raw = 0;   // offset in the line after the word's last "/"
    std::size_t name_text = 0;  // the same in text
    char name_quote = 0;        // the quote open there
    std::size_t dollar_raw = std::string_view::npos, dollar_text = 0;
    bool braced = false;
    char quote = 0;
    auto add = [&](char c, std::size_t next_raw) {
        text += c;
        if (c == '/') {
            name_raw = next_raw;
            name_text = text.size();
            name_quote = quote;
        }
        if (quote == '\'') return;
        if (c == '$') {
            dollar_raw = next_raw;
            dollar_text = text.size();
            braced = false;
        } else if (c == '{' && dollar_raw == next_raw - 1 && text.size() == dollar_text + 1) {
            dollar_raw = next_raw;
            dollar_text = text.size();
            braced = true;
        } else if (!name_char(c)) {
            dollar_raw = std::string_view::npos;
        }
    };
    auto begin_word = [&](std::size_t at) {
        in_word = true;
        word_start = name_raw = at;
        word_command = command_position;
        command_position = false;
        text.clear();
        name_text = 0;
        name_quote = 0;
        dollar_raw = std::string_view::npos;
    };
    for (std::size_t i = 0; i < cursor; ++i) {
        char c = line[i];
        if (quote == '\'') {
            if (c == '\'') {
                quote = 0;
            } else {
                add(c, i + 1);
            }
            continue;
        }
        if (quote == '"') {
            if (c == '"') {
                quote = 0;
            } else if (c == '\\' && i + 1 < cursor && one_of("\"\\$!`", line[i + 1])) {
                ++i;
                add(line[i], i + 1);
            } else {
                add(c, i + 1);
            }
            continue;
        }
        if (one_of(WORD_ENDS, c)) {
            if (in_word && word_command) command_word = text;
            in_word = false;
            if (c == '(') {
                // A subshell where a command may start; otherwise an expression or a word list.
                if (!command_position) ++depth;
            } else if (c == ')') {
                // After the expression of an if, its command.
                if (depth > 0 && --depth == 0 && command_word == "if") command_position = true;
            } else if (c == '<' || c == '>' || (c == '&' && i > 0 && line[i - 1] == '>')) {
                if (!redirected) resume = command_position;
                redirected = true;
                command_position = false;
            } else if (one_of(COMMAND_STARTS, c)) {
                command_position = true;
                command_word.clear();
                depth = 0;
                redirected = false;
            }
            continue;
        }
        if (!in_word) {
            begin_word(i);
            if (redirected) {
                word_command = false;
                command_position = resume;
                redirected = false;
            }
        }
        if (c == '\\') {
            if (i + 1 < cursor) {
                ++i;
                add(line[i], i + 1);
                if (line[i] == '$') dollar_raw = std::string_view::npos;
            }
        } else if (c == '\'' || c == '"') {
            quote = c;
            if (name_raw == i) {
                name_raw = i + 1;
                name_quote = c;
            }
        } else {
            add(c, i + 1);
        }
    }
    if (!in_word) begin_word(cursor);
    CompletionWord w;
    w.quote = name_quote;
    if (dollar_raw != std::string_view::npos) {
        w.kind = CompletionKind::VARIABLE;
        w.replace_from = dollar_raw;
        w.prefix = text.substr(dollar_text);
        w.braced = braced;
        w.quote = quote;
        return w;
    }
    bool slash = text.find('/') != std::string::npos;
    if (!text.empty() && text[0] == '~' && line[word_start] == '~' && !slash) {
        w.kind = CompletionKind::USER;
        w.replace_from = word_start + 1;
        w.prefix = text.substr(1);
        w.quote = 0;
        return w;
    }
    if (word_command && !slash) {
        w.kind = CompletionKind::COMMAND;
    }
    w.replace_from = name_raw;
    w.directory = text.substr(0, name_text);
    w.prefix = text.substr(name_text);
    return w;
}

std::string completion_quote(std::string_view name, char quote, bool word_start) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        bool first = word_start && i == 0;
        if (quote == 0) {
            if (one_of(SPECIAL, c) || (first && one_of("~^%", c))) out += '\\';
            out += c;
            continue;
        }
        // Inside quotes: what the quote cannot hold goes outside it, escaped.
        bool outside =
            c == quote || c == '!' || c == '\n' || (quote == '"' && (c == '$' || c == '`'));
        if (outside) {
            out += quote;
            out += '\\';
            out += c;
            out += quote;
        } else {
            out += c;
        }
    }
    return out;
}

std::string completion_common_prefix(const WordVector& names, bool utf8) {
    if (names.empty()) return std::string();
    std::string prefix = to_bytes(names[0]);
    for (std::size_t k = 1; k < names.size(); ++k) {
        std::size_t same = 0;
        const CharString& name = names[k];
        while (same < prefix.size() && same < name.size() &&
               static_cast<unsigned char>(prefix[same]) == low_byte(name[same])) {
            ++same;
        }
        prefix.resize(same);
    }
    // A character cut in two (with the marks that go with it) is left out whole.
    const std::string first = to_bytes(names[0]);
    std::size_t whole = 0;
    for (std::size_t next;
         whole < prefix.size() && (next = text_next(first, whole, utf8)) <= prefix.size();) {
        whole = next;
    }
    prefix.resize(whole);
    return prefix;
}
