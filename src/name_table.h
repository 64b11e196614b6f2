#ifndef STAMPNAME_NAME_TABLE_H_
#define STAMPNAME_NAME_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// A map from names to a small value, made for the one pass over a large
/// folder: every name's text lies in one growing block, and the table
/// itself is a flat array probed in order, so that a lookup costs one cache
/// miss rather than a walk through separately allocated nodes.
class NameTable {
 public:
  /// The value stored for `name`, or nullptr.
  const std::uint8_t* Find(std::string_view name) const;

  /// Stores `value` for `name`, replacing any value it had. Names beyond
  /// 4 GiB of text in all are not stored.
  void Set(std::string_view name, std::uint8_t value);

  void Erase(std::string_view name);

  std::size_t size() const { return live_; }

 private:
  enum State : std::uint8_t { kEmpty, kLive, kErased };
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t offset = 0;  // of the name's text in `text_`
    std::uint16_t length = 0;
    State state = kEmpty;
    std::uint8_t value = 0;
  };

  /// The slot holding `name`, or the one where it would go: the first
  /// erased slot on its probe path, else the empty slot that ends it.
  std::size_t Probe(std::string_view name, std::uint32_t hash) const;
  void Grow();

  std::vector<Slot> slots_;
  std::string text_;
  std::size_t live_ = 0;
  std::size_t used_ = 0;  // live and erased slots
};

#endif  // STAMPNAME_NAME_TABLE_H_
