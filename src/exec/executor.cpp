#include "exec/executor.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <exception>
#include <list>
#include <memory>
#include <vector>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "core/signal_mask.h"
#include "core/signals.h"
#include "exec/builtin_entry.h"
#include "exec/command_search.h"
#include "exec/redirections.h"
#include "exec/reentry.h"
#include "expand/here_document.h"
#include "expand/substitute.h"
#include "jobs/job_reports.h"
#include "jobs/process_table.h"
#include "vars/variables.h"

namespace {

// SIGCHLD is held from the first fork of a pipeline until its last process is in the table.
struct ExecutorState {
    bool sigchld_held = false;
    sigset_t saved_signal_mask{};
} executor;

void hold_sigchld() {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGCHLD);
    mask_change(SIG_BLOCK, &s, &executor.saved_signal_mask);
    executor.sigchld_held = true;
}

void release_sigchld() {
    if (!executor.sigchld_held) return;
    mask_change(SIG_SETMASK, &executor.saved_signal_mask, nullptr);
    executor.sigchld_held = false;
}

bool words_are(const WordVector& w, std::size_t i, std::string_view text) {
    return i < w.size() && equals(w[i], text);
}

bool has_property(const BuiltinEntry* b, BuiltinProperty p) {
    return b && b->has(p);
}

// The prefix words nice, nohup and time become flags of the command.
void take_prefix_words(CommandNode& node) {
    WordVector& w = node.words;
    for (;;) {
        if (words_are(w, 0, "nice")) {
            if (w.size() < 2) return;
            if (!w[1].empty() && (w[1][0] == '+' || w[1][0] == '-')) {
                if (w.size() < 3) return;
                errors.error_name = "nice";
                node.nice_value = parse_number(w[1]);
                vec_drop_first(w, 2);
            } else {
                node.nice_value = 4;
                vec_drop_first(w, 1);
            }
            node.node_flags |= FLAG_NICE;
        } else if (words_are(w, 0, "nohup")) {
            if (w.size() < 2) return;
            node.node_flags |= FLAG_NOHUP;
            vec_drop_first(w, 1);
        } else if (words_are(w, 0, "time")) {
            if (w.size() < 2) return;
            node.node_flags |= FLAG_TIME;
            vec_drop_first(w, 1);
        } else {
            return;
        }
    }
}

void child_interrupt(int sig) {
    _exit(sig);
}

// True when the word, or one of the words, still holds a command substitution (a plain
// backquote).
bool has_backquote(const CharString& word) {
    return word.find(static_cast<Char>('`')) != CharString::npos;
}

bool has_command_substitution(const WordVector& words) {
    return std::any_of(words.begin(), words.end(), has_backquote);
}

// A program whose words or redirection words still hold a command substitution runs commands
// of its own in its child before the execution: that child must be a full one. A child that
// borrows the shell's memory would enter the substitution's process in the shell's own table
// (after an interrupt the shell would wait for a process that is not its child), and a stop
// there would leave the shell suspended behind it, unable to take the terminal back.
bool substitutes_in_child(const CommandNode& node) {
    return has_command_substitution(node.words) ||
           (node.output_word && has_backquote(*node.output_word)) ||
           (node.input_word && !(node.node_flags & FLAG_HERE_DOC) &&
            has_backquote(*node.input_word));
}

// The lines of the here documents of the trees being run, by node: the tree is left as parsed.
// A subshell's body, run in its child, finds the lines its parent read for the whole tree.
struct HereDocument {
    const CommandNode* node;
    WordVector lines;
};
std::vector<HereDocument> here_documents;

// The document's lines, read from the shell input the first time they are asked for. The
// latest reading wins: a tree run again inside its own run reads its documents again.
const WordVector& here_lines_of(const CommandNode& node) {
    for (auto d = here_documents.rbegin(); d != here_documents.rend(); ++d) {
        if (d->node == &node) return d->lines;
    }
    WordVector lines = read_here_lines(*node.input_word);
    return here_documents.emplace_back(HereDocument{&node, std::move(lines)}).lines;
}

