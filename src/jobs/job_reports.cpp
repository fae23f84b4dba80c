#include "jobs/job_reports.h"

#include <stdio_ext.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "core/descriptors.h"
#include "core/signal_mask.h"
#include "dirs/directory_stack.h"
#include "jobs/usage.h"

namespace {

// The state column of a stop or a signal death: the system's own description.
const char* signal_description(int sig) {
    const char* text = sigdescr_np(sig);
    return text ? text : strsignal(sig);
}

bool dir_differs_from_shell(const ProcessEntry* leader) {
    return leader->job_dir && current_dir && leader->job_dir->name != current_dir->name;
}

// The output of one report, remembering whether anything stands on the current line.
class ReportLine {
  public:
    bool at_line_start() const { return at_line_start_; }
    void text(const char* s) {
        if (*s) {
            std::fputs(s, output_stream);
            at_line_start_ = false;
        }
    }
    // A write of nothing (the blank state column when there is no command column to pad for)
    // leaves the line empty, so that the report does not end an empty line for it.
    template <class... Args>
    void format(const char* fmt, Args... args) {
        if (std::fprintf(output_stream, fmt, args...) > 0) at_line_start_ = false;
    }
    void newline() {
        std::fputc('\n', output_stream);
        at_line_start_ = true;
    }
    void tilde(const CharString& name) {
        tilde_form(name, output_stream);
        at_line_start_ = false;
    }
    // After a line that ends with something else than a newline we wrote (a usage report).
    void mark_line_start() { at_line_start_ = true; }

  private:
    bool at_line_start_ = true;
};

// The command text under construction: at most COMMAND_TEXT_MAX characters, then " ...".
class CommandText {
  public:
    CommandText() { text_.reserve(COMMAND_TEXT_MAX + 4); }

    void add(CharView piece) {
        if (!piece.empty() && piece[0] == quoted(0)) piece.remove_prefix(1);
        if (length_ >= COMMAND_TEXT_MAX) return;
        if (length_ + piece.size() >= static_cast<std::size_t>(COMMAND_TEXT_MAX)) {
            text_ += chars(" ...");
            length_ = COMMAND_TEXT_MAX;
            return;
        }
        text_ += piece;
        length_ += piece.size();
    }
    void add(const char* piece) {
        Char buffer[8];  // the fixed pieces are short
        std::size_t n = 0;
        while (piece[n]) {
            buffer[n] = static_cast<Char>(static_cast<unsigned char>(piece[n]));
            ++n;
        }
        add(CharView(buffer, n));
    }
    void add_tree(const CommandNode* node);
    CharString take() { return std::move(text_); }

  private:
    CharString text_;
    std::size_t length_ = 0;
};

void CommandText::add_tree(const CommandNode* node) {
    if (!node) return;
    switch (node->node_type) {
        case CMD_SIMPLE:
            for (std::size_t i = 0; i < node->words.size(); ++i) {
                if (i > 0) add(" ");
                add(node->words[i]);
            }
            break;
        case CMD_SUBSHELL:
            add("( ");
            add_tree(subshell_body(*node));
            add(" )");
            break;
        case CMD_PIPE:
        case CMD_LIST:
        case CMD_OR:
        case CMD_AND: {
            static constexpr const char* separator[] = {" | ", "; ", " || ", " && "};
            add_tree(node->left.get());
            add(separator[node->node_type - CMD_PIPE]);
            add_tree(node->right.get());
            return;
        }
        default:
            return;
    }
    if (node->input_word && !(node->node_flags & FLAG_PIPE_IN)) {
        add(node->node_flags & FLAG_HERE_DOC ? " << " : " < ");
        add(*node->input_word);
    }
    if (node->output_word && !(node->node_flags & FLAG_PIPE_OUT)) {
        add(node->node_flags & FLAG_APPEND ? " >>" : " >");
        if (node->node_flags & FLAG_ERR_TOO) add("&");
        add(" ");
        add(*node->output_word);
    }
}

}  // namespace

