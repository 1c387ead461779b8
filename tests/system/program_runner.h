// Runs the real program in a scratch folder and captures what it shows.
#ifndef BEATSTAMPS_TESTS_PROGRAM_RUNNER_H_
#define BEATSTAMPS_TESTS_PROGRAM_RUNNER_H_

#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <vector>

struct ProgramRun {
  std::string output;  // standard output
  std::string errors;  // standard error: only exports to standard output write there
  int status;          // exit status, or 128 + signal number
};

// A refused run: status 1, and after the banner and `before` one "Error: "
// line, which does not come from a failed write.
void ExpectRefused(const ProgramRun& run, const std::string& before);

std::string ReadWholeFile(const std::string& path);
std::vector<std::string> Split(const std::string& text, char separator);
// As printf's "%.*f" writes it.
std::string Fixed(double value, int decimals);
void WriteWholeFile(const std::string& path, const std::string& text);

// The banner and the command list with the given settings.
struct ListedSettings {
  int rate = 44100;
  const char* tempo = "120.000";
  int beats = 4;
  int start = 1;
  int stop = 1;
  int divisions = 1;
  const char* file = "";
};
std::string Banner();
std::string CommandList(const ListedSettings& settings = {});
std::string HelpText();
// The report of a fresh start: one measure of four beats at 120 beats per minute.
std::string DefaultReport();

// A run started in the background; Finish waits for it.
struct StartedRun {
  pid_t pid;
  std::string inputPath;
  std::string outputPath;
  std::string errorPath;
};

// The user a run is switched to before the program starts.
struct RunUser {
  uid_t user;
  gid_t group;
  std::vector<gid_t> groups;  // supplementary
};

// Each test gets a folder of its own to run the program in.
class SystemTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs `options` --format=FORMAT MAP out.FORMAT `settings`, expects it to
  // succeed, and gives the file it wrote.
  std::string ExportedWith(const std::vector<std::string>& options, const std::string& format,
                           const std::string& map, const std::vector<std::string>& settings);
  // Expects nothing on standard error.
  ProgramRun Run(const std::vector<std::string>& arguments, const std::string& input = "");
  // Standard error may hold anything: its messages when the data goes to
  // standard output.
  ProgramRun RunCapturingErrors(const std::vector<std::string>& arguments,
                                const std::string& input = "");
  // Runs with standard output going to `outputPath` instead of a capture.
  int RunInto(const std::vector<std::string>& arguments, const std::string& input,
              const std::string& outputPath);
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  void Write(const std::string& name, const std::string& text) { WriteWholeFile(Path(name), text); }
  std::string Read(const std::string& name) const { return ReadWholeFile(Path(name)); }
  bool Exists(const std::string& name) const;
  // The names in the folder (or in its folder `under`), hidden ones too, sorted.
  std::vector<std::string> Listing(const std::string& under = "") const;
  // Later runs may write files only up to `bytes` each, as on a nearly full
  // disk; a negative value lifts the limit. The limit's signal is ignored
  // unless `signalAtDefault`: then it ends a program that does not ignore it.
  void LimitFileSize(long bytes, bool signalAtDefault = false) {
    fileSizeLimit_ = bytes;
    fileSizeSignalAtDefault_ = signalAtDefault;
  }
  // Later runs start as `user`; they run as root again after ClearRunUser.
  void SetRunUser(const RunUser& user) { runUser_ = user; }
  void ClearRunUser() { runUser_.user = 0; }
  // Starts the program without waiting for it; each run started gets `tag`
  // in the names of its captures, which lie outside the folder.
  StartedRun Start(const std::vector<std::string>& arguments, const std::string& input,
                   const std::string& tag);
  // Waits for a started run; standard error may hold anything.
  ProgramRun Finish(const StartedRun& run);

  std::string folder_;
  long fileSizeLimit_ = -1;
  bool fileSizeSignalAtDefault_ = false;
  RunUser runUser_{0, 0, {}};
};

#endif  // BEATSTAMPS_TESTS_PROGRAM_RUNNER_H_
