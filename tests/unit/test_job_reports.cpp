#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "builtins/job_builtins.h"
#include "core/descriptors.h"
#include "core/errors.h"
#include "dirs/directory_stack.h"
#include "jobs/job_control.h"
#include "jobs/job_reports.h"
#include "jobs/process_table.h"
#include "test_support.h"
#include "vars/variables.h"

namespace {

// One process of a hand-made job: its id, state flags, reason and command text.
struct Proc {
    pid_t pid;
    std::uint16_t flags;
    std::uint8_t reason;
    const char* text;
};

std::string pad(const std::string& s, std::size_t width) {
    return s + std::string(width > s.size() ? width - s.size() : 0, ' ');
}

std::string blanks(std::size_t n) {
    return std::string(n, ' ');
}

// Reports go to the output stream, "BUG" lines to the diagnostic stream: both are captured.
// The job table and the directory globals start empty and are put back afterwards.
class JobReportsTest : public testing::Test {
  protected:
    void SetUp() override {
        saved_dir_ = current_dir;
        jobs = JobTable{};
        current_dir = nullptr;
        shell_variables.erase(chars("time"));
        shell_variables.erase(chars("home"));
    }
    void TearDown() override {
        current_dir = saved_dir_;
        jobs = JobTable{};
        shell_variables.erase(chars("home"));
    }

    // What was written since the last look; the stream is emptied for the next one.
    std::string output() { return capture_.output(); }
    std::string diagnostics() { return capture_.diagnostics(); }

    // Enters a job as add_process would: newest entries first, the ring in start order.
    ProcessEntry* make_job(int number, std::initializer_list<Proc> procs) {
        ProcessEntry* leader = nullptr;
        ProcessEntry* last = nullptr;
        for (const Proc& p : procs) {
            jobs.process_table.emplace_front();
            ProcessEntry* e = &jobs.process_table.front();
            e->pid = p.pid;
            e->leader_pid = procs.begin()->pid;
            e->job_number = number;
            e->status_flags = p.flags;
            e->reason = p.reason;
            e->command_text = chars(p.text);
            index_process(e);
            if (!leader) {
                leader = e;
            } else {
                last->job_next = e;
            }
            last = e;
        }
        last->job_next = leader;
        jobs.job_numbers.take(number);
        return leader;
    }

