#include "renaming_pass.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "fake_folder.h"
#include "new_name.h"

namespace {

const DateTime kMarch{2009, 3, 5, 7, 8, 9};
const std::string kStamp = "2009-03-05 07-08-09";

DateTime At(int second) { return {2020, 6, 1, 12, 0, second}; }

/// Expects each file, by id, under the name given.
void ExpectNames(const FakeFolder& folder,
                 const std::map<int, std::string>& names) {
  for (const auto& [id, name] : names)
    EXPECT_EQ(folder.NameOf(id), name) << "file " << id;
}

TEST(RenamingPassTest, SameSecondFilesAreNumberedInNameOrderWhateverTheListing) {
  // Names equal but for case are one name, on every file system.
  for (std::uint64_t seed = 0; seed < 4; ++seed) {
    FakeFolder folder;
    folder.caseInsensitive = seed % 2 == 1;
    const int b = folder.Add("b.jpg", kMarch);
    const int a0 = folder.Add("a0.jpg", kMarch);
    const int a = folder.Add("a.jpg", kMarch);
    const int upperC = folder.Add("C.jpg", kMarch);
    const int upper = folder.Add("e.JPG", kMarch);
    const int mixed = folder.Add("f.Jpg", kMarch);
    const int other = folder.Add("d.png", kMarch);
    // One shot from the camera and exported: no number can serve both.
    const int camera = folder.Add("IMG_0001.JPG", At(1));
    const int exported = folder.Add("IMG_0001.jpg", At(1));
    const int raw = folder.Add("IMG_0001.CR2", At(1));
    folder.Shuffle(seed);

    EXPECT_EQ(Main(folder), kAllNamed);
    // Byte order: capitals before small letters, a shorter name first.
    ExpectNames(folder, {{upperC, kStamp + ".jpg"},
                         {a, kStamp + " (02).jpg"},
                         {a0, kStamp + " (03).jpg"},
                         {b, kStamp + " (04).jpg"},
                         {upper, kStamp + " (05).JPG"},
                         {mixed, kStamp + " (06).Jpg"},
                         {other, kStamp + ".png"},
                         {camera, "2020-06-01 12-00-01.JPG"},
                         {raw, "2020-06-01 12-00-01.CR2"},
                         {exported, "2020-06-01 12-00-01 (02).jpg"}});
  }
}

TEST(RenamingPassTest, AShotMovesOnTogetherWhereOneOfItsNamesIsTaken) {
  FakeFolder folder;
  // A folder or hidden file takes its name as any file does.
  folder.Add(kStamp + ".JPG", kMarch, /*ordinary=*/false);
  folder.Add(kStamp + ".CR2", kMarch, /*ordinary=*/false);
  const int raw = folder.Add("IMG_0001.CR2", kMarch);
  const int jpeg = folder.Add("IMG_0001.JPG", kMarch);
  // Taken only when the rename comes (another run named a file there): the
  // shot goes on together, a member named already with it.
  const int late = folder.Add("IMG_0002.CR2", kMarch);
  const int lateJpeg = folder.Add("IMG_0002.JPG", kMarch);
  const int later = folder.Add("IMG_0003.CR2", kMarch);
  const int laterJpeg = folder.Add("IMG_0003.JPG", kMarch);
  // The name found taken is remembered: no later file takes it in another
  // case, beside it.
  const int lower = folder.Add("IMG_0004.cr2", kMarch);
  folder.inject = [&](FakeFolder::Op op, const std::string& name) {
    if (op == FakeFolder::Op::kRename && name == "IMG_0002.CR2")
      folder.entries.try_emplace(kStamp + " (03).CR2",
                                 FakeFolder::Entry{kMarch, 99, false});
    if (op == FakeFolder::Op::kRename && name == "IMG_0003.JPG")
      folder.entries.try_emplace(kStamp + " (05).JPG",
                                 FakeFolder::Entry{kMarch, 98, false});
    return Failure::kNone;
  };

  EXPECT_EQ(Main(folder), kAllNamed);
  ExpectNames(folder, {{raw, kStamp + " (02).CR2"},
                       {jpeg, kStamp + " (02).JPG"},
                       {late, kStamp + " (04).CR2"},
                       {lateJpeg, kStamp + " (04).JPG"},
                       {later, kStamp + " (06).CR2"},
                       {laterJpeg, kStamp + " (06).JPG"},
                       {lower, kStamp + " (05).cr2"}});
}

TEST(RenamingPassTest, BurstCostsOneRenamePerFileUpTo99) {
  // Half the numbers taken before the run, the rest by the burst; past 99
  // the file keeps its name, and the next second starts afresh.
  FakeFolder folder;
  const int taken = kMaxAttempts / 2, burst = kMaxAttempts - taken;
  for (int number = 1; number <= taken; ++number)
    folder.Add(NewName(kMarch, number, ".jpg"), kMarch, false);
  for (int i = 0; i < burst; ++i)
    folder.Add("burst" + std::to_string(i) + ".jpg", kMarch);
  const int unlucky = folder.Add("unlucky.jpg", kMarch);
  const int next = folder.Add("next.png", kMarch);

  EXPECT_EQ(Main(folder), kSomeKept);
  ExpectNames(folder, {{unlucky, "unlucky.jpg"}, {next, kStamp + ".png"}});
  EXPECT_EQ(folder.entries.count(kStamp + " (99).jpg"), 1u);
  // Names the pass created itself are known to be taken and never retried.
  EXPECT_EQ(folder.renames.size(), static_cast<size_t>(burst + 1));
  // The whole listing was read first, and each time once.
  EXPECT_EQ(folder.listedAfterRename, 0);
  EXPECT_EQ(folder.TotalTimeReads(), burst + 2);
}

/// A failure met by the middle one of three files; the two around it are
/// named whatever befalls it, unless the listing ends before them.
struct FailureCase {
  const char* what;
  FakeFolder::Op op;  // fails for middle.jpg only (kList, kFlush: the folder)
  Failure failure;
  ExitStatus status;
  std::string middleName = "middle.jpg";  // after the run
  DateTime middleTime = At(2);
  size_t renames = 2;
  bool listedOn = true;  // after.jpg was listed, and so named
};

void PrintTo(const FailureCase& row, std::ostream* out) { *out << row.what; }

class FailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(FailureTest, TouchesOnlyTheFileItBefalls) {
  const FailureCase& row = GetParam();
  FakeFolder folder;
  folder.Add("first.jpg", At(1));
  folder.Add("middle.jpg", row.middleTime);
  folder.Add("after.jpg", At(3));
  folder.inject = [&](FakeFolder::Op op, const std::string& name) {
    const bool befalls = name == "middle.jpg" || op == FakeFolder::Op::kList ||
                         op == FakeFolder::Op::kFlush;
    return op == row.op && befalls ? row.failure : Failure::kNone;
  };

