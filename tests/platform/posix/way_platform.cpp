#include "way_platform.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/file_status.h"
#include "platform/posix/folder.h"

namespace {

/// `call`, answering its first calls with `errors`, one each, in order.
template <typename... Args>
std::function<int(Args...)> FailingFirst(const std::vector<int>& errors,
                                         std::function<int(Args...)> call) {
  return [left = std::make_shared<std::deque<int>>(errors.begin(), errors.end()),
          call = std::move(call)](Args... args) {
    if (left->empty())
      return call(args...);
    const int error = left->front();
    left->pop_front();
    return error;
  };
}

}  // namespace

MarkCalls SshfsCache(MarkCalls calls) {
  auto cache = std::make_shared<std::map<std::string, struct stat>>();
  auto filled = std::make_shared<bool>(false);
  calls.status = [cache, filled, status = calls.status](
                     int fd, const char* name, struct stat* st) {
    if (!std::exchange(*filled, true))
      for (const auto& entry :
           std::filesystem::directory_iterator(std::string(folderPrefix)))
        status(fd, entry.path().filename().c_str(),
               &(*cache)[entry.path().filename()]);
    if (const auto cached = cache->find(name); cached != cache->end()) {
      *st = cached->second;
      return 0;
    }
    return status(fd, name, st);
  };
  calls.set = [cache, set = calls.set](int fd, const char* name, mode_t mode) {
    cache->erase(name);
    return set(fd, name, mode);
  };
  calls.open = [cache, open = calls.open](int fd, const char* name) {
    cache->erase(name);
    open(fd, name);
  };
  return calls;
}

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
    folder.probe.link = FailingFirst(options.probeLinks, folder.probe.link);
  if (!options.recordReads.empty())
    folder.times.readTimes = FailingFirst(options.recordReads,
                                          folder.times.readTimes);
  if (!options.putBacks.empty())
    folder.times.putBack = FailingFirst(options.putBacks, folder.times.putBack);
  if (options.markCalls)
    folder.proof.mark = [calls = options.markCalls(SystemMarkCalls())](
                            int fd, const char* name, const char* other) {
      return MarkShows(fd, name, other, calls);
    };
  if (options.noLinks)
    folder.probe.links = LinkProbe::Links::kRefused;
  if (options.numbersPerName)
    folder.probe.statNow = [](int fd, const char* name, struct stat* st) {
      const int error = StatNow(fd, name, st);
      st->st_ino ^= std::hash<std::string_view>{}(name);
      return error;
    };
  if (!options.noReplace.empty())
    folder.ways.kernelWay().rename =
        FailingFirst(options.noReplace, folder.ways.kernelWay().rename);
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
