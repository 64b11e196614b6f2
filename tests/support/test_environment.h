#ifndef STAMPNAME_TESTS_TEST_ENVIRONMENT_H_
#define STAMPNAME_TESTS_TEST_ENVIRONMENT_H_

#include <cstdint>
#include <string>

/// How the tests were started, read from the environment once. The mounted
/// file system tests (mounted_file_system_test.sh) describe the file system
/// under test there; elsewhere every field keeps its default.
struct TestEnvironment {
  // STAMPNAME_TEST_ROOT: where scratch folders go; empty, the temporary one.
  std::string root;
  int way = 0;  // STAMPNAME_EXPECT_WAY: the way to settle on; 0, not known
  // STAMPNAME_RENAME_RESETS_TIMES: a rename gives the file its time (FAT).
  bool renameResetsTimes = false;
  // Not STAMPNAME_NO_INODE_IDENTITY: two links of a file show one number.
  bool inodesTell = true;
  // STAMPNAME_LATE_CLOSE: a share closes a written file on the server late.
  bool lateClose = false;
  int killedRunFiles = 20000;  // STAMPNAME_KILLED_RUN_FILES
  // STAMPNAME_TWIN_ROOT: `root` through a second mount; tried
  // STAMPNAME_TWIN_TRIES times.
  std::string twinRoot;
  int twinTries = 1;

  std::uint64_t propertySeed = 1;      // STAMPNAME_PROPERTY_SEED
  std::uint64_t propertyCases = 5000;  // STAMPNAME_PROPERTY_CASES
};

const TestEnvironment& Environment();

#endif  // STAMPNAME_TESTS_TEST_ENVIRONMENT_H_