std::uint16_t report_job(ProcessEntry* p, int options) {
    __fpurge(output_stream);
    ProcessEntry* leader = job_leader(p);
    if (leader->job_next == leader && (leader->status_flags & PROC_TIME_EACH)) {
        leader->status_flags =
            static_cast<std::uint16_t>((leader->status_flags & ~PROC_TIME_EACH) | PROC_TIMED);
    }
    const char* column = (options & SHOW_COMMAND) ? "%-23s" : "%s";
    int last_status = -1;
    int last_reason = -1;
    std::uint16_t flags = 0;
    ReportLine line;

    ProcessEntry* q = leader;
    do {
        flags |= q->status_flags;
        int state = q->status_flags & PROC_STATE_MASK;
        bool is_last = q->job_next == leader;
        bool same_state = state == last_status && q->reason == last_reason;
        if (q != leader && !line.at_line_start() && !(options & SHOW_PID) &&
            (same_state || !(options & SHOW_REASON))) {
            // Processes in the same state share the line.
            line.text(" ");
        } else {
            if (q != leader && !line.at_line_start()) line.newline();
            if (options & SHOW_NUMBER) {
                if (q == leader) {
                    char mark = q == jobs.current_job ? '+' : q == jobs.previous_job ? '-' : ' ';
                    line.format("[%d]%s %c ", q->job_number, q->job_number < 10 ? " " : "", mark);
                } else {
                    line.text("       ");
                }
            }
            if (options & SHOW_PID) line.format("%5d ", static_cast<int>(q->pid));
            if (options & (SHOW_REASON | SHOW_ABNORMAL)) {
                if (same_state) {
                    line.format(column, "");
                } else {
                    last_status = state;
                    last_reason = q->reason;
                    switch (state) {
                        case PROC_RUNNING:
                            line.format(column, "Running ");
                            break;
                        case PROC_STOPPED:
                        case PROC_SIGNALED:
                        case PROC_INTERRUPTED:
                            if ((options & SHOW_REASON) ||
                                (q->reason != SIGINT &&
                                 !(q->reason == SIGPIPE && (q->status_flags & PROC_PIPED_OUT)))) {
                                line.format(column, signal_description(q->reason));
                            }
                            break;
                        case PROC_EXITED:
                        case PROC_EXITED_NONZERO:
                            if (options & SHOW_REASON) {
                                if (q->reason) {
                                    line.format("Exit %-18d", static_cast<int>(q->reason));
                                } else {
                                    line.format(column, "Done");
                                }
                            }
                            break;
                        default:
                            std::fprintf(diagnostic_stream, "BUG: status=%-9o", state);
                            break;
                    }
                }
            }
        }
        if (options & SHOW_COMMAND) {
            line.text(to_visible(q->command_text));
            if (q->status_flags & PROC_PIPED_OUT) line.text(" |");
            if (q->status_flags & PROC_ERR_PIPED) line.text("&");
        }
        if ((options & (SHOW_REASON | SHOW_ABNORMAL)) && (q->status_flags & PROC_CORE_DUMPED)) {
            line.text(" (core dumped)");
        }
        if (is_last) {
            if (options & SHOW_AMPERSAND) line.text(" &");
            if ((options & SHOW_JOB_DIR) && dir_differs_from_shell(leader)) {
                line.text(" (wd: ");
                line.tilde(leader->job_dir->name);
                line.text(")");
            }
        }
        // No state column (last_status -1) counts as running or stopped: no usage then.
        bool ended = last_status != -1 && !(last_status & (PROC_RUNNING | PROC_STOPPED));
        if ((q->status_flags & PROC_TIME_EACH) && ended) {
            if (!line.at_line_start()) line.text("\n\t");
            print_usage(rusage{}, q->usage, q->end_time, q->start_time);
            line.mark_line_start();
        } else if (is_last && !line.at_line_start()) {
            line.newline();
        }
        if (is_last && (options & SHOW_SHELL_DIR) && dir_differs_from_shell(leader)) {
            std::fputs("(wd now: ", output_stream);
            tilde_form(current_dir->name, output_stream);
            std::fputs(")\n", output_stream);
        }
        q = q->job_next;
    } while (q != leader);

    if ((flags & PROC_TIMED) && !(flags & (PROC_RUNNING | PROC_STOPPED))) {
        struct rusage total {};
        struct timeval longest {};
        q = leader;
        do {
            add_usage(total, q->usage);
            struct timeval took = time_difference(q->end_time, q->start_time);
            if (timercmp(&took, &longest, >)) longest = took;
            q = q->job_next;
        } while (q != leader);
        print_usage(rusage{}, total, longest, timeval{});
    }
    std::fflush(output_stream);
    return flags;
}

CharString format_command_tree(const CommandNode* node) {
    CommandText text;
    text.add_tree(node);
    return text.take();
}

void announce_background_job() {
    if (ProcessEntry* job = jobs.job_in_progress) {
        ProcessEntry* leader = job_leader(job);
        if (!(leader->status_flags & (PROC_FOREGROUND | PROC_STOPPED))) {
            std::fprintf(output_stream, "[%d]", leader->job_number);
            ProcessEntry* q = leader;
            do {
                std::fprintf(output_stream, " %d", static_cast<int>(q->pid));
                q = q->job_next;
            } while (q != leader);
            std::fputc('\n', output_stream);
            std::fflush(output_stream);
        }
    }
    jobs.job_in_progress = nullptr;
    jobs.held_job = nullptr;
}

void report_pending_jobs() {
    jobs.notes_pending = 0;
    for (ProcessEntry& e : jobs.process_table) {
        if (!(e.status_flags & PROC_NEEDS_NOTE)) continue;
        SignalsBlocked hold({SIGCHLD});
        e.status_flags &= static_cast<std::uint16_t>(~PROC_NEEDS_NOTE);
        std::uint16_t flags = report_job(&e, SHOW_NUMBER | SHOW_COMMAND | SHOW_REASON);
        if (!(flags & (PROC_RUNNING | PROC_STOPPED))) forget_job(&e);
    }
}
