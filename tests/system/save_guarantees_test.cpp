// Saves that meet each other, signals, file-size limits and other users'
// files: nothing saved is lost, and nothing half-saved is left.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "program_runner.h"

namespace {

using SaveGuarantees = SystemTest;
using Names = std::vector<std::string>;

// 500 measures: a report of about 62,000 bytes, near the largest one.
const std::string kSongMap = "tmap\t120\t4\t500\n";
const std::string kSongSummary = "Read 1 sections, 500 measures, 2000 beats\n";

std::string OldGrid() {
  std::string grid;
  for (int line = 0; line < 50; ++line) grid += "\tB 1\t0.000 sec\t0 smp\n";
  return grid;
}

// Success when `text` is `reports`, each exactly once and whole, in any order.
::testing::AssertionResult HoldsEachOnce(const std::string& text,
                                         std::vector<std::string> reports) {
  size_t at = 0;
  while (at < text.size()) {
    size_t match = 0;
    while (match < reports.size() && text.compare(at, reports[match].size(), reports[match]) != 0) {
      ++match;
    }
    if (match == reports.size()) {
      return ::testing::AssertionFailure() << "bytes of no saved report at offset " << at;
    }
    at += reports[match].size();
    reports.erase(reports.begin() + static_cast<long>(match));
  }
  if (!reports.empty()) {
    return ::testing::AssertionFailure() << reports.size() << " saved reports are missing";
  }
  return ::testing::AssertionSuccess();
}

std::string Attribute(const std::string& path, const char* name) {
  char value[1024];
  const ssize_t size = getxattr(path.c_str(), name, value, sizeof value);
  return size < 0 ? std::string("(none)") : std::string(value, static_cast<size_t>(size));
}

void Pause(std::chrono::microseconds time) {
  std::this_thread::sleep_for(time);
}

TEST_F(SaveGuarantees, ConcurrentAppendsKeepEverySavedReportWholeAndOnce) {
  constexpr int kRuns = 24;
  Write("song.map", kSongMap);
  std::string before;  // the file before each round: nothing may take from it
  for (int round = 0; round < 3; ++round) {
    // Each run's report is told apart by its sample rate.
    std::vector<std::string> reports;
    for (int k = 0; k < kRuns; ++k) {
      ASSERT_EQ(Run({"song.map", "alone.txt", std::to_string(44100 + 100 * round + k)}).status, 0);
      reports.push_back(Read("alone.txt"));
      ASSERT_EQ(unlink(Path("alone.txt").c_str()), 0);
    }
    // A third cannot write a byte and a third run out of room once the file
    // holds three more reports; their file-size signal stays at its default.
    std::vector<StartedRun> started;
    for (int k = 0; k < kRuns; ++k) {
      const long room = static_cast<long>(before.size() + 3 * reports[k].size());
      LimitFileSize(k % 3 == 0 ? -1 : k % 3 == 1 ? 1000 : room, true);
      started.push_back(Start({"song.map", "grid.txt", std::to_string(44100 + 100 * round + k)}, "",
                              std::to_string(k)));
    }
    std::vector<std::string> saved;
    for (int k = 0; k < kRuns; ++k) {
      const ProgramRun run = Finish(started[k]);
      const std::string head = Banner() + kSongSummary;
      if (run.status == 0) {
        EXPECT_EQ(run.output, head + "Saved " + std::to_string(reports[k].size()) + " bytes\n");
        saved.push_back(reports[k]);
      } else {
        EXPECT_EQ(run.output, head + "Error: Cannot write to grid.txt!\n") << "run " << k;
        EXPECT_EQ(run.status, 1) << "run " << k;
        EXPECT_NE(k % 3, 0) << "a run without a limit failed";
      }
    }
    const std::string grid = Read("grid.txt");
    ASSERT_EQ(grid.compare(0, before.size(), before), 0) << "round " << round;
    EXPECT_TRUE(HoldsEachOnce(grid.substr(before.size()), saved)) << "round " << round;
    EXPECT_EQ(Listing(), (Names{"grid.txt", "song.map"}));
    before = grid;
  }
}

TEST_F(SaveGuarantees, AFileSizeLimitFailsTheSaveInsteadOfEndingTheProgram) {
  Write("song.map", kSongMap);
  Write("grid.txt", OldGrid());
  LimitFileSize(2048, true);
  ProgramRun run = Run({}, "l o 200 w grid.txt a grid.txt q");
  EXPECT_EQ(run.output, Banner() + CommandList() + "Enter stop measure\n" +
                            "Enter file to write data to\n" + "Error: Cannot write to grid.txt!\n" +
                            "Enter file to write data to\n" + "Error: Cannot write to grid.txt!\n");
  EXPECT_EQ(run.status, 0);
  run = Run({"--format=csv", "song.map", "grid.txt"});
  EXPECT_EQ(run.output,
            Banner() + kSongSummary + "Error: Cannot write to grid.txt: File too large!\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Read("grid.txt"), OldGrid());
  EXPECT_EQ(Listing(), (Names{"grid.txt", "song.map"}));
}

// A save cut short by a signal at any moment.
struct Interrupted {
  std::vector<std::string> arguments;
  std::string input;
  std::string file;
  std::string after{};  // the file once the save is whole
  std::chrono::microseconds took{};
};

TEST_F(SaveGuarantees, AnInterruptedSaveLeavesTheOldFileOrTheWholeNewOne) {
  // An export of several megabytes gives a signal time to land mid-save.
  Write("big.map", "tmap\t120\t4\t10000\n");
  const std::string old = OldGrid();
  std::vector<Interrupted> saves = {
      {{"--format=csv", "big.map", "out.csv", "48000", "1", "10000", "8"}, "", "out.csv"},
      {{"big.map", "grid.txt"}, "", "grid.txt"},
      {{"big.map"}, "w grid.txt q", "grid.txt"},
  };
  for (Interrupted& save : saves) {
    Write(save.file, old);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunCapturingErrors(save.arguments, save.input).status, 0);
    save.took = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    save.after = Read(save.file);
    ASSERT_NE(save.after, old);
    ASSERT_EQ(unlink(Path(save.file).c_str()), 0);
  }
  constexpr int kTries = 48;
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGKILL};
  int undone = 0;
  for (int k = 0; k < kTries; ++k) {
    const Interrupted& save = saves[k % saves.size()];
    // A killed append may be torn; only a replacement is sure to leave nothing.
    const int signal = signals[k % (save.file == "out.csv" ? 4 : 3)];
    Write(save.file, old);
    const StartedRun started = Start(save.arguments, save.input, "run");
    Pause(save.took * (k % 16) / 12);
    kill(started.pid, signal);
    const ProgramRun run = Finish(started);
    EXPECT_TRUE(run.status == 0 || run.status == 128 + signal) << run.status;
    const std::string now = Read(save.file);
    EXPECT_TRUE(now == old || now == save.after) << "try " << k << ": " << now.size() << " bytes";
    EXPECT_EQ(Listing(), (Names{"big.map", save.file})) << "try " << k;
    if (run.status != 0 && now == old) ++undone;
    ASSERT_EQ(unlink(Path(save.file).c_str()), 0);
  }
  RecordProperty("undone", undone);
}