// Every here document of a tree is read before any of its commands runs: its lines are the
// shell's input, whichever process runs the command (a list run in the background is one
// child) and whether it runs at all (the right side of && or ||). Their substitution comes
// when the command runs.
void read_documents_ahead(const CommandNode* tree) {
    if (!tree) return;
    if (!tree->left && !tree->right && !tree->body) {
        if (tree->node_flags & FLAG_HERE_DOC) {
            here_documents.emplace_back(HereDocument{tree, read_here_lines(*tree->input_word)});
        }
        return;
    }
    std::vector<const CommandNode*> pending{tree};
    while (!pending.empty()) {
        const CommandNode* node = pending.back();
        pending.pop_back();
        if (!node) continue;
        if (node->node_flags & FLAG_HERE_DOC) {
            here_documents.emplace_back(HereDocument{node, read_here_lines(*node->input_word)});
        }
        pending.push_back(node->right.get());
        pending.push_back(node->left.get());
        pending.push_back(node->body.get());
    }
}

// The documents read for one run of a tree are let go when it ends, on every way out.
class DocumentsOfRun {
  public:
    DocumentsOfRun() noexcept : before_(here_documents.size()) {}
    ~DocumentsOfRun() {
        here_documents.erase(here_documents.begin() + static_cast<std::ptrdiff_t>(before_),
                             here_documents.end());
    }
    DocumentsOfRun(const DocumentsOfRun&) = delete;
    DocumentsOfRun& operator=(const DocumentsOfRun&) = delete;

  private:
    std::size_t before_;
};

// A builtin run in the shell without redirections or pipes would only get copies of the
// shell's own descriptors on 0, 1 and 2, and its output reaches the same files through the
// shell's streams; the set-up is skipped then, except where 0, 1 and 2 reach something else:
// exec takes them as the shell's descriptors, if and repeat run a command again on them,
// login hands them to its program, and the child of a command substitution in the words reads
// the command's standard input from 0. (eval takes them when they were set up, and the
// shell's own descriptors otherwise: the same files.)
bool needs_descriptors(const CommandNode& node, const BuiltinEntry* builtin, bool forked) {
    if (forked || !builtin) return true;
    if (node.input_word || node.output_word ||
        (node.node_flags & (FLAG_PIPE_IN | FLAG_PIPE_OUT | FLAG_HERE_DOC))) {
        return true;
    }
    return builtin->has(BUILTIN_TAKES_STD_FDS) || has_command_substitution(node.words);
}

// The pipeline ends in a command run in the shell: the processes before it are a foreground
// job, waited for here (a job started with & is left to run). The command's descriptors are
// released by then, so a process that still writes into the pipe ends by SIGPIPE, which is no
// failure of the line: status stays as the command left it.
void wait_for_pipeline_before(bool background) {
    release_sigchld();
    if (jobs.job_in_progress && !background) wait_for_job_in_progress(JobStatus::Keep);
}

// A command that runs nothing (no words left, or skipped under -n) still takes its place in
// a pipeline: its neighbours see end of file, no pipe end stays open in the shell, and the
// processes before it are waited for when it ends the pipeline.
void stand_in_for_nothing(const CommandNode& node, PipeEnds* pipe_in, PipeEnds* pipe_out,
                          bool pipe_made) {
    const std::uint16_t f = node.node_flags;
    if (f & FLAG_PIPE_OUT) {
        if (!pipe_made) make_pipe(*pipe_out);
        close(pipe_out->fd[1]);
        pipe_out->fd[1] = -1;
    }
    if (f & FLAG_PIPE_IN) {
        close(pipe_in->fd[0]);
        close(pipe_in->fd[1]);
        pipe_in->fd[0] = pipe_in->fd[1] = -1;
        if (!(f & FLAG_PIPE_OUT)) wait_for_pipeline_before(f & FLAG_BACKGROUND);
    }
}

