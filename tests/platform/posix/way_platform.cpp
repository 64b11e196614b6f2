#include "way_platform.h"

#include <deque>
#include <memory>

#include "platform/posix/folder.h"

WayPlatform::WayPlatform(Way first, const WayOptions& options) {
  Folder& folder = *folder_;
  folder.ways.way = first;
  folder.open.lock = options.lock;
  folder.open.turns = options.turns;
  folder.sightings.inFlightSeconds = options.inFlightSeconds;
  folder.timesUnknown = options.timesUnknown;
  if (options.mayReserve)
    folder.ways.reserving = WayChoice::Reserving::kMay;
  if (options.byMark)
    folder.probe.identity = LinkProbe::Identity::kMark;
  if (options.marks)
    folder.proof.mark = [marked = *options.marks](int, const char*,
                                                  const char*) {
      return marked;
    };
  if (options.mountType)
    folder.open.mount =
        options.mountType->empty()
            ? Mount{}
            : MountFrom(*options.mountType, options.mountOptions,
                        options.kernelMinutesWest);
  if (!options.probeLinks.empty())
    folder.probe.link =
        [errors = std::make_shared<std::deque<int>>(options.probeLinks.begin(),
                                                    options.probeLinks.end()),
         link = folder.probe.link](int fd, const char* from, const char* to) {
          if (errors->empty())
            return link(fd, from, to);
          const int error = errors->front();
          errors->pop_front();
          return error;
        };
  if (!options.noReplace.empty())
    folder.ways.kernelWay().rename =
        [errors = std::make_shared<std::deque<int>>(options.noReplace.begin(),
                                                    options.noReplace.end()),
         rename = folder.ways.kernelWay().rename](int fd, const char* from,
                                                  const char* to) {
          if (errors->empty())
            return rename(fd, from, to);
          const int error = errors->front();
          errors->pop_front();
          return error;
        };
  folder.open.makeByOpen = options.makeByOpen;
  if (options.flush)
    folder.open.flush = options.flush;
  folder.open.between = [this](RenameStep step) { Between(step); };
}

Way WayPlatform::way() const {
  return folder_->ways.way;
}

Turn& WayPlatform::turn() {
  return folder_->turn;
}
