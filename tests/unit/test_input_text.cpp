#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/descriptors.h"
#include "core/shell.h"
#include "input/input_buffer.h"

namespace {

TEST(TextBlocksTest, BytesWrittenAcrossBlocksStayWhereTheyWereWritten) {
    TextBlocks blocks;
    const std::size_t total = 3 * INPUT_BLOCK_SIZE + 10;
    for (std::size_t i = 0; i < total; ++i) *blocks.room_at(i) = static_cast<char>('a' + i % 26);
    for (std::size_t i : {std::size_t{0}, std::size_t{INPUT_BLOCK_SIZE - 1},
                          std::size_t{INPUT_BLOCK_SIZE}, total - 1}) {
        EXPECT_EQ(blocks.at(i), static_cast<char>('a' + i % 26)) << i;
    }
    // Dropping the first two blocks moves the indexes of the rest down by two blocks.
    blocks.drop_blocks(2);
    EXPECT_EQ(blocks.at(0), static_cast<char>('a' + (2 * INPUT_BLOCK_SIZE) % 26));
    EXPECT_EQ(blocks.at(INPUT_BLOCK_SIZE + 9), static_cast<char>('a' + (total - 1) % 26));
}

// The shell input is a pipe or a file holding text of several blocks.
class InputTextTest : public testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        for (int i = 0; i < 3000; ++i)
            text_ += static_cast<char>(i % 61 == 60 ? '\n' : 'a' + i % 23);
        saved_in_ = fds.shell_in;
        shell.interactive = false;
        input = InputState{};
        if (GetParam()) {
            std::FILE* f = std::tmpfile();
            ASSERT_NE(f, nullptr);
            std::fwrite(text_.data(), 1, text_.size(), f);
            std::fflush(f);
            fds.shell_in = dup(fileno(f));
            std::fclose(f);
            lseek(fds.shell_in, 0, SEEK_SET);
        } else {
            int p[2];
            ASSERT_EQ(pipe(p), 0);
            ASSERT_EQ(write(p[1], text_.data(), text_.size()), static_cast<ssize_t>(text_.size()));
            close(p[1]);
            fds.shell_in = p[0];
        }
        input_check_seekable();
        ASSERT_EQ(input.input_seekable, GetParam());
    }
    void TearDown() override {
        close(fds.shell_in);
        fds.shell_in = saved_in_;
        input = InputState{};
    }
    void read_chars(int n) {
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(read_char(true), static_cast<unsigned char>(text_[i + pos_]));
        pos_ += n;
    }
    void seek(std::int64_t offset) {
        input_seek(InputPosition{INPUT_FILE, offset, -1});
        pos_ = static_cast<int>(offset);
    }

    std::string text_;
    int pos_ = 0;

  private:
    int saved_in_ = -1;
};

TEST_P(InputTextTest, NoteGivesTheBytesReadAcrossBlocks) {
    read_chars(10);
    std::string noted;
    {
        TextNote note;
        read_chars(2500);
        ASSERT_TRUE(note.text(noted));
    }
    EXPECT_EQ(noted, text_.substr(10, 2500));
    // A note across a move of the position cannot tell what was read.
    TextNote note;
    read_chars(5);
    seek(100);
    read_chars(5);
    EXPECT_FALSE(note.text(noted));
}

TEST_P(InputTextTest, SkipReadsPastOnlyTheSameBytes) {
    read_chars(2800);
    seek(10);
    std::string wrong = text_.substr(10, 2500);
    wrong.back() ^= 1;
    EXPECT_FALSE(input_skip_text(wrong));
    EXPECT_EQ(input.input_offset, 10);
    EXPECT_TRUE(input_skip_text(text_.substr(10, 2500)));
    EXPECT_EQ(input.input_offset, 2510);
    // Reading goes on after the bytes skipped; text past the end is never skipped.
    pos_ = 2510;
    read_chars(3);
    EXPECT_FALSE(input_skip_text(text_.substr(2513) + "more"));
    EXPECT_EQ(input.input_offset, 2513);
}

INSTANTIATE_TEST_SUITE_P(PipeAndFile, InputTextTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& p) {
                             return p.param ? "File" : "Pipe";
                         });

}  // namespace
