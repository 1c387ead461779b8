// A save that cannot be finished leaves the file it was saving to as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "program_runner.h"

namespace {

using SafeSave = SystemTest;
using Names = std::vector<std::string>;

// More than the old grid file and less than the reports below: every save
// runs out of room part way, as on a full disk.
constexpr long kRoom = 2048;

std::string OldGrid() {
  std::string grid;
  for (int line = 0; line < 50; ++line) grid += "\tB 1\t0.000 sec\t0 smp\n";
  return grid;
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info.st_mode;
}

TEST_F(SafeSave, AFullDiskLeavesTheGridFileAsItWas) {
  Write("grid.txt", OldGrid());
  LimitFileSize(kRoom);
  // 20 measures wait in the stream's buffer and fail at the flush; 200 fail
  // while they are written.
  for (const char* input : {"l o 20 w grid.txt q", "l o 20 a grid.txt q", "l o 200 w grid.txt q",
                            "l o 200 a grid.txt q"}) {
    const ProgramRun run = Run({}, input);
    EXPECT_EQ(run.output, Banner() + CommandList() + "Enter stop measure\n" +
                              "Enter file to write data to\n" +
                              "Error: Cannot write to grid.txt!\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Read("grid.txt"), OldGrid()) << input;
    EXPECT_EQ(Listing(), Names{"grid.txt"}) << "no temporary file left";
  }
}

TEST_F(SafeSave, AFullDiskFailsTheBatchRunAndLeavesTheGridFileAsItWas) {
  Write("song.map", "tmap\t120\t4\t20\n");
  Write("grid.txt", OldGrid());
  LimitFileSize(kRoom);
  for (const std::string name : {"grid.txt", "new.txt"}) {
    const ProgramRun run = Run({"song.map", name});
    EXPECT_EQ(run.output, Banner() + "Read 1 sections, 20 measures, 80 beats\n" +
                              "Error: Cannot write to " + name + "!\n");
    EXPECT_EQ(run.status, 1);
  }
  EXPECT_EQ(Read("grid.txt"), OldGrid());
  EXPECT_EQ(Listing(), (Names{"grid.txt", "song.map"})) << "the new file is gone again";
}

TEST_F(SafeSave, AReplacedFileKeepsItsLinksAndPermissions) {
  Write("grid.txt", OldGrid());
  ASSERT_EQ(chmod(Path("grid.txt").c_str(), 0640), 0);
  ASSERT_EQ(symlink("grid.txt", Path("link.txt").c_str()), 0);
  ASSERT_EQ(symlink("made.txt", Path("dangling.txt").c_str()), 0);
  EXPECT_EQ(Run({}, "l w link.txt w dangling.txt w new.txt q").status, 0);
  EXPECT_EQ(Read("grid.txt"), DefaultReport());
  EXPECT_TRUE(S_ISLNK(ModeOf(Path("link.txt"))));
  EXPECT_EQ(ModeOf(Path("grid.txt")) & 07777, 0640u);
  // A dangling link is written through: the file it names is made.
  EXPECT_EQ(Read("made.txt"), DefaultReport());
  EXPECT_TRUE(S_ISLNK(ModeOf(Path("dangling.txt"))));
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(ModeOf(Path("new.txt")) & 07777, 0666 & ~mask) << "as fopen makes it";
  // A file with a second name is written in place: both names see the report.
  ASSERT_EQ(link(Path("grid.txt").c_str(), Path("second.txt").c_str()), 0);
  EXPECT_EQ(Run({}, "l t 60 w second.txt q").status, 0);
  EXPECT_EQ(Read("grid.txt"), Read("second.txt"));
  EXPECT_NE(Read("grid.txt"), DefaultReport());
}

TEST_F(SafeSave, DevicesAndMissingFoldersBehaveAsBefore) {
  EXPECT_EQ(Run({}, "l w missing/grid.txt a /dev/full w /dev/null q").output,
            Banner() + CommandList() + "Enter file to write data to\n" +
                "Error: Cannot write to missing/grid.txt!\n" + "Enter file to write data to\n" +
                "Error: Cannot write to /dev/full!\n" + "Enter file to write data to\n" +
                "Saved 168 bytes\n");
  EXPECT_EQ(Listing(), Names{});
}

}  // namespace
