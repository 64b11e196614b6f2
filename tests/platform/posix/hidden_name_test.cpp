// The program's own hidden names, and what two names are judged to hold.
#include "platform/posix/hidden_name.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "interrupted.h"
#include "platform/posix/file_status.h"
#include "platform/posix/mark.h"
#include "platform_contract.h"
#include "scratch_folder.h"
#include "test_environment.h"

namespace {

TEST(HiddenNameTest, OnlyTheProgramsExactShapesAreItsOwn) {
  const std::string run = ".stampname-00000000000000ff-12";
  struct Row {
    std::string name;
    HiddenRole role;
    std::string recorded;
  };
  for (const Row& row : std::initializer_list<Row>{
           {run + " to 2009-03-05 07-08-09 (02).CR2", HiddenRole::kTo,
            "2009-03-05 07-08-09 (02).CR2"},
           {run + " of 2009-03-05 07-08-09.jpg", HiddenRole::kOf,
            "2009-03-05 07-08-09.jpg"},
           {run + " void 2009-03-05 07-08-09", HiddenRole::kVoid,
            "2009-03-05 07-08-09"},
           {run + " time 2009-03-05 07-08-09.jpg", HiddenRole::kTime,
            "2009-03-05 07-08-09.jpg"},
           {run + " probe", HiddenRole::kProbe, ""},
           {run + " void", HiddenRole::kVoid, ""},
           // Names too long to record whole, by their digest.
           {run + " to#00112233445566ff", HiddenRole::kTo,
            "#00112233445566ff"},
           {run + " time#00112233445566ff", HiddenRole::kTime,
            "#00112233445566ff"},
           {run + " to#00112233445566ff.tar.gz", HiddenRole::kTo,
            "#00112233445566ff.tar.gz"},
           {run + ".jpg", HiddenRole::kEarlier, ""},
           {run, HiddenRole::kEarlier, ""},
           // A user's own names that share the prefix.
           {".stampname-notes", HiddenRole::kNone, ""},
           {".stampname-backup.JPG", HiddenRole::kNone, ""},
           {".stampname-00ff-1.jpg", HiddenRole::kNone, ""},
           {".stampname-00000000000000FF-1.jpg", HiddenRole::kNone, ""},
           {".stampname-00000000000000ff-.jpg", HiddenRole::kNone, ""},
           {run + " to ", HiddenRole::kNone, ""},
           {run + " probes", HiddenRole::kNone, ""},
           {run + " to#0011", HiddenRole::kNone, ""},
           {run + " to#00112233445566FF", HiddenRole::kNone, ""},
           {run + " to#00112233445566ffx.jpg", HiddenRole::kNone, ""},
           {run + "x.jpg", HiddenRole::kNone, ""},
       }) {
    EXPECT_EQ(ParseHidden(row.name).role, row.role) << row.name;
    EXPECT_EQ(RecordedIn(row.name), row.recorded) << row.name;
    // Only the shape without a space records a digest: " to #…" records a
    // user's name of that shape.
    EXPECT_EQ(ParseHidden(row.name).byDigest,
              row.recorded.starts_with('#')) << row.name;
  }
  EXPECT_FALSE(ParseHidden(run + " to #00112233445566ff").byDigest);
  EXPECT_EQ(MakeHidden(0xff, 12, HiddenRole::kTo, "a.jpg"), run + " to a.jpg");
  EXPECT_EQ(MakeHidden(0xff, 12, HiddenRole::kProbe), run + " probe");
  // Every hidden name fits in 255 bytes, whatever it records, a hidden name
  // too: one too long to record whole by a digest that finds it again.
  for (const HiddenRole role : {HiddenRole::kTo, HiddenRole::kOf,
                                HiddenRole::kVoid, HiddenRole::kTime}) {
    for (std::size_t length = 200; length <= 255; ++length) {  // each byte
      const std::string name = std::string(length, 'x');
      const std::string hidden = MakeHidden(~0ull, 4000000000u, role, name);
      EXPECT_LE(hidden.size(), 255u) << length;
      EXPECT_EQ(ParseHidden(hidden).role, role) << length;
      const std::string again = MakeHidden(~0ull, 4000000000u, role,
                                           hidden + std::string(200, 'y'));
      EXPECT_LE(again.size(), 255u);
      std::uint64_t digest = 0;
      ASSERT_TRUE(DigestIn(RecordedIn(again), &digest));
      EXPECT_EQ(digest, NameDigest(hidden + std::string(200, 'y')));
      if (RecordedIn(hidden) != name) {
        ASSERT_TRUE(DigestIn(RecordedIn(hidden), &digest));
        EXPECT_EQ(digest, NameDigest(name));
      }
    }
    // A long name's extension goes with its digest where it fits, so a
    // file found alone under it keeps it.
    for (const auto& [name, extension] :
         std::initializer_list<std::pair<std::string, std::string>>{
             {std::string(240, 'o') + ".jpg", ".jpg"},
             {"o." + std::string(240, 'x'), ""}}) {
      const std::string hidden = MakeHidden(~0ull, 4000000000u, role, name);
      EXPECT_LE(hidden.size(), 255u);
      std::uint64_t digest = 0;
      ASSERT_TRUE(DigestIn(RecordedIn(hidden), &digest)) << hidden;
      EXPECT_EQ(digest, NameDigest(name));
      EXPECT_EQ(RecordedIn(hidden).substr(17), extension);
    }
  }

  // Where numbers cannot tell, a mark proves a hidden name one file with
  // the name it records, and never with a copy of the same bytes and time.
  // (Where there are no links, no two names are one file. A plain second
  // link's proof is the link way's test, copies under any name the
  // contract's.)
  if (Environment().way == 3)
    return;
  InScratchFolder here;
  const fs::path in = here.rename();
  const std::string hidden = run + " to b.jpg";
  struct Marking {
    std::string what;
    std::function<MarkCalls(MarkCalls)> calls;
    Sameness sameness;  // of the hidden name and the name it records
  };
  // A mode's setting that only answers `error`.
  const auto setAnswers = [](int error) {
    return [error](MarkCalls calls) {
      calls.set = [error](int, const char*, mode_t) { return error; };
      return calls;
    };
  };
  std::vector<Marking> rows = {
      {"plain", nullptr, Sameness::kSame},
      // Through a cache as sshfs keeps one too: the other name read anew.
      {"through a cache", SshfsCache, Sameness::kSame},
      {"a mode this run may not set", setAnswers(EPERM), Sameness::kUnproven},
      {"a file system that keeps no such mark", setAnswers(0),
       Sameness::kUnproven},
  };
  // A save in place at any instant of the mark keeps the date it gives the
  // file, through a cache too.
  std::map<std::string, struct stat> before;
  bool saved = false;
  for (int call = 0; call < 12; ++call)
    for (const bool cached : {false, true})
      rows.push_back(
          {"a save at call " + std::to_string(call) + (cached ? ", cached" : ""),
           [call, cached, &in, &before, &saved](MarkCalls calls) {
             if (cached)
               calls = SshfsCache(std::move(calls));
             auto made = std::make_shared<int>(0);
             const auto save = [call, made, &in, &before, &saved] {
               if ((*made)++ != call)
                 return;
               saved = true;
               WriteFile(in / "b.jpg", "new!", kEarly + 3601);
               struct stat st;
               stat((in / "b.jpg").c_str(), &st);
               before["b.jpg"].st_atim = st.st_atim;
               before["b.jpg"].st_mtim = st.st_mtim;
             };
             calls.status = [save, status = calls.status](
                                int fd, const char* name, struct stat* st) {
               save();
               return status(fd, name, st);
             };
             calls.set = [save, set = calls.set](int fd, const char* name,
                                                 mode_t mode) {
               save();
               return set(fd, name, mode);
             };
             return calls;
           },
           Sameness::kSame});
  for (const Marking& row : rows) {
    SCOPED_TRACE(row.what);
    saved = false;
    for (const std::string& name :
         {std::string("a.jpg"), std::string("b.jpg"), hidden})
      fs::remove(in / name);
    for (const std::string name : {"a.jpg", "b.jpg"}) {
      WriteFile(in / name, "same", kEarly);
      // A fraction of a second too, where the file system keeps one.
      const struct timespec early[2] = {{kEarly, 250000000},
                                        {kEarly, 250000000}};
      utimensat(AT_FDCWD, (in / name).c_str(), early, 0);
      ASSERT_EQ(stat((in / name).c_str(), &before[name]), 0);
    }
    // The kernel's FAT renames at once, and has no links all the same.
    std::error_code noLinks;
    fs::create_hard_link(in / "b.jpg", in / hidden, noLinks);
    if (noLinks && Environment().way != 0)
      return;
    ASSERT_FALSE(noLinks) << noLinks.message();
    WayPlatform platform(Way::kLink, {.byMark = true, .markCalls = row.calls});
    ListAll(platform);
    // Where the file system keeps no such bit, nothing is proven.
    const Sameness sameness =
        StickyBitKept() ? row.sameness : Sameness::kUnproven;
    EXPECT_EQ(platform.SameFile(hidden, "b.jpg"), sameness);
    // A copy is never the file; without a mark, not proven two either,
    // unless a save made them differ.
    EXPECT_EQ(platform.SameFile(hidden, "a.jpg"),
              sameness == Sameness::kSame || saved ? Sameness::kOther
                                                   : sameness);
    // The mark leaves nothing: every time and mode as it was, or as a save
    // meanwhile made it, to the fraction of a second. Read anew: a save
    // through a name leaves the mount's caches showing that name as it was
    // when saved.
    for (const std::string name : {"a.jpg", "b.jpg"}) {
      struct stat st;
      SystemMarkCalls().open(AT_FDCWD, (in / name).c_str());
      ASSERT_EQ(StatNow(AT_FDCWD, (in / name).c_str(), &st), 0);
      EXPECT_EQ(st.st_mtim.tv_sec, before[name].st_mtim.tv_sec) << name;
      EXPECT_EQ(st.st_mtim.tv_nsec, before[name].st_mtim.tv_nsec) << name;
      FileTimes times;
      ASSERT_EQ(TimesNow(AT_FDCWD, (in / name).c_str(), &times), 0);
      EXPECT_EQ(times.accessSeconds, before[name].st_atime) << name;
      EXPECT_EQ(st.st_mode, before[name].st_mode) << name;
    }
  }
}

}  // namespace