// The user the ownership test saves as, and another user owning the files.
constexpr uid_t kSaver = 65534;
constexpr gid_t kSaverGroup = 65534;
constexpr uid_t kOwner = 4243;
constexpr gid_t kSharedGroup = 4242;

// An access control list in the kernel's attribute form: version 2, then
// little-endian (tag, permissions, id) entries sorted by tag: the owner rw-,
// user 4243 (kOwner) r--, the group r--, the mask r--, others ---.
constexpr char kAccessList[] =
    "\x02\0\0\0"
    "\x01\0\x06\0\xff\xff\xff\xff"
    "\x02\0\x04\0\x93\x10\0\0"
    "\x04\0\x04\0\xff\xff\xff\xff"
    "\x10\0\x04\0\xff\xff\xff\xff"
    "\x20\0\0\0\xff\xff\xff\xff";

void MakeFile(const std::string& path, const std::string& text, uid_t user, gid_t group,
              mode_t mode) {
  WriteWholeFile(path, text);
  ASSERT_EQ(chown(path.c_str(), user, group), 0);
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

void ExpectOwnerGroupMode(const std::string& path, uid_t user, gid_t group, mode_t mode) {
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0) << path;
  EXPECT_EQ(info.st_uid, user) << path;
  EXPECT_EQ(info.st_gid, group) << path;
  EXPECT_EQ(info.st_mode & 07777, mode) << path;
}

