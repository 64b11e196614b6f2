#include "name_table.h"

#include <functional>
#include <limits>

namespace {

std::uint32_t HashOf(std::string_view name) {
  const std::size_t hash = std::hash<std::string_view>{}(name);
  return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

}  // namespace

std::size_t NameTable::Probe(std::string_view name, std::uint32_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t firstErased = slots_.size();
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.state == kEmpty)
      return firstErased != slots_.size() ? firstErased : i;
    if (slot.state == kErased) {
      if (firstErased == slots_.size())
        firstErased = i;
    } else if (slot.hash == hash &&
               std::string_view(text_).substr(slot.offset, slot.length) ==
                   name) {
      return i;
    }
  }
}

const std::uint8_t* NameTable::Find(std::string_view name) const {
  if (live_ == 0)
    return nullptr;
  // Probe ends on a live slot only where it holds the name.
  const Slot& slot = slots_[Probe(name, HashOf(name))];
  return slot.state == kLive ? &slot.value : nullptr;
}

void NameTable::Set(std::string_view name, std::uint8_t value) {
  if (name.size() > std::numeric_limits<std::uint16_t>::max() ||
      text_.size() + name.size() > std::numeric_limits<std::uint32_t>::max())
    return;
  // Keep at least half the slots empty, so that probe paths stay short.
  if ((used_ + 1) * 2 > slots_.size())
    Grow();
  const std::uint32_t hash = HashOf(name);
  Slot& slot = slots_[Probe(name, hash)];
  if (slot.state == kLive) {
    slot.value = value;
    return;
  }
  if (slot.state == kEmpty)
    ++used_;
  slot = {hash, static_cast<std::uint32_t>(text_.size()),
          static_cast<std::uint16_t>(name.size()), kLive, value};
  text_.append(name);
  ++live_;
}

void NameTable::Erase(std::string_view name) {
  if (live_ == 0)
    return;
  Slot& slot = slots_[Probe(name, HashOf(name))];
  if (slot.state != kLive)
    return;
  slot.state = kErased;
  --live_;
}

void NameTable::Grow() {
  // Erased slots are dropped on the way; their text stays behind, which
  // costs no more than the names the run has learnt.
  std::vector<Slot> old = std::move(slots_);
  std::size_t capacity = 64;
  while (capacity < (live_ + 1) * 3)
    capacity *= 2;
  slots_.assign(capacity, Slot{});
  const std::size_t mask = capacity - 1;
  for (const Slot& slot : old) {
    if (slot.state != kLive)
      continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].state != kEmpty)
      i = (i + 1) & mask;
    slots_[i] = slot;
  }
  used_ = live_;
}
