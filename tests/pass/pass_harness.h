#ifndef STAMPNAME_TESTS_PASS_HARNESS_H_
#define STAMPNAME_TESTS_PASS_HARNESS_H_

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

/// Where a random run draws its choices from.
class Choices {
 public:
  virtual ~Choices() = default;
  /// A number from 0 to bound - 1.
  virtual std::uint32_t Below(std::uint32_t bound) = 0;
  bool OneIn(std::uint32_t n) { return Below(n) == 0; }
};

class SeededChoices : public Choices {
 public:
  explicit SeededChoices(std::uint64_t seed) : engine_(seed) {}
  std::uint32_t Below(std::uint32_t bound) override {
    return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(engine_);
  }

 private:
  std::mt19937_64 engine_;
};

/// Choices read from a byte string (a fuzzer's input); zeros once it ends.
class ByteChoices : public Choices {
 public:
  ByteChoices(const std::uint8_t* data, std::size_t size)
      : data_(data), size_(size) {}
  std::uint32_t Below(std::uint32_t bound) override {
    std::uint32_t value = 0;
    for (int i = 0; i < 2 && position_ < size_; ++i)
      value = value << 8 | data_[position_++];
    return value % bound;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

/// Builds a random folder (names with and without dots, hidden names and
/// folders, names already taken by stamps, same-second bursts), runs the
/// pass over it with failures injected at random into every platform call,
/// and checks what must hold whatever happened. Returns "" when it all
/// held, else what did not.
std::string CheckRandomRun(Choices& choices);

#endif  // STAMPNAME_TESTS_PASS_HARNESS_H_
