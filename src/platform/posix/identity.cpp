// The program's own hidden names, each of one exact shape, and whether two
// names are one file: what a run may drop, and what it must leave.
#include "platform/posix/folder.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

const char kHiddenPrefix[] = ".stampname-";

namespace {

constexpr std::size_t kDigits = 16;

struct Word {
  HiddenRole role;
  std::string_view text;  // with the space before the recorded name
};

constexpr Word kWords[] = {{HiddenRole::kTo, " to "},
                           {HiddenRole::kOf, " of "},
                           {HiddenRole::kVoid, " void "},
                           {HiddenRole::kTime, " time "}};

bool HexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

}  // namespace

HiddenName ParseHidden(std::string_view name) {
  const std::string_view prefix = kHiddenPrefix;
  if (!name.starts_with(prefix))
    return {};
  std::size_t at = prefix.size();
  for (std::size_t i = 0; i < kDigits; ++i, ++at)
    if (at >= name.size() || !HexDigit(name[at]))
      return {};
  if (at >= name.size() || name[at] != '-')
    return {};
  const std::size_t count = ++at;
  while (at < name.size() && name[at] >= '0' && name[at] <= '9') ++at;
  if (at == count)
    return {};
  const std::string_view rest = name.substr(at);
  if (rest.empty() || rest[0] == '.')
    return {HiddenRole::kEarlier, at};
  if (rest == " probe")
    return {HiddenRole::kProbe, 0};
  if (rest == " void")  // a reservation whose name would not fit beside
    return {HiddenRole::kVoid, name.size()};
  for (const Word& word : kWords) {
    if (rest.starts_with(word.text) && rest.size() > word.text.size())
      return {word.role, at + word.text.size()};
    // " to#<digest>": the word without its last space.
    const std::string_view bare = word.text.substr(0, word.text.size() - 1);
    std::uint64_t digest;
    if (rest.starts_with(bare) && DigestIn(rest.substr(bare.size()), &digest))
      return {word.role, at + bare.size()};
  }
  return {};
}

std::uint64_t NameDigest(std::string_view name) {
  std::uint64_t digest = 14695981039346656037ull;  // FNV-1a
  for (const char c : name) {
    digest ^= static_cast<unsigned char>(c);
    digest *= 1099511628211ull;
  }
  return digest;
}

bool DigestIn(std::string_view recorded, std::uint64_t* digest) {
  if (recorded.size() != 1 + kDigits || recorded[0] != '#')
    return false;
  *digest = 0;
  for (const char c : recorded.substr(1)) {
    if (!HexDigit(c))
      return false;
    *digest = *digest << 4 | static_cast<std::uint64_t>(
                                  c <= '9' ? c - '0' : c - 'a' + 10);
  }
  return true;
}

std::string_view RecordedIn(std::string_view name) {
  const HiddenName hidden = ParseHidden(name);
  switch (hidden.role) {
    case HiddenRole::kTo:
    case HiddenRole::kOf:
    case HiddenRole::kVoid:
    case HiddenRole::kTime:
      return name.substr(hidden.recorded);
    default:
      return {};
  }
}

std::string MakeHidden(std::uint64_t run, unsigned count, HiddenRole role,
                       std::string_view recorded) {
  char head[64];
  std::snprintf(head, sizeof head, "%s%016llx-%u", kHiddenPrefix,
                static_cast<unsigned long long>(run), count);
  std::string name = head;
  if (role == HiddenRole::kProbe)
    return name + " probe";
  for (const Word& word : kWords)
    if (word.role == role) {
      // Names run to 255 bytes: a longer one by its digest.
      if (name.size() + word.text.size() + recorded.size() > 255) {
        char digest[20];
        std::snprintf(digest, sizeof digest, "#%016llx",
                      static_cast<unsigned long long>(NameDigest(recorded)));
        return name.append(word.text.substr(0, word.text.size() - 1))
            .append(digest);
      }
      return name.append(word.text).append(recorded);
    }
  return name;
}

/// A hidden name of this run's own, new each time, recording what the
/// file under it is to a run that finds it there.
std::string SystemPlatform::Folder::Aside(HiddenRole role,
                                          std::string_view recorded) {
  if (asides == 0) {
    std::random_device random;
    nonce = (std::uint64_t{random()} << 32 | random()) ^
            static_cast<std::uint64_t>(getpid());
  }
  changed = true;
  return MakeHidden(nonce, ++asides, role, recorded);
}

/// Finds out, once, whether the folder takes links, and how identity
/// shows, with two links of an empty file of the run's own. Fails where
/// not even that file can be made.
Outcome SystemPlatform::Folder::Learn() {
  // A probe taken away meanwhile (by a run of an earlier version, which
  // knew no probes, or one that found it stale) says nothing of links:
  // another is made.
  Outcome learnt;
  for (int tries = 0; tries < 3; ++tries)
    if (learnt = LearnOnce(); learnt.error != ENOENT)
      break;
  return learnt;
}