TEST_F(SaveGuarantees, AnotherUsersFileKeepsItsOwnerGroupModeAndAttributes) {
  if (geteuid() != 0) GTEST_SKIP() << "switching to another user needs root";
  ASSERT_EQ(chmod(folder_.c_str(), 0777), 0);
  Write("song.map", kSongMap);
  SetRunUser({kSaver, kSaverGroup, {kSaverGroup, kSharedGroup}});
  if (Run({"--version"}).status != 0) GTEST_SKIP() << "cannot run the program as another user";
  const std::string saved168 = Banner() + CommandList() + "Enter file to write data to\n";

  // Another user's group-writable file: the saver may write it but not own it.
  MakeFile(Path("theirs.txt"), OldGrid(), kOwner, kSharedGroup, 0664);
  EXPECT_EQ(Run({}, "l w theirs.txt q").output, saved168 + "Saved 168 bytes\n");
  EXPECT_EQ(Read("theirs.txt"), DefaultReport());
  ExpectOwnerGroupMode(Path("theirs.txt"), kOwner, kSharedGroup, 0664);

  // The saver's own file with an attribute and an access control list.
  MakeFile(Path("mine.txt"), OldGrid(), kSaver, kSharedGroup, 0640);
  ASSERT_EQ(setxattr(Path("mine.txt").c_str(), "user.origin", "take 3", 6, 0), 0);
  ASSERT_EQ(setxattr(Path("mine.txt").c_str(), "system.posix_acl_access", kAccessList,
                     sizeof kAccessList - 1, 0),
            0);
  const std::string listSet = Attribute(Path("mine.txt"), "system.posix_acl_access");
  EXPECT_EQ(Run({}, "l w mine.txt q").output, saved168 + "Saved 168 bytes\n");
  EXPECT_EQ(Read("mine.txt"), DefaultReport());
  ExpectOwnerGroupMode(Path("mine.txt"), kSaver, kSharedGroup, 0640);
  EXPECT_EQ(Attribute(Path("mine.txt"), "user.origin"), "take 3");
  EXPECT_EQ(Attribute(Path("mine.txt"), "system.posix_acl_access"), listSet);

  // Another user's file in a sticky folder, and a folder that takes no new
  // files: on a full disk both stay as they were, then both are saved.
  ASSERT_EQ(mkdir(Path("sticky").c_str(), 01777), 0);
  ASSERT_EQ(chmod(Path("sticky").c_str(), 01777), 0);
  ASSERT_EQ(mkdir(Path("closed").c_str(), 0755), 0);
  MakeFile(Path("sticky/theirs.txt"), OldGrid(), kOwner, kSharedGroup, 0664);
  MakeFile(Path("closed/mine.csv"), OldGrid(), kSaver, kSaverGroup, 0644);
  LimitFileSize(2048, true);
  ProgramRun run = Run({}, "l o 200 w sticky/theirs.txt w closed/mine.csv q");
  EXPECT_EQ(run.output,
            Banner() + CommandList() + "Enter stop measure\n" + "Enter file to write data to\n" +
                "Error: Cannot write to sticky/theirs.txt!\n" + "Enter file to write data to\n" +
                "Error: Cannot write to closed/mine.csv!\n");
  run = Run({"--format=csv", "song.map", "closed/mine.csv"});
  EXPECT_EQ(run.output,
            Banner() + kSongSummary + "Error: Cannot write to closed/mine.csv: File too large!\n");
  EXPECT_EQ(Read("sticky/theirs.txt"), OldGrid());
  EXPECT_EQ(Read("closed/mine.csv"), OldGrid());
  LimitFileSize(-1);
  EXPECT_EQ(Run({"--format=csv", "song.map", "sticky/theirs.txt"}).status, 0);
  EXPECT_EQ(Run({"--format=csv", "song.map", "closed/mine.csv"}).status, 0);
  ClearRunUser();
  ASSERT_EQ(Run({"--format=csv", "song.map", "alone.csv"}).status, 0);
  EXPECT_EQ(Read("sticky/theirs.txt"), Read("alone.csv"));
  EXPECT_EQ(Read("closed/mine.csv"), Read("alone.csv"));
  ExpectOwnerGroupMode(Path("sticky/theirs.txt"), kOwner, kSharedGroup, 0664);
  ExpectOwnerGroupMode(Path("closed/mine.csv"), kSaver, kSaverGroup, 0644);
  EXPECT_EQ(Listing(),
            (Names{"alone.csv", "closed", "mine.txt", "song.map", "sticky", "theirs.txt"}));
  EXPECT_EQ(Listing("sticky"), Names{"theirs.txt"});
  EXPECT_EQ(Listing("closed"), Names{"mine.csv"});
}

// A disk image mounted at `point` until the end of the scope.
struct MountedImage {
  std::string image;
  std::string point;
  bool mounted = false;

  bool Mount() {
    mounted = std::system(("mount -o loop " + image + " " + point + " 2>/dev/null").c_str()) == 0;
    return mounted;
  }
  void Unmount() {
    if (mounted) {
      EXPECT_EQ(umount(point.c_str()), 0);
    }
    mounted = false;
  }
  ~MountedImage() {
    Unmount();
    std::remove(image.c_str());
  }
};

