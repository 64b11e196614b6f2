// libFuzzer entry over the same random runs as the property test.
#include <cstdlib>

#include "pass_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  ByteChoices choices(data, size);
  if (!CheckRandomRun(choices).empty())
    std::abort();
  return 0;
}
