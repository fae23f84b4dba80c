// Runs the tests of one floor, linked with that floor and the ones below it alone, and ends with
// the line "N passed, M failed".
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C");
    testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    const testing::UnitTest& u = *testing::UnitTest::GetInstance();
    std::printf("%d passed, %d failed\n", u.successful_test_count(), u.failed_test_count());
    return rc;
}
