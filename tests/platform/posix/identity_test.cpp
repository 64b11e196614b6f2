// The program's own hidden names, and what two names are judged to hold.
#include "platform/posix/identity.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

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
           {run + " probe", HiddenRole::kProbe, ""},
           {run + " void", HiddenRole::kVoid, ""},
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
           {run + "x.jpg", HiddenRole::kNone, ""},
       }) {
    EXPECT_EQ(ParseHidden(row.name).role, row.role) << row.name;
    EXPECT_EQ(RecordedIn(row.name), row.recorded) << row.name;
  }
  EXPECT_EQ(MakeHidden(0xff, 12, HiddenRole::kTo, "a.jpg"), run + " to a.jpg");
  EXPECT_EQ(MakeHidden(0xff, 12, HiddenRole::kProbe), run + " probe");
  // A reservation's name too long to record beside.
  EXPECT_EQ(MakeHidden(0xff, 12, HiddenRole::kVoid, std::string(240, 'x')),
            run + " void");

  // Where only bytes can tell, a hidden name is one file with the name it
  // records, and with no other that looks the same. (Where there are no
  // links, no two names are one file; on SMB through FUSE a written file
  // takes its time only when the share closes it, late.)
  if (Environment().tier == 3)
    return;
  InScratchFolder here;
  const std::string hidden = run + " to b.jpg";
  for (const std::string name : {"a.jpg", "b.jpg", hidden.c_str()})
    WriteFile(here.rename() / name, "same", kEarly);
  TieredPlatform platform(Tier::kLinkThenUnlink, {.byBytes = true});
  ListAll(platform);
  EXPECT_EQ(platform.SameFile(hidden, "b.jpg"), Sameness::kSame);
  EXPECT_NE(platform.SameFile(hidden, "a.jpg"), Sameness::kSame);
}

}  // namespace
