#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/descriptors.h"
#include "jobs/usage.h"
#include "test_support.h"
#include "vars/variables.h"

namespace {

// The formatters and the report write on the output stream, captured here; the variable time,
// which chooses the report format, starts unset.
class UsageTest : public testing::Test {
  protected:
    void SetUp() override { shell_variables.erase(chars("time")); }
    void TearDown() override { shell_variables.erase(chars("time")); }
    // What was written since the last look.
    std::string output() { return capture_.output(); }
    void set_time_format(const char* format) {
        var_store(chars("time"), WordVector{chars("0"), chars(format)}, shell_variables);
    }

  private:
    StreamCapture capture_;
};

TEST_F(UsageTest, CentisecondFormatter) {
    struct Row {
        long centiseconds;
        const char* expected;
    } rows[] = {
        {0, "0:00.00"},         {500, "0:05.00"},       {7, "0:00.07"},
        {6001, "1:00.01"},      {59999, "9:59.99"},     {71234, "11:52.34"},
        {372345, "1:02:03.45"}, {360000, "1:00:00.00"}, {3959999, "10:59:59.99"},
    };
    for (const Row& row : rows) {
        print_centiseconds(row.centiseconds);
        EXPECT_EQ(output(), row.expected) << row.centiseconds;
    }
}

TEST_F(UsageTest, SecondsFormatter) {
    struct Row {
        long seconds;
        const char* expected;
    } rows[] = {
        {0, "0:00"},     {59, "0:59"},      {90, "1:30"},      {600, "10:00"},
        {3599, "59:59"}, {3700, "1:01:40"}, {7200, "2:00:00"}, {90061, "25:01:01"},
    };
    for (const Row& row : rows) {
        print_seconds(row.seconds);
        EXPECT_EQ(output(), row.expected) << row.seconds;
    }
}

TEST(Usage, TimeDifferenceBorrows) {
    struct Row {
        timeval later, earlier, expected;
    } rows[] = {
        {{5, 100}, {3, 900000}, {1, 100100}},
        {{5, 900000}, {3, 100}, {2, 899900}},
        {{7, 0}, {7, 0}, {0, 0}},
    };
    for (const Row& row : rows) {
        timeval d = time_difference(row.later, row.earlier);
        EXPECT_EQ(d.tv_sec, row.expected.tv_sec);
        EXPECT_EQ(d.tv_usec, row.expected.tv_usec);
    }
}

TEST(Usage, AddUsageCarriesAndKeepsLargestResidentSize) {
    rusage d{};
    d.ru_utime = {1, 600000};
    d.ru_stime = {0, 999999};
    d.ru_maxrss = 500;
    d.ru_minflt = 3;
    d.ru_nivcsw = 1;
    rusage s{};
    s.ru_utime = {2, 500000};
    s.ru_stime = {0, 1};
    s.ru_maxrss = 200;
    s.ru_minflt = 4;
    s.ru_ixrss = 9;
    s.ru_nivcsw = 2;
    add_usage(d, s);
    EXPECT_EQ(d.ru_utime.tv_sec, 4);
    EXPECT_EQ(d.ru_utime.tv_usec, 100000);
    EXPECT_EQ(d.ru_stime.tv_sec, 1);
    EXPECT_EQ(d.ru_stime.tv_usec, 0);
    EXPECT_EQ(d.ru_maxrss, 500);
    EXPECT_EQ(d.ru_minflt, 7);
    EXPECT_EQ(d.ru_ixrss, 9);
    EXPECT_EQ(d.ru_nivcsw, 3);
}

TEST_F(UsageTest, ZeroTimeReportWithDefaultFormat) {
    print_usage(rusage{}, rusage{}, timeval{}, timeval{});
    EXPECT_EQ(output(), "0.0u 0.0s 0:00.00 0.0% 0+0k 0+0io 0pf+0w\n");
    // A variable time of one word keeps the default format.
    var_store(chars("time"), WordVector{chars("2")}, shell_variables);
    print_usage(rusage{}, rusage{}, timeval{}, timeval{});
    EXPECT_EQ(output(), "0.0u 0.0s 0:00.00 0.0% 0+0k 0+0io 0pf+0w\n");
}

TEST_F(UsageTest, EveryEscapeOfTheFormat) {
    rusage r0{};
    r0.ru_minflt = 100;  // an origin is subtracted from the counters
    rusage r1{};
    r1.ru_utime = {1, 500000};
    r1.ru_stime = {0, 250000};  // cpu: 150 + 25 = 175 centiseconds
    r1.ru_ixrss = 350;
    r1.ru_idrss = 700;
    r1.ru_isrss = 175;
    r1.ru_maxrss = 1000;
    r1.ru_nswap = 1;
    r1.ru_majflt = 2;
    r1.ru_minflt = 103;
    r1.ru_inblock = 4;
    r1.ru_oublock = 5;
    r1.ru_msgrcv = 6;
    r1.ru_msgsnd = 7;
    r1.ru_nsignals = 8;
    r1.ru_nvcsw = 9;
    r1.ru_nivcsw = 10;
    timeval end{12, 0}, begin{10, 0};  // 200 centiseconds

    struct Row {
        const char* format;
        const char* expected;
    } rows[] = {
        {"%U %S %E %P", "1.5 0.2 0:02.00 87.5%\n"},
        {"%X %D %K %M", "2 5 7 500\n"},
        {"%W %F %R %I %O %r %s %k %w %c", "1 2 3 4 5 6 7 8 9 10\n"},
        {"", "\n"},
        {"abc%", "abc\n"},
        {"%Q", "\n"},
        {"<%Q%E>", "<0:02.00>\n"},
        {"100%", "100\n"},
    };
    for (const Row& row : rows) {
        set_time_format(row.format);
        print_usage(r0, r1, end, begin);
        EXPECT_EQ(output(), row.expected) << row.format;
    }
}

TEST_F(UsageTest, DifferencesBorrowAndZeroCpuDividesNothing) {
    rusage r0{};
    r0.ru_utime = {0, 600000};
    rusage r1{};
    r1.ru_utime = {1, 500000};
    r1.ru_ixrss = 50;
    set_time_format("%U %X %P");
    // cpu is 90 centiseconds, elapsed 0: the percentage is 0.
    print_usage(r0, r1, timeval{3, 0}, timeval{3, 0});
    EXPECT_EQ(output(), "0.9 0 0.0%\n");
    print_usage(rusage{}, r0, timeval{1, 0}, timeval{0, 0});
    EXPECT_EQ(output(), "0.6 0 60.0%\n");
    // Without cpu time the per-cpu sizes are 0, whatever the sizes.
    set_time_format("%X %D %K %P");
    r0.ru_utime = {};
    r0.ru_ixrss = 40;
    print_usage(rusage{}, r0, timeval{1, 0}, timeval{0, 0});
    EXPECT_EQ(output(), "0 0 0 0.0%\n");
}

}  // namespace