  EXPECT_EQ(Main(folder), row.status);
  const bool listed = row.status != kNoFolder;
  ExpectNames(folder,
              {{1, listed ? "2020-06-01 12-00-01.jpg" : "first.jpg"},
               {2, row.middleName},
               {3, row.listedOn ? "2020-06-01 12-00-03.jpg" : "after.jpg"}});
  // A refusal that is not about the name tries no numbered names.
  EXPECT_EQ(folder.renames.size(), row.renames);
  EXPECT_EQ(folder.flushes, listed ? 1 : 0);
}

using Op = FakeFolder::Op;
INSTANTIATE_TEST_SUITE_P(
    RenamingPassTest, FailureTest,
    testing::Values(
        // A folder that is not there is a missing folder, nothing else.
        FailureCase{"MissingFolder", Op::kList, Failure::kGone, kNoFolder,
                    "middle.jpg", At(2), 0, false},
        FailureCase{"CutListing", Op::kNext, Failure::kOther, kSomeKept,
                    "middle.jpg", At(2), 1, false},
        // Refused access, an I/O error, a name too long: all mean the same.
        FailureCase{"UnreadableTime", Op::kTime, Failure::kOther, kSomeKept},
        FailureCase{"RefusedRename", Op::kRename, Failure::kOther, kSomeKept,
                    "middle.jpg", At(2), 3},
        FailureCase{"GoneBeforeTime", Op::kTime, Failure::kGone, kAllNamed},
        FailureCase{"GoneBeforeRename", Op::kRename, Failure::kGone, kAllNamed,
                    "middle.jpg", At(2), 3},
        // Names that may not be on the medium (a failing card).
        FailureCase{"FailedFlush", Op::kFlush, Failure::kOther, kSomeKept,
                    "2020-06-01 12-00-02.jpg", At(2), 3},
        // Read first, to learn whether renames keep times.
        FailureCase{"GoneBeforeTimes", Op::kReadTimes, Failure::kGone,
                    kAllNamed, "middle.jpg", At(0)},
        // Only four-digit years make a name.
        FailureCase{"Year0", Op::kList, Failure::kNone, kSomeKept,
                    "middle.jpg", {0, 1, 1, 0, 0, 0}},
        FailureCase{"YearBelow0", Op::kList, Failure::kNone, kSomeKept,
                    "middle.jpg", {-1, 12, 31, 23, 59, 59}},
        FailureCase{"Year10000", Op::kList, Failure::kNone, kSomeKept,
                    "middle.jpg", {10000, 1, 1, 0, 0, 0}},
        FailureCase{"Year1", Op::kList, Failure::kNone, kAllNamed,
                    "0001-01-01 00-00-00.jpg", {1, 1, 1, 0, 0, 0}, 3},
        FailureCase{"Year9999", Op::kList, Failure::kNone, kAllNamed,
                    "9999-12-31 23-59-59.jpg", {9999, 12, 31, 23, 59, 59}, 3}),
    [](const testing::TestParamInfo<FailureCase>& info) {
      return info.param.what;
    });

TEST(RenamingPassTest, FileThatChangedWhileBeingNamedIsTimedAgain) {
  FakeFolder folder;
  const int settles = folder.Add("settles.jpg", At(1));
  const int restless = folder.Add("restless.jpg", At(2));
  int settlesRenames = 0;
  folder.inject = [&](FakeFolder::Op op, const std::string& name) {
    if (op != FakeFolder::Op::kRename)
      return Failure::kNone;
    if (name == "settles.jpg" && ++settlesRenames == 1) {
      folder.entries[name].modified = At(5);  // written to meanwhile
      return Failure::kChanged;
    }
    return name == "restless.jpg" ? Failure::kChanged : Failure::kNone;
  };

  EXPECT_EQ(Main(folder), kSomeKept);
  EXPECT_EQ(folder.NameOf(settles), "2020-06-01 12-00-05.jpg");
  EXPECT_EQ(folder.NameOf(restless), "restless.jpg");
  // Three readings of its time, one rename each, and no more.
  EXPECT_EQ(folder.TotalTimeReads(), 2 + 3);
  EXPECT_EQ(folder.renames.size(), 2u + 3u);
}

// A rerun over a renamed folder, listed in name order, moves nothing.
TEST(RenamingPassTest, NamedFilesStayAndARerunAfterADeletionMovesNothing) {
  FakeFolder folder;
  const int numbered = folder.Add(kStamp + " (05).jpg", kMarch);
  const int unnumbered = folder.Add(kStamp + ".png", kMarch);
  // An edited photo of 2010 still bearing the name of its 2009 original:
  // the name it frees serves this very run.
  const int edited = folder.Add(kStamp + ".jpg", {2010, 1, 1, 0, 0, 0});
  for (int i = 0; i < 4; ++i)
    folder.Add("f" + std::to_string(i) + ".jpg", kMarch);
  ASSERT_EQ(Main(folder), kAllNamed);
  EXPECT_EQ(folder.NameOf(edited), "2010-01-01 00-00-00.jpg");
  EXPECT_EQ(folder.NameOf(numbered), kStamp + " (05).jpg");
  EXPECT_EQ(folder.NameOf(unnumbered), kStamp + ".png");
  EXPECT_EQ(folder.entries.count(kStamp + " (06).jpg"), 0u);

  // One bad shot deleted: the others keep their numbers; a new file of that
  // second takes the lowest free one.
  folder.entries.erase(kStamp + " (02).jpg");
  const auto named = folder.entries;
  folder.order.clear();
  for (const auto& [name, entry] : named)
    folder.order.push_back(name);
  const int late = folder.Add("late.jpg", kMarch);
  folder.renames.clear();

  EXPECT_EQ(Main(folder), kAllNamed);
  for (const auto& [name, entry] : named)
    EXPECT_EQ(folder.NameOf(entry.id), name);
  EXPECT_EQ(folder.NameOf(late), kStamp + " (02).jpg");
  EXPECT_EQ(folder.renames.size(), 1u);
}

TEST(RenamingPassTest, FileWithASecondNameOfItsOwnMakesNoThird) {
  // Left by a run stopped between linking a new name and dropping the old:
  // the old name goes where the file system proves the two one file. A
  // hidden name of a stopped run is judged against the one name it records
  // alone; a copy under that name, or the file under any other number,
  // proves nothing. Names that cannot be proven one file are two files:
  // the second is named as a duplicate would be. Where no proof can be had
  // either way (another user's file takes no mark), a name of its own time
  // keeps it from a further name: it keeps its old one, and the run says
  // so. A hidden name is still named, not left hidden.
  const std::string kHidden = ".stampname-00000000000000ff-1 to ";
  struct Row {
    const char* what;
    bool refused, noProof, copy;
    std::string old, second;  // the old name, and its second name
    std::string headedFor;    // what the old (hidden) name records
    ExitStatus status;
    std::string oldBecomes;   // "" where it goes
    bool foreign = false;     // the old name takes no mark
  };
  const std::string own = kStamp + " (02).jpg", next = kStamp + " (03).jpg";
  for (const Row& row : std::initializer_list<Row>{
           {"proven", false, false, false, "photo.jpg", own, "", kAllNamed, ""},
           {"refused", true, false, false, "photo.jpg", own, "", kSomeKept,
            "photo.jpg"},
           {"no proof", false, true, false, "photo.jpg", own, "", kAllNamed,
            next},
           {"no proof, refused", true, true, false, "photo.jpg", own, "",
            kAllNamed, next},
           {"a copy", false, false, true, "photo.jpg", own, "", kAllNamed, next},
           {"hidden", false, false, false, kHidden + own, own, own, kAllNamed,
            ""},
           {"hidden, no proof", false, true, false, kHidden + own, own, own,
            kAllNamed, next},
           {"hidden, a copy under its name", false, false, true, kHidden + own,
            own, own, kAllNamed, next},
           {"hidden, other number", false, false, false, kHidden + next, own,
            next, kAllNamed, next},
           {"another user's", false, false, false, "photo.jpg", own, "",
            kSomeKept, "photo.jpg", true},
           {"another user's copy", false, false, true, "photo.jpg", own, "",
            kSomeKept, "photo.jpg", true},
           {"hidden, another user's", false, false, false, kHidden + own, own,
            own, kAllNamed, next, true},
       }) {
    FakeFolder folder;
    folder.noProof = row.noProof;
    if (row.foreign)
      folder.unprovable = {row.old};
    const int photo = folder.Add(row.old, kMarch);
    if (!row.headedFor.empty())
      folder.headedFor[row.old] = row.headedFor;
    const int second =
        row.copy ? folder.Add(row.second, kMarch)
                 : (folder.entries[row.second] = folder.entries[row.old],
                    folder.order.push_back(row.second), photo);
    const int other = folder.Add("-other.jpg", kMarch);  // named first
    folder.inject = [&](FakeFolder::Op op, const std::string&) {
      return row.refused && op == FakeFolder::Op::kUnlink ? Failure::kOther
                                                          : Failure::kNone;
    };

    EXPECT_EQ(Main(folder), row.status) << row.what;
    EXPECT_EQ(folder.NameOf(other), kStamp + ".jpg") << row.what;
    EXPECT_EQ(folder.entries.at(row.second).id, second) << row.what;
    if (!row.oldBecomes.empty()) {
      EXPECT_EQ(folder.entries.at(row.oldBecomes).id, photo) << row.what;
    }
    EXPECT_EQ(folder.entries.size(), row.oldBecomes.empty() ? 2u : 3u)
        << row.what;
  }

  // Killed while putting a file back to its old name: the hidden name
  // records that name, any name, and goes; the file is named once. A
  // hidden name headed for a name of another time than its file's (edited
  // since) is named after its own time.
  FakeFolder folder;
  const std::string hidden = kHidden + "photo.jpg";
  const int photo = folder.Add(hidden, kMarch);
  folder.headedFor[hidden] = "photo.jpg";
  folder.entries["photo.jpg"] = folder.entries[hidden];
  folder.order.push_back("photo.jpg");
  const std::string edited = kHidden + "2001-01-01 00-00-00.jpg";
  const int later = folder.Add(edited, At(1));
  folder.headedFor[edited] = "2001-01-01 00-00-00.jpg";
  EXPECT_EQ(Main(folder), kAllNamed);
  EXPECT_EQ(folder.entries.size(), 2u);
  EXPECT_EQ(folder.NameOf(photo), kStamp + ".jpg");
  EXPECT_EQ(folder.NameOf(later), "2020-06-01 12-00-01.jpg");
}

TEST(RenamingPassTest, TimesAreSetBackWhereARenameResetsThem) {
  FakeFolder folder;
  folder.renameResetsTimeTo = DateTime{2026, 12, 7, 20, 6, 28};
  folder.now = static_cast<std::int64_t>(Packed(*folder.renameResetsTimeTo));
  const int first = folder.Add("a.jpg", At(1));
  const int second = folder.Add("b.jpg", At(2));
  folder.Add("c.jpg", At(3));

  // The third is saved anew while it is renamed: it keeps its new time.
  const DateTime saved{2026, 12, 7, 20, 6, 29};
  folder.inject = [&](FakeFolder::Op op, const std::string& name) {
    if (op == FakeFolder::Op::kReadTimes && name == "2020-06-01 12-00-03.jpg")
      folder.entries[name] = {saved, 99};
    return Failure::kNone;
  };
  EXPECT_EQ(Main(folder), kAllNamed);
  EXPECT_EQ(folder.entries.at(folder.NameOf(first)).modified, At(1));
  EXPECT_EQ(folder.entries.at(folder.NameOf(second)).modified, At(2));
  EXPECT_EQ(folder.entries.at("2020-06-01 12-00-03.jpg").modified, saved);
  // Each file's times recorded before its rename, the record dropped once
  // they were back.
  ASSERT_EQ(folder.records.size(), 3u);
  EXPECT_EQ(folder.records[1],
            std::pair(std::string("2020-06-01 12-00-02.jpg"),
                      static_cast<std::int64_t>(Packed(At(2)))));
  EXPECT_EQ(folder.recordsDropped, 3);

  // A first file dated about the time of its rename cannot tell whether
  // renames reset times (FAT keeps two-second steps: the rename a second
  // after its time leaves it as it was): the next one still gets its time
  // back.
  FakeFolder fresh;
  fresh.renameResetsTimeTo = folder.renameResetsTimeTo;
  fresh.now = static_cast<std::int64_t>(Packed(*fresh.renameResetsTimeTo)) + 1;
  fresh.Add("2009-03-05 07-08-09.jpg", *fresh.renameResetsTimeTo);
  const int older = fresh.Add("older.jpg", At(4));
  EXPECT_EQ(Main(fresh), kAllNamed);
  EXPECT_EQ(fresh.entries.at(fresh.NameOf(older)).modified, At(4));

  // Where a time cannot be put back, no further file is renamed; where it
  // is known that renames reset times, neither is a file whose times
  // cannot be recorded first. A time not put back, or not read back to
  // know, leaves its record, the date's only copy, for a later run, and
  // the run says so.
  struct Row {
    FakeFolder::Op fails;
    const char* name;  // the one it fails on; "" any
    std::size_t renames;
    int left;
  };
  for (const Row& row : std::initializer_list<Row>{
           {FakeFolder::Op::kSetTimes, "", 1, 1},
           {FakeFolder::Op::kRecord, "2020-06-01 12-00-02.jpg", 1, 0},
           {FakeFolder::Op::kReadTimes, "2020-06-01 12-00-01.jpg", 2, 1},
       }) {
    FakeFolder failing;
    failing.renameResetsTimeTo = folder.renameResetsTimeTo;
    failing.now = folder.now;
    failing.Add("a.jpg", At(1));
    const int second = failing.Add("b.jpg", At(2));
    failing.inject = [&](FakeFolder::Op op, const std::string& name) {
      return op == row.fails && (*row.name == '\0' || name == row.name)
                 ? Failure::kOther
                 : Failure::kNone;
    };
    const int fails = static_cast<int>(row.fails);
    EXPECT_EQ(Main(failing), kSomeKept) << fails;
    EXPECT_EQ(failing.renames.size(), row.renames) << fails;
    EXPECT_EQ(failing.NameOf(second),
              row.renames == 1 ? "b.jpg" : "2020-06-01 12-00-02.jpg")
        << fails;
    EXPECT_EQ(failing.recordsLeft, row.left) << fails;
  }
}

}  // namespace