// An error raised while a pipeline is being started leaves the mask to the recovery point;
// the executor's own record of it must not outlive the pipeline.
struct HeldSigchldReset {
    int unwinding = std::uncaught_exceptions();
    ~HeldSigchldReset() {
        if (std::uncaught_exceptions() > unwinding) executor.sigchld_held = false;
    }
};

// The end of a node: 0, 1 and 2 are released, unless an if or repeat running the node again
// keeps them. What a builtin left in the streams goes where its output was meant to go.
void release_std_fds(std::uint16_t node_flags) {
    if (!fds.fds_prepared || (node_flags & FLAG_REPEAT)) return;
    std::fflush(output_stream);
    std::fflush(diagnostic_stream);
    close_std_fds();
}

std::uint16_t run_tree(const CommandNode* node, std::uint16_t inherited, JobGroup wants_terminal,
                       PipeEnds* pipe_in, PipeEnds* pipe_out);

// What runs in a child, or in the shell itself when the command does not fork.
void run_command_here(CommandNode& node, const BuiltinEntry* builtin, PipeEnds* pipe_in,
                      PipeEnds* pipe_out, bool forked, ChildScratch& scratch) {
    if (needs_descriptors(node, builtin, forked)) setup_redirections(node, pipe_in, pipe_out);
    if (node.node_flags & FLAG_PIPE_OUT) {
        close(pipe_out->fd[0]);
        close(pipe_out->fd[1]);
    }
    if (builtin) {
        reentry.run_builtin(node, *builtin);
        if (forked) exit_with_status();
        return;
    }
    if (node.node_type == CMD_SIMPLE) run_program(node, scratch);
    // A subshell: its standard descriptors become the shell's own.
    fds.saved_stdin = fd_copy(0, SAVED_STDIN_FD);
    fds.shell_out = fd_copy(1, SHELL_OUT_FD);
    fds.shell_diag = fd_copy(2, SHELL_DIAG_FD);
    set_cloexec(fds.saved_stdin);
    set_cloexec(fds.shell_out);
    set_cloexec(fds.shell_diag);
    if (fds.shell_in >= 0) close(fds.shell_in);
    fds.shell_in = -1;
    fds.fds_prepared = false;
    // The documents of the body were read with the whole tree.
    run_tree(subshell_body(node), node.node_flags & FLAG_NO_INTERRUPT, JobGroup::NONE, nullptr,
             nullptr);
    exit_with_status();
}