  private:
    StreamCapture capture_;
    DirEntry* saved_dir_ = nullptr;
};

constexpr int LISTING = SHOW_NUMBER | SHOW_COMMAND | SHOW_REASON;
constexpr int AFTER_WAIT = SHOW_ABNORMAL | SHOW_SHELL_DIR;

TEST_F(JobReportsTest, JobNumberAndMarkPrefix) {
    struct Row {
        int number;
        int role;  // 1 current, 2 previous, 0 neither
        const char* prefix;
    } rows[] = {
        {3, 1, "[3]  + "},
        {12, 2, "[12] - "},
        {5, 0, "[5]    "},
        {10, 1, "[10] + "},
    };
    for (const Row& row : rows) {
        jobs = JobTable{};
        ProcessEntry* job = make_job(row.number, {{100, PROC_RUNNING, 0, "sleep 100"}});
        if (row.role == 1) jobs.current_job = job;
        if (row.role == 2) jobs.previous_job = job;
        std::uint16_t flags = report_job(job, LISTING);
        EXPECT_EQ(output(), std::string(row.prefix) + pad("Running ", 23) + "sleep 100\n")
            << row.number;
        EXPECT_EQ(flags, PROC_RUNNING);
    }
}

TEST_F(JobReportsTest, ProcessesInTheSameStateShareOneLine) {
    ProcessEntry* job = make_job(1, {{10, PROC_RUNNING | PROC_PIPED_OUT, 0, "ls"},
                                     {11, PROC_RUNNING | PROC_PIPED_OUT | PROC_ERR_PIPED, 0, "tr"},
                                     {12, PROC_RUNNING, 0, "wc"}});
    jobs.current_job = job;
    report_job(job, LISTING);
    EXPECT_EQ(output(), "[1]  + " + pad("Running ", 23) + "ls | tr |& wc\n");
}

TEST_F(JobReportsTest, DifferingStatesStartIndentedLines) {
    ProcessEntry* job = make_job(1, {{10, PROC_EXITED | PROC_PIPED_OUT, 0, "a"},
                                     {11, PROC_EXITED_NONZERO | PROC_PIPED_OUT, 1, "b"},
                                     {12, PROC_EXITED, 0, "c"}});
    jobs.current_job = job;
    std::uint16_t flags = report_job(job, LISTING);
    EXPECT_EQ(output(), "[1]  + " + pad("Done", 23) + "a |\n" +        //
                            blanks(7) + pad("Exit 1", 23) + "b |\n" +  //
                            blanks(7) + pad("Done", 23) + "c\n");
    EXPECT_EQ(flags & PROC_STATE_MASK, PROC_EXITED | PROC_EXITED_NONZERO);
}

TEST_F(JobReportsTest, ProcessIdsGiveEveryProcessItsOwnLine) {
    ProcessEntry* job = make_job(1, {{101, PROC_RUNNING | PROC_PIPED_OUT, 0, "a"},
                                     {102, PROC_RUNNING, 0, "b"},
                                     {40000, PROC_STOPPED, SIGTSTP, "c"}});
    report_job(job, LISTING | SHOW_PID);
    EXPECT_EQ(output(), "[1]      101 " + pad("Running ", 23) + "a |\n" +  //
                            blanks(7) + "  102 " + blanks(23) + "b\n" +    //
                            blanks(7) + "40000 " + pad(sigdescr_np(SIGTSTP), 23) + "c\n");
}

TEST_F(JobReportsTest, AbnormalOnlyShowsStopsAndSignalDeaths) {
    struct Row {
        std::uint16_t flags;
        int reason;
        std::string expected;
    } rows[] = {
        {PROC_EXITED, 0, ""},
        {PROC_EXITED_NONZERO, 3, ""},
        {PROC_INTERRUPTED, SIGINT, ""},
        {PROC_SIGNALED, SIGTERM, std::string(sigdescr_np(SIGTERM)) + "\n"},
        {PROC_SIGNALED, SIGPIPE, std::string(sigdescr_np(SIGPIPE)) + "\n"},
        {PROC_SIGNALED | PROC_PIPED_OUT, SIGPIPE, ""},
        {PROC_SIGNALED | PROC_CORE_DUMPED, SIGSEGV,
         std::string(sigdescr_np(SIGSEGV)) + " (core dumped)\n"},
        {PROC_STOPPED, SIGTSTP, std::string(sigdescr_np(SIGTSTP)) + "\n"},
    };
    for (const Row& row : rows) {
        jobs = JobTable{};
        ProcessEntry* job =
            make_job(1, {{10, row.flags, static_cast<std::uint8_t>(row.reason), "x"}});
        report_job(job, AFTER_WAIT);
        EXPECT_EQ(output(), row.expected) << row.flags << " " << row.reason;
    }
}

TEST_F(JobReportsTest, WriterKilledByBrokenPipeIsNotReported) {
    ProcessEntry* job = make_job(
        1, {{10, PROC_SIGNALED | PROC_PIPED_OUT, SIGPIPE, "yes"}, {11, PROC_EXITED, 0, "head"}});
    report_job(job, AFTER_WAIT);
    EXPECT_EQ(output(), "");
    // The full listing names the signal all the same.
    report_job(job, LISTING);
    EXPECT_EQ(output(), "[1]    " + pad(sigdescr_np(SIGPIPE), 23) + "yes |\n" + blanks(7) +
                            pad("Done", 23) + "head\n");
}

TEST_F(JobReportsTest, ForegroundAndBackgroundRestartLines) {
    ProcessEntry* job =
        make_job(2, {{10, PROC_RUNNING | PROC_PIPED_OUT, 0, "ls"}, {11, PROC_RUNNING, 0, "more"}});
    report_job(job, SHOW_COMMAND | SHOW_JOB_DIR);
    EXPECT_EQ(output(), "ls | more\n");
    report_job(job, SHOW_NUMBER | SHOW_COMMAND | SHOW_AMPERSAND);
    EXPECT_EQ(output(), "[2]    ls | more &\n");
}

TEST_F(JobReportsTest, DirectoriesShownWhenTheyDiffer) {
    var_store(chars("home"), WordVector{chars("/home/u")}, shell_variables);
    DirEntry job_dir;
    job_dir.name = chars("/home/u/src");
    DirEntry shell_dir;
    shell_dir.name = chars("/tmp");
    current_dir = &shell_dir;
    ProcessEntry* job = make_job(1, {{10, PROC_RUNNING, 0, "vi a"}});
    job->job_dir = &job_dir;

    report_job(job, SHOW_COMMAND | SHOW_JOB_DIR);
    EXPECT_EQ(output(), "vi a (wd: ~/src)\n");

    job->status_flags = PROC_EXITED;
    report_job(job, AFTER_WAIT);
    EXPECT_EQ(output(), "(wd now: /tmp)\n");

    // The same directory under another record shows nothing.
    shell_dir.name = job_dir.name;
    report_job(job, AFTER_WAIT);
    report_job(job, SHOW_COMMAND | SHOW_JOB_DIR);
    EXPECT_EQ(output(), "vi a\n");
}

TEST_F(JobReportsTest, UnknownStateIsReportedAsBug) {
    ProcessEntry* job = make_job(1, {{10, PROC_RUNNING | PROC_STOPPED, 0, "x"}});
    report_job(job, LISTING);
    EXPECT_EQ(diagnostics(), "BUG: status=3        ");
    EXPECT_EQ(output(), "[1]    x\n");
}

TEST_F(JobReportsTest, TimedSingleProcessPrintsJobUsage) {
    ProcessEntry* job = make_job(1, {{10, PROC_EXITED | PROC_TIME_EACH, 0, "cc x.c"}});
    job->usage.ru_utime = {1, 500000};
    job->start_time = {10, 0};
    job->end_time = {12, 500000};
    std::uint16_t flags = report_job(job, AFTER_WAIT);
    EXPECT_EQ(output(), "1.5u 0.0s 0:02.50 60.0% 0+0k 0+0io 0pf+0w\n");
    EXPECT_TRUE(flags & PROC_TIMED);
    EXPECT_FALSE(flags & PROC_TIME_EACH);
}

TEST_F(JobReportsTest, TimedProcessOfPipelineGetsTabIndentedUsage) {
    ProcessEntry* job = make_job(1, {{10, PROC_EXITED | PROC_PIPED_OUT | PROC_TIME_EACH, 0, "a"},
                                     {11, PROC_EXITED, 0, "b"}});
    report_job(job, LISTING);
    EXPECT_EQ(output(), "[1]    " + pad("Done", 23) + "a |\n\t" +
                            "0.0u 0.0s 0:00.00 0.0% 0+0k 0+0io 0pf+0w\n" + blanks(7) + blanks(23) +
                            "b\n");
}

TEST_F(JobReportsTest, AnnouncesBackgroundJobWithEveryProcessId) {
    ProcessEntry* job = make_job(
        2, {{201, PROC_RUNNING, 0, "a"}, {202, PROC_RUNNING, 0, "b"}, {203, PROC_RUNNING, 0, "c"}});
    jobs.job_in_progress = job;
    jobs.held_job = job;
    announce_background_job();
    EXPECT_EQ(output(), "[2] 201 202 203\n");
    EXPECT_EQ(jobs.job_in_progress, nullptr);
    EXPECT_EQ(jobs.held_job, nullptr);

    job->status_flags |= PROC_FOREGROUND;
    jobs.job_in_progress = job;
    announce_background_job();
    EXPECT_EQ(output(), "");
    EXPECT_EQ(jobs.job_in_progress, nullptr);
}

TEST_F(JobReportsTest, PendingNotesReportAndForgetEndedJobs) {
    ProcessEntry* done = make_job(1, {{10, PROC_EXITED | PROC_NEEDS_NOTE, 0, "make"}});
    ProcessEntry* stopped = make_job(2, {{20, PROC_STOPPED | PROC_NEEDS_NOTE, SIGTTIN, "vi"}});
    ProcessEntry* quiet = make_job(3, {{30, PROC_RUNNING, 0, "sleep 9"}});
    jobs.notes_pending = 2;
    report_pending_jobs();
    // Newest first.
    EXPECT_EQ(output(), "[2]    " + pad(sigdescr_np(SIGTTIN), 23) + "vi\n" + "[1]    " +
                            pad("Done", 23) + "make\n");
    EXPECT_EQ(jobs.notes_pending, 0);
    EXPECT_EQ(done->pid, 0);
    EXPECT_EQ(stopped->pid, 20);
    EXPECT_FALSE(stopped->status_flags & PROC_NEEDS_NOTE);
    EXPECT_EQ(quiet->pid, 30);
    EXPECT_EQ(jobs.job_numbers.max_job_number(), 3);
}

// ---- The jobs listing, the stopped-jobs warning, stop on a stopped job ----

TEST_F(JobReportsTest, JobsListsByNumberAndForgetsFinishedJobsOnce) {
    ProcessEntry* running = make_job(3, {{30, PROC_RUNNING | PROC_NEEDS_NOTE, 0, "sleep 9"}});
    ProcessEntry* done = make_job(1, {{10, PROC_EXITED_NONZERO, 2, "make"}});
    CommandNode node;
    WordVector words{chars("jobs")};
    builtin_jobs(words, node);
    // In job-number order, not table order; a pending note is taken by the listing.
    EXPECT_EQ(output(),
              "[1]    " + pad("Exit 2", 23) + "make\n[3]    " + pad("Running ", 23) + "sleep 9\n");
    EXPECT_EQ(done->pid, 0);
    EXPECT_FALSE(running->status_flags & PROC_NEEDS_NOTE);
    builtin_jobs(words, node);
    EXPECT_EQ(output(), "[3]    " + pad("Running ", 23) + "sleep 9\n");
}

TEST_F(JobReportsTest, JobsRenewsTheStoppedJobsWarningOnlyOnceGiven) {
    CommandNode node;
    WordVector words{chars("jobs")};
    struct Row {
        int before, after;
    } rows[] = {{0, 0}, {1, 2}, {2, 2}};
    for (const Row& row : rows) {
        stop_warned = row.before;
        builtin_jobs(words, node);
        EXPECT_EQ(stop_warned, row.after) << row.before;
    }
    stop_warned = 0;
}

TEST_F(JobReportsTest, LeavingWithAStoppedJobIsRefused) {
    errors = ErrorState{};
    stop_warned = 0;
    ProcessEntry* job = make_job(1, {{10, PROC_RUNNING, 0, "sleep 9"}});
    EXPECT_NO_THROW(check_stopped_jobs(true));
    EXPECT_EQ(stop_warned, 2);
    job->status_flags = PROC_STOPPED;
    for (bool newline : {false, true}) {
        EXPECT_THROW(check_stopped_jobs(newline), ShellError);
        EXPECT_EQ(diagnostics(), std::string(newline ? "\n" : "") + "There are suspended jobs.\n");
    }
    stop_warned = 0;
    errors = ErrorState{};
}

TEST_F(JobReportsTest, StoppingAJobWithNothingRunningFailsSilently) {
    errors = ErrorState{};
    // Process ids above any the system hands out: a signal sent by mistake reaches no one.
    make_job(1, {{2000000001, PROC_STOPPED, SIGTSTP, "vi"}});
    make_job(2, {{2000000002, PROC_EXITED, 0, "ls"}});
    CommandNode node;
    WordVector words{chars("stop"), chars("%1"), chars("%2")};
    EXPECT_THROW(builtin_stop(words, node), ShellError);
    // Both are handled before the silent failure.
    EXPECT_EQ(diagnostics(), "%1: Already suspended\n%2: Already suspended\n");
    errors = ErrorState{};
}

// ---- Job specifiers and kill's signal argument ----

TEST_F(JobReportsTest, JobSpecifiersFindTheirLeader) {
    ProcessEntry* vi = make_job(1, {{10, PROC_STOPPED, SIGTSTP, "vi a"}});
    ProcessEntry* vim = make_job(2, {{20, PROC_RUNNING, 0, "vim b"}});
    jobs.current_job = vim;
    jobs.previous_job = vi;
    errors = ErrorState{};
    errors.error_name = "fg";
    struct Row {
        const char* word;  // null: no argument
        ProcessEntry* found;
        const char* message;
    } rows[] = {
        {nullptr, vim, ""},
        {"%", vim, ""},
        {"%%", vim, ""},
        {"%+", vim, ""},
        {"2", vim, ""},  // only the characters after the first are read
        {"%-", vi, ""},
        {"%#", vi, ""},
        {"%1", vi, ""},
        {"%2", vim, ""},
        {"%vim", vim, ""},
        {"%?b", vim, ""},
        {"%? a", vi, ""},
        {"%vi", nullptr, "fg: Ambiguous.\n"},
        {"%?", nullptr, "fg: Ambiguous.\n"},
        {"%?x", nullptr, "fg: No job matches pattern.\n"},
        {"%emacs", nullptr, "fg: No such job.\n"},
        {"%3", nullptr, "fg: No such job.\n"},
    };
    for (const Row& row : rows) {
        CharString word = row.word ? chars(row.word) : CharString();
        ProcessEntry* found = nullptr;
        try {
            found = find_job(row.word ? &word : nullptr);
        } catch (const ShellError&) {
        }
        EXPECT_EQ(found, row.found) << (row.word ? row.word : "(none)");
        EXPECT_EQ(diagnostics(), row.message) << (row.word ? row.word : "(none)");
    }

    jobs.previous_job = nullptr;
    CharString minus = chars("%-");
    EXPECT_THROW(find_job(&minus), ShellError);
    EXPECT_EQ(diagnostics(), "fg: No previous job.\n");
    jobs = JobTable{};
    EXPECT_THROW(find_job(nullptr), ShellError);
    EXPECT_EQ(diagnostics(), "fg: No current job.\n");
    errors = ErrorState{};
}

TEST_F(JobReportsTest, KillListsAndChecksSignals) {
    CommandNode node;
    WordVector list{chars("kill"), chars("-l"), chars("ignored")};
    builtin_kill(list, node);
    std::string first, second;
    for (int sig = 1; sig <= 16; ++sig) first += std::string(sigabbrev_np(sig)) + " ";
    for (int sig = 17; sig <= 31; ++sig) second += std::string(sigabbrev_np(sig)) + " ";
    EXPECT_EQ(output(), first + "\n" + second + "\n");

    struct Row {
        const char* signal;
        const char* message;
    } rows[] = {
        {"-33", "kill: Bad signal number.\n"},
        {"-999999999999", "kill: Bad signal number.\n"},
        {"-sigfoo", "sigfoo: Unknown signal; kill -l lists signals.\n"},
        {"-SIG", "SIG: Unknown signal; kill -l lists signals.\n"},
        {"-", ": Unknown signal; kill -l lists signals.\n"},
    };
    for (const Row& row : rows) {
        errors = ErrorState{};
        errors.error_name = "kill";
        WordVector words{chars("kill"), chars(row.signal), chars("%1")};
        EXPECT_THROW(builtin_kill(words, node), ShellError) << row.signal;
        EXPECT_EQ(diagnostics(), row.message) << row.signal;
    }
    // Accepted names and numbers with nothing to signal: nothing happens, no error.
    for (const char* ok : {"-HUP", "-hup", "-sighup", "-SIGHUP", "-1", "-32", "-0"}) {
        WordVector words{chars("kill"), chars(ok)};
        EXPECT_NO_THROW(builtin_kill(words, node)) << ok;
    }
    EXPECT_EQ(diagnostics(), "");
    errors = ErrorState{};
}

// ---- format_command_tree ----

std::unique_ptr<CommandNode> simple(std::initializer_list<const char*> words,
                                    std::uint16_t flags = 0) {
    auto node = std::make_unique<CommandNode>();
    node->node_type = CMD_SIMPLE;
    node->node_flags = flags;
    for (const char* w : words) node->words.push_back(chars(w));
    return node;
}

std::unique_ptr<CommandNode> binary(std::uint16_t type, std::unique_ptr<CommandNode> left,
                                    std::unique_ptr<CommandNode> right) {
    auto node = std::make_unique<CommandNode>();
    node->node_type = type;
    node->left = std::move(left);
    node->right = std::move(right);
    return node;
}

std::string text_of(const CommandNode* node) {
    return to_bytes(format_command_tree(node));
}

TEST(FormatCommandTree, OperatorsAndSubshells) {
    auto pipe =
        binary(CMD_PIPE, simple({"ls", "-l"}, FLAG_PIPE_OUT), simple({"wc", "-l"}, FLAG_PIPE_IN));
    EXPECT_EQ(text_of(pipe.get()), "ls -l | wc -l");

    struct Row {
        std::uint16_t type;
        const char* expected;
    } rows[] = {
        {CMD_LIST, "a; b"},
        {CMD_OR, "a || b"},
        {CMD_AND, "a && b"},
    };
    for (const Row& row : rows) {
        auto node = binary(row.type, simple({"a"}), simple({"b"}));
        EXPECT_EQ(text_of(node.get()), row.expected);
    }

    auto sub = std::make_unique<CommandNode>();
    sub->node_type = CMD_SUBSHELL;
    sub->body = binary(CMD_LIST, simple({"cd", "x"}), simple({"make"}));
    sub->output_word = chars("log");
    sub->node_flags = FLAG_ERR_TOO;
    EXPECT_EQ(text_of(sub.get()), "( cd x; make ) >& log");
}

TEST(FormatCommandTree, Redirections) {
    struct Row {
        const char* input;
        const char* output;
        std::uint16_t flags;
        const char* expected;
    } rows[] = {
        {"in", nullptr, 0, "cat < in"},
        {"EOF", nullptr, FLAG_HERE_DOC, "cat << EOF"},
        {nullptr, "out", 0, "cat > out"},
        {nullptr, "out", FLAG_APPEND, "cat >> out"},
        {nullptr, "out", FLAG_APPEND | FLAG_ERR_TOO, "cat >>& out"},
        {"in", "out", FLAG_CLOBBER, "cat < in > out"},
        // A pipe takes the place of the redirection on that side.
        {"in", "out", FLAG_PIPE_IN | FLAG_PIPE_OUT, "cat"},
    };
    for (const Row& row : rows) {
        auto node = simple({"cat"}, row.flags);
        if (row.input) node->input_word = chars(row.input);
        if (row.output) node->output_word = chars(row.output);
        EXPECT_EQ(text_of(node.get()), row.expected);
    }
}

TEST(FormatCommandTree, LongTextIsCutAtEightyCharacters) {
    // Words of nine letters: eight of them with their blanks take 79 characters.
    std::string word(9, 'w');
    std::string eight;
    for (int i = 0; i < 8; ++i) eight += (i ? " " : "") + word;
    ASSERT_EQ(eight.size(), 79u);

    auto fits = simple({});
    for (int i = 0; i < 8; ++i) fits->words.push_back(chars(word));
    EXPECT_EQ(text_of(fits.get()), eight);

    auto too_long = simple({});
    for (int i = 0; i < 12; ++i) too_long->words.push_back(chars(word));
    EXPECT_EQ(text_of(too_long.get()), eight + " ...");

    // Nothing after the cut: not the rest of a pipeline, not a redirection.
    auto pipe = binary(CMD_PIPE, std::move(too_long), simple({"wc"}));
    pipe->right->output_word = chars("out");
    EXPECT_EQ(text_of(pipe.get()), eight + " ...");
}

TEST(FormatCommandTree, QuotedNulMarkerIsDropped) {
    auto node = simple({"-l"});
    CharString marked{quoted(0)};
    marked += chars("ls");
    node->words.insert(node->words.begin(), marked);
    EXPECT_EQ(format_command_tree(node.get()), chars("ls -l"));

    // Other quoted characters stay, carrying their mark.
    auto quoted_word = simple({"echo"});
    quoted_word->words.push_back(CharString{quoted('*')});
    CharString expected = chars("echo ");
    expected += quoted('*');
    EXPECT_EQ(format_command_tree(quoted_word.get()), expected);
}

// ---- Job numbers and the current and previous jobs ----

TEST(JobNumbers, NewJobsCountUpToNineThenTakeTheSmallestFree) {
    struct Case {
        const char* steps;  // t: take a number; g<n>: give n back
        const char* taken;  // the numbers taken, in order
        int max;            // max_job_number at the end
    } cases[] = {
        {"t t t", "1 2 3", 3},
        // Below nine the next number follows the highest, even with gaps below it.
        {"t t t g2 t", "1 2 3 4", 4},
        {"t t t t t t t t t g3 t", "1 2 3 4 5 6 7 8 9 3", 9},
        {"t t t t t t t t t t g2 g5 t t t", "1 2 3 4 5 6 7 8 9 10 2 5 11", 11},
        // The highest falls past the numbers given back below it.
        {"t t t t t t t t t t t t g11 g10 g12", "1 2 3 4 5 6 7 8 9 10 11 12", 9},
        {"t t t g2 g3", "1 2 3", 1},
        {"t t t g1 g2 g3", "1 2 3", 0},
        {"t t t t t t t t t t g10 g9 t", "1 2 3 4 5 6 7 8 9 10 9", 9},
        // From nine up the smallest free number, however it came free.
        {"t t t t t t t t t t t t g12 g4 g7 t t t", "1 2 3 4 5 6 7 8 9 10 11 12 4 7 12", 12},
    };
    for (const Case& c : cases) {
        JobNumbers numbers;
        std::string taken;
        std::string steps = c.steps;
        for (std::size_t at = 0; at < steps.size(); ++at) {
            if (steps[at] == 't') {
                taken += (taken.empty() ? "" : " ") + std::to_string(numbers.take());
            } else if (steps[at] == 'g') {
                std::size_t end = steps.find(' ', at);
                numbers.give_back(std::stoi(steps.substr(at + 1, end - at - 1)));
                at = end == std::string::npos ? steps.size() : end;
            }
        }
        EXPECT_EQ(taken, c.taken) << c.steps;
        EXPECT_EQ(numbers.max_job_number(), c.max) << c.steps;
    }
}

TEST(JobNumbers, NumbersTakenOutOfOrderLeaveTheOthersFree) {
    JobNumbers numbers;
    numbers.take(3);
    numbers.take(1);
    EXPECT_EQ(numbers.max_job_number(), 3);
    numbers.give_back(3);
    EXPECT_EQ(numbers.max_job_number(), 1) << "2 was never taken";
}

TEST_F(JobReportsTest, ForgettingTheCurrentJobChoosesTheNewestOtherStoppedOne) {
    struct Case {
        const char* states;  // one job per letter, oldest first: r running, s stopped,
                             // c stopped and then restarted, f forgotten
        int current, previous, forgotten;
        int new_current, new_previous;  // 0: none
    } cases[] = {
        {"rsr", 3, 1, 3, 1, 2}, {"rrr", 3, 0, 3, 2, 1}, {"srcr", 4, 2, 4, 2, 1},
        {"scr", 3, 0, 3, 1, 2}, {"frr", 3, 2, 3, 2, 0}, {"rsss", 2, 4, 4, 2, 3},
        {"sr", 1, 2, 2, 1, 0},
    };
    for (const Case& c : cases) {
        jobs = JobTable{};
        std::vector<ProcessEntry*> made;
        for (const char* s = c.states; *s; ++s) {
            int number = static_cast<int>(made.size()) + 1;
            std::uint16_t flags = *s == 'r' || *s == 'f' ? PROC_RUNNING : PROC_STOPPED;
            made.push_back(
                make_job(number, {{static_cast<pid_t>(100 + number), flags, 0, "sleep 9"}}));
            if (*s == 'c') made.back()->status_flags = PROC_RUNNING;  // as fg or bg do
        }
        auto job = [&](int number) { return number ? made[number - 1] : nullptr; };
        for (std::size_t i = 0; c.states[i]; ++i) {
            if (c.states[i] == 'f') forget_job(made[i]);
        }
        jobs.current_job = job(c.current);
        jobs.previous_job = job(c.previous);
        forget_job(job(c.forgotten));
        EXPECT_EQ(jobs.current_job, job(c.new_current)) << c.states;
        EXPECT_EQ(jobs.previous_job, job(c.new_previous)) << c.states;
    }
}

}  // namespace
