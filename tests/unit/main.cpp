// Runs every unit test and ends with the line "N passed, M failed".
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>

#include "core/chars.h"
#include "lifecycle/startup.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C");
    locale_changed();
    wire_shell();
    testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    const testing::UnitTest& u = *testing::UnitTest::GetInstance();
    std::printf("%d passed, %d failed\n", u.successful_test_count(), u.failed_test_count());
    return rc;
}