// A child that borrows the shell's memory: the shell is suspended until the child has
// executed its program or ended. Everything the child may change is saved and restored, and
// what it allocates for the execution lives in scratch, in the shell's frame.
//
// A real vfork, measured against fork on the exec benchmark (2000 runs of /bin/true from a
// loop, medians of 5 rounds, same run): vfork 1515 ms wall / 1446 ms user+system, fork
// 2068 ms / 1887 ms, dash 1323-1410 ms. fork copies the shell's page tables for every program
// and costs about 30% more; vfork keeps orv at the posix_spawn floor.
pid_t shared_memory_fork(CommandNode& node, JobGroup wants_terminal, PipeEnds* pipe_in,
                         PipeEnds* pipe_out, ChildScratch& scratch) {
    if (wants_terminal != JobGroup::NONE && !executor.sigchld_held && !shell.no_execute)
        hold_sigchld();
    sigset_t hold, before;
    sigemptyset(&hold);
    sigaddset(&hold, SIGCHLD);
    sigaddset(&hold, SIGINT);
    mask_change(SIG_BLOCK, &hold, &before);
    struct Saved {
        int fork_depth;
        bool handle_interrupts;
        pid_t terminal_pgrp;
        bool error_seen;
        Descriptors descriptors;
        ExecutorState exec;
    } saved{shell.fork_depth, shell.handle_interrupts, shell.terminal_pgrp, errors.error_seen, fds,
            executor};
    std::fflush(output_stream);
    std::fflush(diagnostic_stream);
    bool ignore_interrupts =
        shell.handle_interrupts &&
        ((shell.terminal_pgrp == -1 && (node.node_flags & FLAG_NO_INTERRUPT)) ||
         session.interrupts_ignored());
    pid_t group = jobs.job_in_progress ? jobs.job_in_progress->leader_pid : 0;

    pid_t pid = vfork();
    if (pid == 0) {
        int status = 1;
        try {
            shell.in_shared_child = true;
            if (executor.sigchld_held) {
                mask_change(SIG_SETMASK, &executor.saved_signal_mask, nullptr);
                executor.sigchld_held = false;
            }
            if (group == 0) group = getpid();
            ++shell.fork_depth;
            if (shell.handle_interrupts) {
                shell.handle_interrupts = false;
                if (ignore_interrupts) {
                    signal(SIGINT, SIG_IGN);
                    signal(SIGQUIT, SIG_IGN);
                } else {
                    signal(SIGINT, child_interrupt);
                    signal(SIGQUIT, SIG_DFL);
                }
                if (wants_terminal != JobGroup::NONE) {
                    signal(SIGTSTP, SIG_DFL);
                    signal(SIGTTIN, SIG_DFL);
                    signal(SIGTTOU, SIG_DFL);
                }
                sigaction(SIGTERM, &shell.inherited_sigterm, nullptr);
            } else if (shell.terminal_pgrp == -1 && (node.node_flags & FLAG_NO_INTERRUPT)) {
                signal(SIGINT, SIG_IGN);
                signal(SIGQUIT, SIG_IGN);
            }
            unblock_signal(SIGINT);
            join_job_group(wants_terminal, group);
            if (node.node_flags & FLAG_NOHUP) signal(SIGHUP, SIG_IGN);
            if (node.node_flags & FLAG_NICE) setpriority(PRIO_PROCESS, 0, node.nice_value);
            run_command_here(node, nullptr, pipe_in, pipe_out, true, scratch);
        } catch (const SharedChildExit& e) {
            status = e.status;
        } catch (...) {
        }
        _exit(status);
    }
    shell.fork_depth = saved.fork_depth;
    shell.handle_interrupts = saved.handle_interrupts;
    shell.terminal_pgrp = saved.terminal_pgrp;
    shell.in_shared_child = false;
    errors.error_seen = saved.error_seen;
    fds = saved.descriptors;
    executor = saved.exec;
    scratch = ChildScratch{};
    if (pid < 0) {
        mask_change(SIG_SETMASK, &before, nullptr);
        error_raise(ERR_NO_MORE_PROCESSES);
    }
    add_process(pid, &node);
    mask_change(SIG_SETMASK, &before, nullptr);
    return pid;
}

// Starts the run of a simple command or subshell of a tree: node gets the tree node's words
// and redirections, and its flags with those handed down (inherited). The node's strings and
// vector keep their room from its last run.
void begin_run(const CommandNode& tree_node, std::uint16_t inherited, CommandNode& node) {
    node.node_type = tree_node.node_type;
    node.node_flags = tree_node.node_flags | inherited;
    if (tree_node.input_word) {
        node.input_word = *tree_node.input_word;
    } else {
        node.input_word.reset();
    }
    if (tree_node.output_word) {
        node.output_word = *tree_node.output_word;
    } else {
        node.output_word.reset();
    }
    node.nice_value = tree_node.nice_value;
    node.run_body = subshell_body(tree_node);
    node.words = tree_node.words;
}