Outcome SystemPlatform::Folder::LearnOnce() {
  if (links != Links::kUnknown && identity != Identity::kUnknown)
    return {};
  const int fd = this->fd();
  const std::string first = Aside(HiddenRole::kProbe),
                    second = Aside(HiddenRole::kProbe);
  struct stat made, a, b, folder;
  if (const Outcome reserved = Reserve(first.c_str(), &made); !reserved.ok())
    return reserved;
  between(RenameStep::kProbe);
  // Between two fresh names of the run's own, any refusal means no links
  // here, whatever it says (EPERM, ENOSYS, EIO on cloud drives...), but
  // for a full disk or quota, which says nothing of links: asked again at
  // the next file.
  const int linked =
      linkat(fd, first.c_str(), fd, second.c_str(), 0) == 0 ? 0 : errno;
  if (linked == ENOSPC || linked == EDQUOT || linked == ENOENT) {
    DropAside(first);
    return {Failure::kOther, linked};
  }
  if (linked != 0) {
    links = Links::kRefused;
    if (identity == Identity::kUnknown)
      identity = Kind().fuse ? Identity::kMark : Identity::kInode;
  } else {
    links = Links::kMade;
    // Two links of one file must show one number, and another file
    // another.
    const bool tells = StatNow(fd, first.c_str(), &a) == 0 &&
                       StatNow(fd, second.c_str(), &b) == 0 &&
                       fstat(fd, &folder) == 0 && SameInode(a, b) &&
                       !SameInode(a, folder);
    if (identity == Identity::kUnknown)
      identity = tells ? Identity::kInode : Identity::kMark;
    DropAside(second);
  }
  DropAside(first);  // names only this run knows
  return {};
}

/// Whether `a` and `b`, read past the cache, are proven one file with
/// another name besides: removing one of the two names then takes away
/// no file's last name.
bool SystemPlatform::Folder::Proven(const struct stat& a,
                                    const struct stat& b) const {
  return identity == Identity::kInode && SameInode(a, b) && a.st_nlink > 1;
}

/// What the names `name`, read past the cache as `a`, and `other`, read as
/// `b`, hold: kSame only where dropping `name` takes away no file's last
/// name, proven by the file system's numbers or, where they name names, by
/// a mark. Without links no two names are one file. Names that differ in
/// what the file system keeps are not marked: they cannot be one file.
Sameness SystemPlatform::Folder::Judge(const char* name, const struct stat& a,
                                       const char* other,
                                       const struct stat& b) {
  if (identity == Identity::kInode)
    return Proven(a, b) ? Sameness::kSame : Sameness::kOther;
  if (links == Links::kRefused || !S_ISREG(a.st_mode) ||
      !SameAttributes(a, b) || !MarkShows(name, other))
    return Sameness::kOther;
  return Sameness::kSame;
}

/// Removes `name`, a second name of the file that `other` names, where
/// Judge finds that takes away no file's last name; `ours` where the run
/// made `name` itself. Whatever bears the name at the instant of one
/// rename goes aside and is judged there, where nothing else can replace
/// it; what may not go comes back.
Outcome SystemPlatform::Folder::DropSecondName(const char* name,
                                               const char* other, bool ours) {
  const std::string aside =
      Aside(ours ? HiddenRole::kTo : HiddenRole::kOf, other);
  if (renameat(fd(), name, fd(), aside.c_str()) != 0)
    return errno == ENOENT ? Outcome{} : OutcomeOf(errno);
  struct stat moved, kept;
  if (StatNow(fd(), aside.c_str(), &moved) == 0 &&
      StatNow(fd(), other, &kept) == 0 &&
      Judge(aside.c_str(), moved, other, kept) == Sameness::kSame) {
    DropAside(aside);
    return {};
  }
  return PutBack(aside, name, {Failure::kOther, 0});
}

/// Removes the private name `aside` of a file that bears another name
/// too; one that fails stays for a later try.
void SystemPlatform::Folder::DropAside(const std::string& aside) {
  if (unlinkat(fd(), aside.c_str(), 0) != 0 && errno != ENOENT)
    leftovers.emplace_back(aside, false);
}

Sameness SystemPlatform::SameFile(const std::string& a, const std::string& b) {
  Folder& folder = *folder_;
  struct stat first, second;
  if (StatNow(folder.fd(), a.c_str(), &first) != 0 ||
      StatNow(folder.fd(), b.c_str(), &second) != 0)
    return Sameness::kOther;
  // The kernel's own file systems number files; FUSE ones are asked.
  if (folder.identity == Folder::Identity::kUnknown) {
    if (folder.Kind().fuse)
      folder.Learn();
    else
      folder.identity = Folder::Identity::kInode;
  }
  return folder.Judge(a.c_str(), first, b.c_str(), second);
}

Outcome SystemPlatform::RemoveSecondName(const std::string& name,
                                         const std::string& other) {
  return folder_->DropSecondName(name.c_str(), other.c_str(), /*ours=*/false);
}
