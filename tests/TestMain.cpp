// The entry of every test program. CTest judges a program by its exit code
// alone, so a skipped case would pass unseen: a program whose cases passed or
// were skipped names the skipped ones in a line CTest turns into a skip. A
// program with a failure never prints it. With TS_CASE_COUNTS naming a folder,
// the program also leaves its counts of cases there, for the test command's
// totals.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The test command names each test's run (TS_CASE_NAME): one program may run as
// two tests, its quick cases and its long ones.
void WriteCounts(const testing::UnitTest& unit) {
  const char* folder = std::getenv("TS_CASE_COUNTS");
  const char* name = std::getenv("TS_CASE_NAME");
  if (!folder || !*folder || !name || !*name) return;
  if (FILE* f = std::fopen((std::string(folder) + "/" + name + ".counts").c_str(), "w")) {
    std::fprintf(f, "%d passed, %d failed, %d skipped\n", unit.successful_test_count(),
                 unit.failed_test_count(), unit.skipped_test_count());
    std::fclose(f);
  }
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  const testing::UnitTest& unit = *testing::UnitTest::GetInstance();
  WriteCounts(unit);
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
