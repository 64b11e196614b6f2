#include "name_table.h"

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

std::uint32_t NameTable::HashOf(std::string_view name) {
  // FNV-1a over the folded bytes: names that differ only in case meet.
  std::uint32_t hash = 2166136261u;
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(Folded(c));
    hash *= 16777619u;
  }
  return hash;
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

void NameTable::Reserve(std::size_t more) {
  // Room up to the fill at which Insert would grow the table.
  std::size_t capacity = slots_.empty() ? 64 : slots_.size();
  while ((live_ + more + 1) * 4 > capacity * 3)
    capacity *= 2;
  if (capacity > slots_.size())
    Rehash(capacity);
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
