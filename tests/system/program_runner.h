// Runs the real program in a scratch folder and captures what it shows.
#ifndef BEATSTAMPS_TESTS_PROGRAM_RUNNER_H_
#define BEATSTAMPS_TESTS_PROGRAM_RUNNER_H_

#include <gtest/gtest.h>

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

// Each test gets a folder of its own to run the program in.
class SystemTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

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
  // The names in the folder, hidden ones too, sorted.
  std::vector<std::string> Listing() const;
  // Later runs may write files only up to `bytes` each, as on a nearly full
  // disk; a negative value lifts the limit.
  void LimitFileSize(long bytes) { fileSizeLimit_ = bytes; }

  std::string folder_;
  long fileSizeLimit_ = -1;
};

#endif  // BEATSTAMPS_TESTS_PROGRAM_RUNNER_H_
