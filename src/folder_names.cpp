#include "folder_names.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "date_time.h"
#include "new_name.h"

namespace {

constexpr std::size_t kBlockSize = 64 * 1024;

}  // namespace

FolderNames::FolderNames()
    : taken_([this](NameTable::Reference reference, std::string* scratch) {
        return TextOf(reference, scratch);
      }) {}

std::string_view FolderNames::Store(std::string_view name) {
  // Names are never freed during a run: blocks of them, one allocation
  // each, rather than one per name.
  if (name.empty())
    return {};
  if (name.size() > blockFree_) {
    const std::size_t size = std::max(kBlockSize, name.size());
    blocks_.push_back(std::make_unique<char[]>(size));
    blockNext_ = blocks_.back().get();
    blockFree_ = size;
  }
  char* text = blockNext_;
  std::memcpy(text, name.data(), name.size());
  blockNext_ += name.size();
  blockFree_ -= name.size();
  return {text, name.size()};
}

FolderNames::Index FolderNames::Add(std::string_view name, bool ordinary,
                                    std::size_t privatePart) {
  const auto next = static_cast<Index>(files_.size());
  if (TakenReference(next) > NameTable::kMaxReference)
    throw std::length_error("too many names in one folder");
  const Index index = static_cast<Index>(files_.size());
  ListedFile& file = files_.emplace_back();
  file.name = Store(name);
  file.state = ordinary ? FileState::kPending : FileState::kNotOrdinary;
  file.stampShaped = !StampOf(file.name).empty();
  // Names run to a few hundred bytes at most; past 65535, the last bytes
  // would count as the extension of a name no stamp name can equal.
  file.dot = static_cast<std::uint16_t>(std::min<std::size_t>(
      file.name.size() - ExtensionOf(file.name, privatePart).size(),
      UINT16_MAX));
  if (file.stampShaped) {
    taken_.Insert(file.name, ListedReference(index));
    stampedListed_ = true;
  }
  return index;
}

void FolderNames::Timed(Index index, std::uint64_t time, bool ownName) {
  files_[index].time = time;
  files_[index].state = ownName ? FileState::kOwnName : FileState::kPending;
}

void FolderNames::Moved(Index index, int number, std::string_view newName,
                        bool taken) {
  ListedFile& file = files_[index];
  if (file.state == FileState::kMoved)  // moved on with its shot
    taken_.Erase(NewNameOf(index, file.number), TakenReference(index));
  else if (file.stampShaped)
    taken_.Erase(file.name, ListedReference(index));
  file.number = static_cast<std::uint8_t>(number);
  file.state = FileState::kMoved;
  if (taken)
    taken_.Insert(newName, TakenReference(index));
}

void FolderNames::Vanished(Index index) {
  ListedFile& file = files_[index];
  if (file.stampShaped)
    taken_.Erase(file.name, ListedReference(index));
  file.state = FileState::kGone;
}

bool FolderNames::AnyKept() const {
  return std::any_of(files_.begin(), files_.end(), [](const ListedFile& file) {
    return file.state == FileState::kKept;
  });
}

std::string FolderNames::NewNameOf(Index index, int number) const {
  const ListedFile& file = files_[index];
  return NewName(Unpacked(file.time), number, file.extension());
}

std::string_view FolderNames::TextOf(NameTable::Reference reference,
                                     std::string* scratch) const {
  const Index index = reference / 2;
  if (reference == ListedReference(index))
    return files_[index].name;
  *scratch = NewNameOf(index, files_[index].number);
  return *scratch;
}
