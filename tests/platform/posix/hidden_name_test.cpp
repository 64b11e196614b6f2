// The program's own hidden names, and what two names are judged to hold.
#include "platform/posix/hidden_name.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "interrupted.h"
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
  for (const std::string name : {"a.jpg", "b.jpg"})
    WriteFile(in / name, "same", kEarly);
  // The kernel's FAT renames at once, and has no links all the same.
  std::error_code noLinks;
  fs::create_hard_link(in / "b.jpg", in / hidden, noLinks);
  if (noLinks && Environment().way != 0)
    return;
  ASSERT_FALSE(noLinks) << noLinks.message();
  // Through a cache as sshfs keeps one too: the other name read anew.
  for (const bool cached : {false, true}) {
    WayPlatform platform(Way::kLink, {.byMark = true, .cachedTimes = cached});
    ListAll(platform);
    EXPECT_EQ(platform.SameFile(hidden, "b.jpg"), Sameness::kSame) << cached;
    EXPECT_EQ(platform.SameFile(hidden, "a.jpg"), Sameness::kOther) << cached;
  }
  // The mark leaves nothing: every time as it was.
  for (const std::string name : {"a.jpg", "b.jpg"}) {
    struct stat st;
    ASSERT_EQ(stat((in / name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, kEarly) << name;
    EXPECT_EQ(st.st_atime, kEarly) << name;
  }
}

}  // namespace
