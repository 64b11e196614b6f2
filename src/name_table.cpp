#include "name_table.h"

#include <algorithm>
#include <cstring>

namespace {

char Folded(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool SameButForCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Folded(a[i]) != Folded(b[i]))
      return false;
  return true;
}

namespace {

/// Eight bytes with their ASCII capitals made small, all at once.
std::uint64_t FoldedWord(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  const std::uint64_t low = word & 0x7F * kOnes;
  const std::uint64_t fromA = low + (0x80 - 'A') * kOnes;
  const std::uint64_t pastZ = low + (0x80 - 'Z' - 1) * kOnes;
  const std::uint64_t capitals = fromA & ~pastZ & ~word & 0x80 * kOnes;
  return word | capitals >> 2;  // 0x80 >> 2 is the bit of small letters
}

}  // namespace

std::uint32_t NameTable::HashOf(std::string_view name) {
  // Eight folded bytes a step, so that names that differ only in case meet.
  std::uint64_t hash = name.size();
  while (!name.empty()) {
    std::uint64_t word = 0;
    const std::size_t size = std::min<std::size_t>(name.size(), 8);
    std::memcpy(&word, name.data(), size);
    hash = (hash ^ FoldedWord(word)) * 0x9E3779B97F4A7C15u;
    hash ^= hash >> 29;
    name.remove_prefix(size);
  }
  return static_cast<std::uint32_t>(hash ^ hash >> 32);
}

bool NameTable::Matches(const Slot& slot, std::uint32_t hash,
                        std::string_view name) const {
  return slot.hash == hash &&
         SameButForCase(textOf_(slot.reference, &scratch_), name);
}

bool NameTable::Contains(std::string_view name) const {
  if (live_ == 0)
    return false;
  const std::uint32_t hash = HashOf(name);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask; slots_[i].reference != kEmpty;
       i = (i + 1) & mask)
    if (slots_[i].reference != kErased && Matches(slots_[i], hash, name))
      return true;
  return false;
}

void NameTable::Insert(std::string_view name, Reference reference) {
  // At most three quarters full, counting erased slots: with the hash kept
  // in the slot, probe paths stay short up to there.
  if ((used_ + 1) * 4 > slots_.size() * 3)
    Grow();
  const std::uint32_t hash = HashOf(name);
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i].reference != kEmpty && slots_[i].reference != kErased)
    i = (i + 1) & mask;
  if (slots_[i].reference == kEmpty)
    ++used_;
  slots_[i] = {hash, reference};
  ++live_;
}

void NameTable::Erase(std::string_view name, Reference reference) {
  if (live_ == 0)
    return;
  const std::uint32_t hash = HashOf(name);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask; slots_[i].reference != kEmpty;
       i = (i + 1) & mask) {
    if (slots_[i].reference == reference && slots_[i].hash == hash) {
      slots_[i].reference = kErased;
      --live_;
      return;
    }
  }
}

void NameTable::Grow() {
  // Half full at most afterwards, so a run that moves every file (one entry
  // out, one in) rehashes in place once every quarter of the slots rather
  // than doubling.
  std::size_t capacity = 64;
  while (capacity < (live_ + 1) * 2)
    capacity *= 2;
  Rehash(capacity);
}

void NameTable::Rehash(std::size_t capacity) {
  // Erased slots are dropped on the way.
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(capacity, Slot{});
  const std::size_t mask = capacity - 1;
  for (const Slot& slot : old) {
    if (slot.reference == kEmpty || slot.reference == kErased)
      continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].reference != kEmpty)
      i = (i + 1) & mask;
    slots_[i] = slot;
  }
  used_ = live_;
}
