// The choice of a rename way for the folder's mount, made once a run: the
// kernel's rename that refuses a taken name where it has one, else a link
// by a hidden name where the probe finds links work, else a reservation on
// the kinds of mount where an exclusive create is seen at once by every
// client, else none (files keep their names).
#include "platform/posix/way_choice.h"

#include <cerrno>

void WayChoice::Start() {
  if (started_)
    return;
  // Where the kernel's rename refuses a taken name only by the client's
  // cache, the server's own refusal of an exclusive create holds the name
  // (its links, made by path, prove nothing through the client's caches);
  // where no way is known to be safe, none.
  started_ = true;
  const Mount& kind = folder_.Kind();
  const Way first = ServesNoWay(kind)          ? Way::kNone
                    : RefusesByCacheOnly(kind) ? Way::kReserve
                                               : Way::kNoReplace;
  if (static_cast<int>(way) < static_cast<int>(first))
    way = first;
}

bool WayChoice::AnyWay() {
  Start();
  return Settle().ok() && way != Way::kNone;
}

Outcome WayChoice::Rename(const char* from, const char* to,
                          const DateTime& stampedFrom) {
  Start();
  for (;;) {
    if (const Outcome settled = Settle(); !settled.ok())
      return settled;
    RenameWay* const ways[] = {nullptr, &noReplace_, &link_, &reserve_,
                               nullptr};
    RenameWay* chosen = ways[static_cast<int>(way)];
    if (chosen == nullptr)
      return {Failure::kOther, ENOTSUP};
    if (std::optional<Outcome> done = chosen->Rename(from, to, stampedFrom)) {
      if (done->ok())
        folder_.Settle(to);
      return *done;
    }
    // Refused as missing (only the kernel's way is; the link way's refusal
    // is the probe's, settled above): the next way, for good.
    way = static_cast<Way>(static_cast<int>(way) + 1);
  }
}

Outcome WayChoice::Settle() {
  if (way != Way::kLink)
    return {};
  // Whether links work is known before a file is moved aside, which only
  // a link can undo safely.
  if (const Outcome learnt = probe_.Learn(); !learnt.ok())
    return {Failure::kOther, learnt.error};
  if (probe_.links == LinkProbe::Links::kRefused)
    way = ReservesAtOnce(folder_.Kind()) ? Way::kReserve : Way::kNone;
  return {};
}

bool WayChoice::MayReserve() {
  if (reserving == Reserving::kUnknown) {
    const Mount& kind = folder_.Kind();
    if (RefusesByCacheOnly(kind))
      reserving = Reserving::kMay;
    else if (!kind.fuse || !ReservesAtOnce(kind))
      reserving = Reserving::kNever;
    else if (probe_.Learn().ok())
      reserving = probe_.links == LinkProbe::Links::kRefused
                      ? Reserving::kMay
                      : Reserving::kNever;
    else
      return false;  // asked again at the next such file
  }
  return reserving == Reserving::kMay;
}
