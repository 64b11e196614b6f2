#ifndef STAMPNAME_PLATFORM_POSIX_HIDDEN_NAME_H_
#define STAMPNAME_PLATFORM_POSIX_HIDDEN_NAME_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

/// The hidden names a run gives files for the instant between two steps,
/// each of one exact shape, so that a later run knows them for what they
/// are and a user's own `.stampname-…` files for theirs. Each is
/// ".stampname-<16 hex digits>-<count>" and then:
///
///   " to <name>"    the file, headed for <name>
///   " of <name>"    a second name of <name>, judged before it goes
///   " void <name>"  the reservation of <name>, judged empty before it goes
///                   (" void" alone where <name> would not fit)
///   " time <name>"  an empty file dated as the file renamed to <name> was,
///                   while a rename that resets times may have done so
///   " probe"        an empty file that finds out whether links work
///   " turn"         who holds the folder's turn, where its lock reaches
///                   this machine only (the turn itself has digits 0 and
///                   count 0; others are turns being taken away)
///
/// Where the name would not fit in 255 bytes beside the rest, a digest of
/// it stands for it: "to#<16 hex digits>" and likewise, found again among
/// the folder's names by the same digest, then the name's extension where
/// that fits, which a file found alone under it keeps. And, from earlier
/// versions, ".stampname-<16 hex digits>-<count>" with the file's
/// extension. The digits are random for each run, so that no other run, on
/// this machine or another, ever makes the same name.
enum class HiddenRole {
  kNone,  // not a name of the program's: a user's (hidden) file
  kTo,
  kOf,
  kVoid,
  kTime,
  kProbe,
  kTurn,
  kEarlier,  // an earlier version's: the file's extension, nothing recorded
};

extern const char kHiddenPrefix[];

struct HiddenName {
  HiddenRole role = HiddenRole::kNone;
  // Where the recorded name begins (kTo, kOf, kVoid), or where the file's
  // own extension may begin (kEarlier).
  std::size_t recorded = 0;
  // Recorded by its digest: "#<16 hex digits>", then its extension where
  // it fits.
  bool byDigest = false;
};

/// What `name` is, by its exact shape.
HiddenName ParseHidden(std::string_view name);

/// The name recorded in `name`, of a shape with one; empty otherwise. A
/// digest is recorded as "#<16 hex digits>".
std::string_view RecordedIn(std::string_view name);

/// The digest a hidden name records for a name too long to record whole.
std::uint64_t NameDigest(std::string_view name);

/// The digest in `recorded`, "#<16 hex digits>" and any extension; false
/// where it is a name.
bool DigestIn(std::string_view recorded, std::uint64_t* digest);

/// A new hidden name of the run numbered `run`: the `count`th it makes.
std::string MakeHidden(std::uint64_t run, unsigned count, HiddenRole role,
                       std::string_view recorded = {});

#endif  // STAMPNAME_PLATFORM_POSIX_HIDDEN_NAME_H_
