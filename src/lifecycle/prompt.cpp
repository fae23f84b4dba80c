#include "lifecycle/prompt.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "complete/line_editor.h"
#include "core/descriptors.h"
#include "core/shell.h"
#include "input/history.h"
#include "input/lexer.h"
#include "input/loop_stack.h"
#include "jobs/usage.h"
#include "vars/variables.h"

std::time_t mail_check_time = 0;

namespace {
constexpr std::time_t MAIL_INTERVAL_DEFAULT = 600;
}

void check_mail() {
    const WordVector* mail = var_lookup("mail");
    if (!mail) return;
    std::time_t now = std::time(nullptr);
    std::size_t first = 0;
    std::time_t interval = MAIL_INTERVAL_DEFAULT;
    if (!mail->empty() && str_is_number((*mail)[0])) {
        interval = parse_number((*mail)[0]);
        first = 1;
    }
    if (interval < 1) interval = 1;
    if (mail_check_time + interval > now) return;
    std::size_t count = mail->size() - first;
    for (std::size_t i = first; i < mail->size(); ++i) {
        struct stat st;
        if (stat(to_byte_string((*mail)[i]), &st) != 0) continue;
        bool is_new = st.st_mtime > start_usage.start_clock.tv_sec;
        if (st.st_size == 0 || st.st_atime > st.st_mtime ||
            (st.st_atime < mail_check_time && st.st_mtime < mail_check_time) ||
            (shell.login_shell && !is_new)) {
            continue;
        }
        if (count == 1) {
            std::fprintf(output_stream, "You have %smail.\n", is_new ? "new " : "");
        } else {
            std::fprintf(output_stream, "%s in %s.\n", is_new ? "New mail" : "Mail",
                         to_visible((*mail)[i]));
        }
    }
    mail_check_time = now;
}

void print_prompt() {
    std::string text;
    if (loop_active()) {
        text = "? ";
    } else {
        const CharString& prompt = var_value("prompt");
        for (std::size_t i = 0; i < prompt.size(); ++i) {
            int c = prompt[i] & TRIM;
            if (c != 0 && c == lexer.history_char) {
                text += std::to_string(history.current_event + 1);
            } else if (c == '\\' && i + 1 < prompt.size() && lexer.history_char != 0 &&
                       (prompt[i + 1] & TRIM) == lexer.history_char) {
                text += static_cast<char>(lexer.history_char);
                ++i;
            } else {
                text += static_cast<char>(c);
            }
        }
    }
    line_editor_before_prompt();
    std::fwrite(text.data(), 1, text.size(), output_stream);
    std::fflush(output_stream);
    line_editor_note_prompt(text);
}