// The nodes of the runs under way, and spare ones kept for the next runs with the room of their
// words: a loop body run again allocates nothing to copy its words.
class RunNode {
  public:
    RunNode() {
        if (spare_.empty()) {
            node_ = std::make_unique<CommandNode>();
        } else {
            node_ = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    ~RunNode() {
        if (spare_.size() < SPARE_MAX) spare_.push_back(std::move(node_));
    }
    RunNode(const RunNode&) = delete;
    RunNode& operator=(const RunNode&) = delete;
    CommandNode& operator*() const noexcept { return *node_; }

  private:
    static constexpr std::size_t SPARE_MAX = 16;
    static inline std::vector<std::unique_ptr<CommandNode>> spare_;
    std::unique_ptr<CommandNode> node_;
};

// Runs the simple command or subshell tree_node through node, a node of its own for this run.
void execute_command(const CommandNode& tree_node, std::uint16_t inherited, CommandNode& node,
                     JobGroup wants_terminal, PipeEnds* pipe_in, PipeEnds* pipe_out) {
    HeldSigchldReset held_sigchld_reset;
    begin_run(tree_node, inherited, node);
    const bool simple = node.node_type == CMD_SIMPLE;
    if (simple) {
        if (!node.words.empty() && !node.words[0].empty() && node.words[0][0] == quoted(0)) {
            node.words[0].erase(0, 1);
        }
        if (!(node.node_flags & FLAG_REPEAT)) substitute_command_words(node);
        if (node.words.empty()) {
            stand_in_for_nothing(node, pipe_in, pipe_out, false);
            return;
        }
    }
    if (node.node_flags & FLAG_PIPE_OUT) make_pipe(*pipe_out);
    if (node.node_flags & FLAG_HERE_DOC) {
        close(0);
        read_here_document(*node.input_word, here_lines_of(tree_node));
        if (shell.no_execute) close(0);
    }
    set_status(0);
    // Taken before find_builtin, which consumes the & of a %job word.
    const bool background = node.node_flags & FLAG_BACKGROUND;
    const BuiltinEntry* builtin = nullptr;
    if (simple) {
        take_prefix_words(node);
        builtin = reentry.find_builtin(node);
    }
    if (shell.no_execute && (!builtin || !builtin->has(BUILTIN_SCRIPTING))) {
        stand_in_for_nothing(node, pipe_in, pipe_out, true);
        return;
    }
    if (has_property(builtin, BUILTIN_CHANGES_DIR)) {
        node.node_flags &= static_cast<std::uint16_t>(~FLAG_NICE);
    }
    const std::uint16_t f = node.node_flags;
    bool forks =
        (f & FLAG_TIME) ||
        (!(f & FLAG_NO_FORK) &&
         (!builtin || (f & (FLAG_PIPE_OUT | FLAG_BACKGROUND | FLAG_NICE | FLAG_NOHUP)))) ||
        (has_property(builtin, BUILTIN_FORKS_IN_PIPE) && (f & (FLAG_PIPE_IN | FLAG_PIPE_OUT)));
    ChildScratch scratch;
    if (!forks) {
        run_command_here(node, builtin, pipe_in, pipe_out, false, scratch);
        if (f & FLAG_PIPE_IN) {
            // Descriptor 0 holds the last read end of the pipe: released first, or a process
            // before the builtin that fills the pipe would never end.
            release_std_fds(node.node_flags);
            wait_for_pipeline_before(background);
        }
        return;
    }
    bool full =
        !simple || (f & (FLAG_REPEAT | FLAG_BACKGROUND)) || builtin || substitutes_in_child(node);
    if (full) {
        if (wants_terminal != JobGroup::NONE && !executor.sigchld_held) hold_sigchld();
        pid_t pid = fork_child(&node, wants_terminal);
        if (pid == 0) {
            release_sigchld();
            run_command_here(node, builtin, pipe_in, pipe_out, true, scratch);
            exit_with_status();
        }
        if (f & FLAG_BACKGROUND) session.last_background_pid = pid;
    } else {
        shared_memory_fork(node, wants_terminal, pipe_in, pipe_out, scratch);
    }
    // Only the child writes into the pipe: the shell keeps the read end for the next command,
    // and never the write end, or what reads the pipe would not see its end while the shell
    // waits.
    if (f & FLAG_PIPE_OUT) {
        close(pipe_out->fd[1]);
        pipe_out->fd[1] = -1;
    }
    if (!fds.fds_prepared && (f & FLAG_PIPE_IN)) {
        close(pipe_in->fd[0]);
        close(pipe_in->fd[1]);
    }
    // The child has the document; the shell keeps no descriptor of it (the file is gone once
    // the last one is closed).
    if (!fds.fds_prepared && (f & FLAG_HERE_DOC)) close(0);
    if (!(f & FLAG_PIPE_OUT)) {
        release_sigchld();
        if (!(f & FLAG_BACKGROUND)) wait_for_job_in_progress();
    }
}

// The walk itself; the here documents of the tree have been read. inherited holds the flags
// the nodes above hand down to this one; the tree itself is not changed. Returns the flags of
// the node as its run left them (a builtin may take the background flag of its command).
std::uint16_t run_tree(const CommandNode* node, std::uint16_t inherited, JobGroup wants_terminal,
                       PipeEnds* pipe_in, PipeEnds* pipe_out) {
    // Lists and pipelines are walked in a loop rather than by recursion on their right side,
    // so that a line of many commands needs no deep stack. The pipes between the processes of
    // a pipeline live here, at stable addresses, until the walk is done.
    std::list<PipeEnds> pipes;
    const CommandNode* const root = node;
    const std::uint16_t root_flags = node ? node->node_flags | inherited : 0;
    while (node) {
        const std::uint16_t flags = node->node_flags | inherited;
        if (flags & FLAG_BACKGROUND) wants_terminal = JobGroup::JOIN;
        const CommandNode* left = node->left.get();
        const CommandNode* right = node->right.get();
        switch (node->node_type) {
            case CMD_PIPE: {
                PipeEnds& p = pipes.emplace_back();
                constexpr std::uint16_t to_left =
                    FLAG_BACKGROUND | FLAG_PIPE_IN | FLAG_NO_INTERRUPT | FLAG_ERR_TOO;
                run_tree(left, (flags & to_left) | FLAG_PIPE_OUT, wants_terminal, pipe_in, &p);
                constexpr std::uint16_t to_right =
                    FLAG_BACKGROUND | FLAG_PIPE_OUT | FLAG_NO_FORK | FLAG_NO_INTERRUPT;
                inherited = (flags & to_right) | FLAG_PIPE_IN;
                // The right side is walked in this loop too: a pipe nests to the right.
                if (wants_terminal != JobGroup::NONE) wants_terminal = JobGroup::JOIN;
                pipe_in = &p;
                node = right;
                continue;
            }
            case CMD_LIST:
            case CMD_OR:
            case CMD_AND: {
                std::uint16_t left_flags = 0;
                if (left) {
                    left_flags =
                        run_tree(left, flags & FLAG_NO_INTERRUPT, wants_terminal, nullptr, nullptr);
                }
                if (node->node_type == CMD_LIST) {
                    if ((left_flags & FLAG_BACKGROUND) && right &&
                        !(right->node_flags & FLAG_BACKGROUND)) {
                        announce_background_job();
                    }
                } else {
                    bool success = parse_number(var_value("status")) == 0;
                    if (success == (node->node_type == CMD_OR)) return root_flags;
                }
                inherited = flags & (FLAG_NO_FORK | FLAG_NO_INTERRUPT);
                release_std_fds(flags);
                node = right;
                pipe_in = pipe_out = nullptr;
                continue;
            }
            case CMD_SIMPLE:
            case CMD_SUBSHELL: {
                RunNode run;
                execute_command(*node, inherited, *run, wants_terminal, pipe_in, pipe_out);
                release_std_fds((*run).node_flags);
                return node == root ? (*run).node_flags : root_flags;
            }
            default:
                return root_flags;
        }
    }
    return root_flags;
}

}  // namespace

void execute_tree(const CommandNode* node, JobGroup wants_terminal, PipeEnds* pipe_in,
                  PipeEnds* pipe_out) {
    DocumentsOfRun documents;
    read_documents_ahead(node);
    run_tree(node, 0, wants_terminal, pipe_in, pipe_out);
}
