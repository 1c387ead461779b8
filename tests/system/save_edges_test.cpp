// Saves at their edges: other writers beside an append, standard output as
// OUT, dangling links, files left by killed saves, signals after the point of
// no return, inherited permissions, and the small ones.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "midi_bytes.h"
#include "program_runner.h"

namespace {

using SaveEdges = SystemTest;
using Names = std::vector<std::string>;

const std::string kSongMap = "tmap\t120\t4\t500\n";
const std::string kSongSummary = "Read 1 sections, 500 measures, 2000 beats\n";

// Runs `command` in the test's folder through the shell, $P standing for the
// program; the exit status, or 128 + the signal that ended it. A sanitizer
// build checks no leaks there: its leak checker cannot work under strace.
int Shell(const std::string& folder, std::string command) {
  for (size_t at = command.find("$P"); at != std::string::npos; at = command.find("$P", at)) {
    command.replace(at, 2, BEATSTAMPS_PROGRAM);
  }
  const int status =
      std::system(("export ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\"; cd '" +
                   folder + "' && " + command)
                      .c_str());
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HasTool(const char* check) {
  return std::system((std::string(check) + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Attribute(const std::string& path, const char* name) {
  char value[1024];
  const ssize_t size = getxattr(path.c_str(), name, value, sizeof value);
  return size < 0 ? std::string("(none)") : std::string(value, static_cast<size_t>(size));
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Goes 24 folders of 200 letters down from `folder`, one at a time (the
// path is too long for a single step), puts the map and an old out.csv
// there, and exports over it: true when out.csv then holds the export.
bool ExportsInDeepFolder(const std::string& folder, const std::string& map) {
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(125);
    const std::string part(200, 'd');
    for (int k = 0; k < 24; ++k) {
      if ((mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) || chdir(part.c_str()) != 0) {
        _exit(126);
      }
    }
    WriteWholeFile("song.map", map);
    WriteWholeFile("out.csv", "old\n");
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, 1);
    const pid_t program = fork();
    if (program == 0) {
      execl(BEATSTAMPS_PROGRAM, BEATSTAMPS_PROGRAM, "--format=csv", "song.map", "out.csv", nullptr);
      _exit(127);
    }
    int status = 0;
    waitpid(program, &status, 0);
    if (status != 0) _exit(1);
    _exit(ReadWholeFile("out.csv").substr(0, 8) == "section," ? 0 : 2);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string SmallMidiFile() {
  using namespace midi_bytes;
  return Header(0, 1, 4) + Track(Meter(0, 4, 2) + Tempo(0, 500000) + EndOfTrack(64));
}

TEST_F(SaveEdges, AFailedAppendCutsNothingAnotherWriterAdded) {
  Write("song.map", kSongMap);
  Write("log.txt", std::string(8192, '.'));
  // A logger appends beside the runs without a lock, as fast as it can;
  // every run's write fails at the file-size limit, which the log is past.
  std::atomic<bool> stop{false};
  size_t logged = 0;
  std::thread logger([&] {
    const int handle = open(Path("log.txt").c_str(), O_WRONLY | O_APPEND);
    while (!stop) logged += write(handle, "logged line\n", 12) == 12 ? 1 : 0;
    close(handle);
  });
  LimitFileSize(4096);
  for (int k = 0; k < 20; ++k) {
    EXPECT_EQ(Run({"song.map", "log.txt"}).output,
              Banner() + kSongSummary + "Error: Cannot write to log.txt!\n");
  }
  stop = true;
  logger.join();
  EXPECT_EQ(Read("log.txt").size(), 8192 + 12 * logged) << "logged lines were cut";
}

TEST_F(SaveEdges, OutThatIsStandardOutputIsWrittenThroughIt) {
  Write("song.map", "tmap\t120\t4\t2\n");
  const std::string summary = "Read 1 sections, 2 measures, 8 beats\n";
  ASSERT_EQ(Run({"song.map", "alone.txt"}).status, 0);
  const std::string report = Read("alone.txt");
  const std::string lines =
      Banner() + summary + "Saved " + std::to_string(report.size()) + " bytes\n";
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"song.map", "/dev/stdout"},
        {"song.map", "/dev/fd/1"},
        {"--format=grid", "song.map", "-"},
        {"--format=grid", "song.map", "/dev/stdout"}}) {
    const ProgramRun run = RunCapturingErrors(arguments);
    EXPECT_EQ(run.output, report) << arguments[1];
    EXPECT_EQ(run.errors, lines) << arguments[1];
    EXPECT_EQ(run.status, 0);
  }
  // Interactive: in order with the program's own lines.
  EXPECT_EQ(Run({}, "l w /dev/stdout a /dev/fd/1 q").output,
            Banner() + CommandList() + "Enter file to write data to\n" + DefaultReport() +
                "Saved 168 bytes\nEnter file to write data to\n" + DefaultReport() +
                "Saved 168 bytes\n");
  // OUT named as the very file standard output goes to.
  EXPECT_EQ(RunInto({"song.map", "rep.txt"}, "", Path("rep.txt")), 0);
  EXPECT_EQ(Read("rep.txt"), report);
  Write("log.txt", "earlier\n");
  EXPECT_EQ(Shell(folder_, "$P --format=csv song.map log.txt >>log.txt 2>err.txt"), 0);
  ASSERT_EQ(Run({"--format=csv", "song.map", "alone.csv"}).status, 0);
  EXPECT_EQ(Read("log.txt"), "earlier\n" + Read("alone.csv"));
  EXPECT_EQ(Listing(),
            (Names{"alone.csv", "alone.txt", "err.txt", "log.txt", "rep.txt", "song.map"}));
}

TEST_F(SaveEdges, ADanglingLinkGetsAWholeFileInItsTargetsFolder) {
  Write("song.map", kSongMap);
  ASSERT_EQ(Run({"--format=csv", "song.map", "alone.csv"}).status, 0);
  ASSERT_EQ(mkdir(Path("elsewhere").c_str(), 0755), 0);
  ASSERT_EQ(symlink("elsewhere/grid.csv", Path("out.csv").c_str()), 0);
  LimitFileSize(4096);
  EXPECT_EQ(Run({"--format=csv", "song.map", "out.csv"}).output,
            Banner() + kSongSummary + "Error: Cannot write to out.csv: File too large!\n");
  EXPECT_EQ(Listing("elsewhere"), Names{});
  LimitFileSize(-1);
  EXPECT_EQ(Run({"--format=csv", "song.map", "out.csv"}).status, 0);
  EXPECT_EQ(Read("elsewhere/grid.csv"), Read("alone.csv"));
  struct stat link {};
  ASSERT_EQ(lstat(Path("out.csv").c_str(), &link), 0);
  EXPECT_TRUE(S_ISLNK(link.st_mode));

  // The folder synced is the one the new name stands in.
  if (!HasTool("strace -o /dev/null true")) GTEST_SKIP() << "no strace here";
  ASSERT_EQ(symlink("elsewhere/new.csv", Path("new.csv").c_str()), 0);
  ASSERT_EQ(symlink("elsewhere/new.txt", Path("new.txt").c_str()), 0);
  for (const char* run : {"--format=csv song.map new.csv", "song.map new.txt"}) {
    ASSERT_EQ(Shell(folder_, std::string("strace -o trace.txt -e trace=openat,fsync $P ") + run +
                                 " >/dev/null"),
              0);
    const std::string trace = Read("trace.txt");
    const size_t open = trace.find("\"./elsewhere/\", O_RDONLY");
    ASSERT_NE(open, std::string::npos) << run << "\n" << trace;
    const std::string handle = trace.substr(trace.find("= ", open) + 2, 1);
    EXPECT_NE(trace.find("fsync(" + handle + ")", open), std::string::npos) << run;
  }
}

TEST_F(SaveEdges, AHiddenFileIsLockedWhileWrittenAndALeftOneGoes) {
  Write("song.map", kSongMap);
  // Left by a killed save; held by a save still running; not one of ours.
  Write(".beatstamps-Left01", "half");
  Write(".beatstamps-Held02", "half");
  Write(".beatstamps-other", "kept");
  const int held = open(Path(".beatstamps-Held02").c_str(), O_RDONLY);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  EXPECT_EQ(Run({"--format=csv", "song.map", "out.csv"}).status, 0);
  close(held);
  EXPECT_EQ(Listing(), (Names{".beatstamps-Held02", ".beatstamps-other", "out.csv", "song.map"}));

  // Where the file system has no unnamed files (strace makes it refuse
  // one), the hidden file is locked for as long as it is written.
  if (!HasTool("strace -o /dev/null true")) GTEST_SKIP() << "no strace here";
  Write("big.map", "tmap\t120\t4\t20000\n");
  ASSERT_EQ(mkdir(Path("fat").c_str(), 0755), 0);
  ASSERT_EQ(Shell(folder_,
                  "strace -o /dev/null -P fat/ -e trace=openat "
                  "-e inject=openat:error=EOPNOTSUPP:when=2 $P --format=csv big.map "
                  "fat/grid.csv 48000 1 20000 4 >/dev/null &"),
            0);
  std::string hidden;
  const auto start = std::chrono::steady_clock::now();
  while (hidden.empty() && !Exists("fat/grid.csv") &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
    for (const std::string& name : Listing("fat")) {
      if (name.rfind(".beatstamps-", 0) == 0) hidden = name;
    }
  }
  ASSERT_FALSE(hidden.empty()) << "no hidden file seen";
  const int looked = open(Path("fat/" + hidden).c_str(), O_RDONLY);
  EXPECT_NE(flock(looked, LOCK_EX | LOCK_NB), 0) << "a save's hidden file is not locked";
  close(looked);
  while (!Exists("fat/grid.csv") &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(Listing("fat"), Names{"grid.csv"});
}

TEST_F(SaveEdges, TheBatchRunNeverAddsToItsMapOrAMidiFile) {
  Write("song.map", kSongMap);
  Write("song.mid", SmallMidiFile());
  ASSERT_EQ(symlink("song.map", Path("link.map").c_str()), 0);
  const std::string midiSummary = "Read 1 sections, 4 measures, 16 beats\n";
  ExpectRefused(Run({"song.map", "song.map"}), kSongSummary);
  ExpectRefused(Run({"song.map", "link.map"}), kSongSummary);
  ExpectRefused(Run({"song.map", "song.mid"}), kSongSummary);
  ExpectRefused(Run({"--format=grid", "song.mid", "song.mid"}), midiSummary);
  ExpectRefused(Run({"--format=grid", "song.map", "./song.map"}), kSongSummary);
  EXPECT_EQ(Read("song.map"), kSongMap);
  EXPECT_EQ(Read("song.mid"), SmallMidiFile());
  EXPECT_EQ(Listing(), (Names{"link.map", "song.map", "song.mid"}));
}

TEST_F(SaveEdges, ASignalOnceTheSaveIsDoneWaitsForItsSavedLine) {
  if (!HasTool("strace -o /dev/null true")) GTEST_SKIP() << "no strace here";
  Write("song.map", kSongMap);
  ASSERT_EQ(Run({"--format=csv", "song.map", "alone.csv"}).status, 0);
  const std::string saved = "Saved " + std::to_string(Read("alone.csv").size()) + " bytes\n";
  // SIGTERM arrives as the new file takes its name: by a rename over an old
  // file, by a link where there was none.
  const std::string strace =
      "exec strace -o /dev/null -e inject=rename,renameat,renameat2,linkat:signal=TERM ";
  for (const bool oldFile : {true, false}) {
    if (oldFile) Write("out.csv", "old\n");
    EXPECT_EQ(Shell(folder_, strace + "$P --format=csv song.map out.csv >said.txt"), 128 + SIGTERM);
    EXPECT_EQ(Read("said.txt"), Banner() + kSongSummary + saved);
    EXPECT_EQ(Read("out.csv"), Read("alone.csv"));
    ASSERT_EQ(unlink(Path("out.csv").c_str()), 0);
  }
  Write("grid.txt", "old\n");
  EXPECT_EQ(Shell(folder_, "echo 'l w grid.txt q' | " + strace + "$P >said.txt"), 128 + SIGTERM);
  EXPECT_EQ(Read("said.txt"),
            Banner() + CommandList() + "Enter file to write data to\nSaved 168 bytes\n");
  EXPECT_EQ(Read("grid.txt"), DefaultReport());
}

// The users of the permission test: a saver, and another user.
constexpr uid_t kSaver = 65534;
constexpr gid_t kSaverGroup = 65534;

TEST_F(SaveEdges, AReplacementHasExactlyTheOldFilesPermissions) {
  if (geteuid() != 0 || !HasTool("command -v setfacl") || !HasTool("command -v setcap")) {
    GTEST_SKIP() << "needs root, setfacl and setcap";
  }
  ASSERT_EQ(chmod(folder_.c_str(), 0777), 0);
  Write("song.map", kSongMap);
  // A folder whose default access control list gives another user rw-; the
  // file in it has none, and mode 640.
  ASSERT_EQ(mkdir(Path("shared").c_str(), 0755), 0);
  ASSERT_EQ(Shell(folder_,
                  "setfacl -d -m u:4243:rw shared && echo old >shared/grid.csv && "
                  "setfacl -b shared/grid.csv && chmod 640 shared/grid.csv"),
            0);
  ASSERT_EQ(Attribute(Path("shared/grid.csv"), "system.posix_acl_access"), "(none)");
  // Set-ID bits and a capability; a file flag (no dump).
  Write("tool.csv", "old\n");
  ASSERT_EQ(chmod(Path("tool.csv").c_str(), 06755), 0);
  ASSERT_EQ(Shell(folder_, "setcap cap_net_bind_service=ep tool.csv"), 0);
  const std::string capability = Attribute(Path("tool.csv"), "security.capability");
  Write("flagged.csv", "old\n");
  const bool flags = Shell(folder_, "chattr +d flagged.csv 2>/dev/null") == 0;
  for (const char* out : {"shared/grid.csv", "tool.csv", "flagged.csv"}) {
    EXPECT_EQ(Run({"--format=csv", "song.map", out}).status, 0) << out;
  }
  EXPECT_EQ(Attribute(Path("shared/grid.csv"), "system.posix_acl_access"), "(none)");
  EXPECT_EQ(ModeOf(Path("shared/grid.csv")), 0640u);
  EXPECT_EQ(ModeOf(Path("tool.csv")), 06755u);
  EXPECT_EQ(Attribute(Path("tool.csv"), "security.capability"), capability);
  if (flags) {
    const int handle = open(Path("flagged.csv").c_str(), O_RDONLY);
    int kept = 0;
    EXPECT_EQ(ioctl(handle, FS_IOC_GETFLAGS, &kept), 0);
    close(handle);
    EXPECT_NE(kept & FS_NODUMP_FL, 0);
  }
  // A saver without the power to keep set-ID bits through a write, on its
  // own file.
  Write("mine.csv", "old\n");
  ASSERT_EQ(chown(Path("mine.csv").c_str(), kSaver, kSaverGroup), 0);
  ASSERT_EQ(chmod(Path("mine.csv").c_str(), 06750), 0);
  SetRunUser({kSaver, kSaverGroup, {kSaverGroup}});
  if (Run({"--version"}).status != 0) GTEST_SKIP() << "cannot run the program as another user";
  EXPECT_EQ(Run({"--format=csv", "song.map", "mine.csv"}).status, 0);
  ClearRunUser();
  EXPECT_EQ(ModeOf(Path("mine.csv")), 06750u);
  EXPECT_EQ(Read("mine.csv"), Read("tool.csv"));
}

TEST_F(SaveEdges, OffsetsBackLongFoldersAndOddOptionValues) {
  Write("song.map", kSongMap);
  Write("song.mid", SmallMidiFile());
  // The 2^31 - 1 divisions of each beat before the offset's second are passed
  // over, not walked.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(
      RunCapturingErrors({"--offset=-1", "song.map", "o.txt", "48000", "1", "8", "2147483647"})
          .status,
      0);
  EXPECT_EQ(
      RunCapturingErrors({"--offset=-60", "song.mid", "o.txt", "48000", "1", "8", "2147483647"})
          .status,
      0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  // The first point kept lands at 0: a division just after beat 3.
  EXPECT_EQ(Split(Read("o.txt"), '\n')[5], "\t\t0.000 sec\t0 smp");

  // A working folder deeper than PATH_MAX, an export over a file there.
  EXPECT_TRUE(ExportsInDeepFolder(folder_, kSongMap));

  const std::string offset =
      "Error: --offset takes seconds (1.25, -0.5; at most 2147483647 either way) or whole "
      "samples (60000smp)!\n";
  for (const char* value : {"--offset= 1", "--offset=1 ", "--offset= 5smp", "--offset=\t1"}) {
    EXPECT_EQ(Run({value, "--format=csv", "song.map", "x.csv"}).output, offset) << value;
  }
  EXPECT_EQ(Run({"--audio=caf\xe9.ogg", "--format=osu", "song.map", "x.osu"}).output,
            "Error: --audio takes a UTF-8 file name of 1 to 127 characters, without control "
            "characters, : ; # or \\, and not beginning or ending with a blank!\n");
  EXPECT_EQ(Run({"--audio=caf\xc3\xa9.ogg", "--format=osu", "song.map", "x.osu"}).status, 0);
  EXPECT_FALSE(Exists("x.csv"));
}

}  // namespace
