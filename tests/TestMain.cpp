// The entry of every test program. CTest judges a program by its exit code
// alone, so a skipped case would pass unseen: a program whose cases passed or
// were skipped names the skipped ones in a line CTest turns into a skip. A
// program with a failure never prints it.
#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  const testing::UnitTest& unit = *testing::UnitTest::GetInstance();
  if (result != 0 || unit.skipped_test_count() == 0) return result;
  for (int i = 0; i < unit.total_test_suite_count(); ++i) {
    const testing::TestSuite& suite = *unit.GetTestSuite(i);
    for (int j = 0; j < suite.total_test_count(); ++j) {
      const testing::TestInfo& test = *suite.GetTestInfo(j);
      if (test.result()->Skipped()) std::printf("Skipped: %s.%s\n", suite.name(), test.name());
    }
  }
  std::printf("Test cases skipped: %d of %d, none failed\n", unit.skipped_test_count(),
              unit.test_to_run_count());
  return result;
}
