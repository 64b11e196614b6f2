#include "test_environment.h"

#include <cstdlib>

namespace {

const char* Read(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

template <typename Number>
void ReadNumber(const char* name, Number* number) {
  if (const char* value = Read(name))
    *number = static_cast<Number>(std::strtoull(value, nullptr, 10));
}

TestEnvironment FromEnvironment() {
  TestEnvironment environment;
  if (const char* root = Read("STAMPNAME_TEST_ROOT"))
    environment.root = root;
  ReadNumber("STAMPNAME_EXPECT_WAY", &environment.way);
  environment.renameResetsTimes = Read("STAMPNAME_RENAME_RESETS_TIMES");
  environment.inodesTell = !Read("STAMPNAME_NO_INODE_IDENTITY");
  environment.lateClose = Read("STAMPNAME_LATE_CLOSE");
  ReadNumber("STAMPNAME_KILLED_RUN_FILES", &environment.killedRunFiles);
  if (const char* twin = Read("STAMPNAME_TWIN_ROOT"))
    environment.twinRoot = twin;
  ReadNumber("STAMPNAME_TWIN_TRIES", &environment.twinTries);
  ReadNumber("STAMPNAME_PROPERTY_SEED", &environment.propertySeed);
  ReadNumber("STAMPNAME_PROPERTY_CASES", &environment.propertyCases);
  return environment;
}

}  // namespace

const TestEnvironment& Environment() {
  static const TestEnvironment environment = FromEnvironment();
  return environment;
}