// Stops the file system at once, as a power cut does: what the journal has
// not committed is lost (ext4's shutdown request, without a log flush).
bool CutThePower(const std::string& point) {
  constexpr unsigned long kShutdown = _IOR('X', 125, uint32_t);
  constexpr uint32_t kWithoutLogFlush = 2;
  const int handle = open(point.c_str(), O_RDONLY);
  uint32_t how = kWithoutLogFlush;
  const bool cut = handle >= 0 && ioctl(handle, kShutdown, &how) == 0;
  if (handle >= 0) close(handle);
  return cut;
}

TEST_F(SaveGuarantees, ASavedFileOutlivesAPowerCut) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a disk image needs root";
  MountedImage disk{folder_ + ".img", Path("disk")};
  WriteWholeFile(disk.image, "");
  ASSERT_EQ(truncate(disk.image.c_str(), 64L << 20), 0);
  ASSERT_EQ(mkdir(disk.point.c_str(), 0755), 0);
  if (std::system(("mkfs.ext4 -q -F " + disk.image + " >/dev/null 2>&1").c_str()) != 0) {
    GTEST_SKIP() << "no mkfs.ext4";
  }
  if (!disk.Mount()) GTEST_SKIP() << "cannot mount a disk image here";
  Write("song.map", kSongMap);
  ASSERT_EQ(Run({"--format=csv", "song.map", "alone.csv"}).status, 0);
  ASSERT_EQ(Run({"song.map", "alone.txt"}).status, 0);
  struct Save {
    std::vector<std::string> arguments;
    std::string input;
    std::string after;
    bool oldFile;
  };
  const Save saves[] = {
      {{"song.map"}, "w disk/grid.txt q", Read("alone.txt"), true},
      {{"--format=csv", "song.map", "disk/grid.txt"}, "", Read("alone.csv"), true},
      {{"song.map", "disk/grid.txt"}, "", Read("alone.txt"), false}};
  for (const Save& save : saves) {
    if (save.oldFile) Write("disk/grid.txt", OldGrid());
    sync();
    const ProgramRun run = Run(save.arguments, save.input);
    ASSERT_NE(run.output.find("Saved " + std::to_string(save.after.size()) + " bytes\n"),
              std::string::npos);
    if (!CutThePower(disk.point)) GTEST_SKIP() << "the file system cannot be shut down here";
    disk.Unmount();
    ASSERT_TRUE(disk.Mount());
    const std::string now = Read("disk/grid.txt");
    EXPECT_TRUE(now == save.after) << now.size() << " bytes, not the " << save.after.size()
                                   << " saved: " << save.arguments.back() << save.input;
    EXPECT_EQ(Listing("disk"), (Names{"grid.txt", "lost+found"}));
    ASSERT_EQ(unlink(Path("disk/grid.txt").c_str()), 0);
  }
}

TEST_F(SaveGuarantees, AnExportNeverReplacesItsOwnMap) {
  Write("song.map", kSongMap);
  ASSERT_EQ(RunCapturingErrors({"--format=csv", "song.map", "grid.csv", "48000"}).status, 0);
  const std::string grid = Read("grid.csv");
  // The two names swapped: the CSV file is a beat list, and its export never
  // replaces a tempo map.
  ExpectRefused(Run({"--format=csv", "grid.csv", "song.map", "48000"}),
                "Fitted 2000 beats into 1 sections: largest error 0.0 ms (line 2), 0 beats left "
                "out, 0 missing\n" +
                    kSongSummary);
  // The map itself, under its own name, a link and a second name.
  ASSERT_EQ(symlink("song.map", Path("link.map").c_str()), 0);
  ASSERT_EQ(link(Path("song.map").c_str(), Path("second.map").c_str()), 0);
  for (const char* out : {"song.map", "link.map", "second.map", "./song.map"}) {
    ExpectRefused(RunCapturingErrors({"--format=labels", "song.map", out}), kSongSummary);
  }
  EXPECT_EQ(Read("song.map"), kSongMap);
  EXPECT_EQ(Read("grid.csv"), grid);
  EXPECT_EQ(Listing(), (Names{"grid.csv", "link.map", "second.map", "song.map"}));
  // The batch run without options appends to its second file as it always did:
  // the grid of the beats the CSV file lists is the map's own.
  ASSERT_EQ(Run({"song.map", "report.txt"}).status, 0);
  // It warns of the swap on standard error.
  const ProgramRun run = RunCapturingErrors({"grid.csv", "song.map"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.errors.find("are MAP and OUT swapped?"), std::string::npos) << run.errors;
  EXPECT_EQ(Read("song.map"), kSongMap + Read("report.txt"));
}

}  // namespace
