#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "dirs/directory_stack.h"
#include "test_support.h"
#include "vars/variables.h"

namespace {

namespace fs = std::filesystem;

// Each test gets an empty variable store and a fresh directory @ holding
//   real/sub/   home/x/   rel -> real/sub   abs -> @/real   homelink -> home   loop -> loop
// where @ is written in canonical form (the system's temporary directory may be a link).
class CanonicalDirTest : public testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/orv-dirs-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        base_ = fs::canonical(tmpl).string();
        fs::create_directories(base_ + "/real/sub");
        fs::create_directories(base_ + "/home/x");
        fs::create_directory_symlink("real/sub", base_ + "/rel");
        fs::create_directory_symlink(base_ + "/real", base_ + "/abs");
        fs::create_directory_symlink("home", base_ + "/homelink");
        fs::create_symlink("loop", base_ + "/loop");
    }
    void TearDown() override { fs::remove_all(base_); }
    // The text with every @ replaced by the directory of the test.
    std::string at(std::string_view text) const {
        std::string out;
        for (char c : text) {
            if (c == '@') {
                out += base_;
            } else {
                out += c;
            }
        }
        return out;
    }
    void set(const char* name, std::string_view value) {
        var_store(chars(name), WordVector{chars(at(value))}, shell_variables);
    }
    std::string canonical(std::string_view path, std::size_t start = 0,
                          HomeRewrite rewrite = HOME_REWRITE) {
        return to_bytes(canonical_dir(chars(at(path)), start, rewrite));
    }

    std::string base_;

  private:
    StateGuard state_{STATE_VARIABLES};
};

enum Links { PLAIN, CHASE, IGNORE, CHASE_AND_IGNORE };

struct Row {
    const char* path;
    Links links;
    const char* expected;
};

TEST_F(CanonicalDirTest, ComponentsAndLinks) {
    const Row rows[] = {
        // Slashes, "." and ".." as text.
        {"/", PLAIN, "/"},
        {"//", PLAIN, "/"},
        {"@//real///sub//", PLAIN, "@/real/sub"},
        {"@/real/./sub/.", PLAIN, "@/real/sub"},
        {"@/./real/.//sub", PLAIN, "@/real/sub"},
        {"/.", PLAIN, "/."},  // directly after the root "." is left alone
        {"/./tmp", PLAIN, "/tmp"},
        {"@/real/sub/../..", PLAIN, "@"},
        {"/..", PLAIN, "/"},
        {"/../../tmp", PLAIN, "/tmp"},
        {"@/missing/../real", PLAIN, "@/real"},
        // A link before ".." is expanded first, unless links are ignored.
        {"@/rel/..", PLAIN, "@/real"},
        {"@/rel/../sub", CHASE, "@/real/sub"},
        {"@/rel/..", IGNORE, "@"},
        {"@/abs/..", PLAIN, "@"},
        {"@/abs/sub/..", PLAIN, "@/abs"},
        // Other components are links only when chasing them.
        {"@/rel", PLAIN, "@/rel"},
        {"@/rel", CHASE, "@/real/sub"},
        {"@/rel", CHASE_AND_IGNORE, "@/rel"},
        {"@/abs/sub/", CHASE, "@/real/sub"},
        {"@/rel/.", CHASE, "@/real/sub"},
        // A link to itself cannot hold the walk for ever.
        {"@/loop/..", PLAIN, "@"},
        {"@/loop/x", CHASE, "@/loop/x"},
    };
    for (const Row& row : rows) {
        shell_variables.clear();
        if (row.links == CHASE || row.links == CHASE_AND_IGNORE) set("chase_symlinks", "");
        if (row.links == IGNORE || row.links == CHASE_AND_IGNORE) set("ignore_symlinks", "");
        EXPECT_EQ(canonical(row.path), at(row.expected)) << row.path << " links " << row.links;
    }
}

TEST_F(CanonicalDirTest, RelativePathJoinsCwd) {
    const Row rows[] = {
        {"sub", PLAIN, "@/real/sub"},   {"./sub/../sub/", PLAIN, "@/real/sub"},
        {".", PLAIN, "@/real"},         {"", PLAIN, "@/real"},
        {"../rel/..", PLAIN, "@/real"},
    };
    for (const Row& row : rows) {
        set("cwd", "@/real");
        EXPECT_EQ(canonical(row.path, 3), at(row.expected)) << row.path;
    }
    shell_variables.clear();
    EXPECT_EQ(canonical("a/../b"), "a/../b");  // no cwd: nothing to join to
    set("cwd", "relative");
    EXPECT_EQ(canonical("a/../b"), "a/../b");
}

TEST_F(CanonicalDirTest, OnlyComponentsFromStartAreProcessed) {
    const std::string path = at("@/x/../real/./sub/..");
    EXPECT_EQ(canonical("@/x/../real/./sub/..", path.size()), path);
    const std::size_t start = at("@/x/..").size();
    EXPECT_EQ(canonical("@/x/../real/./sub/..", start), at("@/x/../real"));
}

TEST_F(CanonicalDirTest, HomeRewrite) {
    struct HomeRow {
        const char* home;
        const char* path;
        const char* expected;
    } rows[] = {
        {"@/homelink", "@/home/x", "@/homelink/x"},
        {"@/homelink", "@/home", "@/homelink"},
        {"@/home", "@/homelink/x/.", "@/home/x"},
        {"@/home", "@/home/x", "@/home/x"},
        {"@/homelink", "@/real", "@/real"},
        {"@/homelink", "@/home/missing", "@/home/missing"},  // the walk stops at a missing name
        {"homelink", "@/home/x", "@/home/x"},                // a relative home is never a prefix
        {"", "@/home/x", "@/home/x"},
    };
    for (const HomeRow& row : rows) {
        set("home", row.home);
        EXPECT_EQ(canonical(row.path), at(row.expected)) << row.home << " " << row.path;
    }
    set("home", "@/homelink");
    EXPECT_EQ(canonical("@/home/x", 0, NO_HOME_REWRITE), at("@/home/x"));
    const std::string only_rewrite = at("@/home/x");
    EXPECT_EQ(canonical("@/home/x", only_rewrite.size()), at("@/homelink/x"));
}

}  // namespace
