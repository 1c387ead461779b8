#include "program_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

// A hung program is killed after this long.
constexpr unsigned kTimeLimitSeconds = 20;

int StatusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return -1;
}

// What a child process is set up with before the program starts in it.
struct ChildSetup {
  long fileSizeLimit;
  bool fileSizeSignalAtDefault;
  const RunUser* user;
};

// Past the limit a write fails with EFBIG, as on a full disk, instead of
// killing the program (unless the signal stays at its default).
void ApplyFileSizeLimit(const ChildSetup& setup) {
  if (setup.fileSizeLimit < 0) return;
  const rlimit limit{static_cast<rlim_t>(setup.fileSizeLimit),
                     static_cast<rlim_t>(setup.fileSizeLimit)};
  setrlimit(RLIMIT_FSIZE, &limit);
  static_cast<void>(signal(SIGXFSZ, setup.fileSizeSignalAtDefault ? SIG_DFL : SIG_IGN));
}

bool SwitchUser(const RunUser& user) {
  if (user.user == 0) return true;
  return setgroups(user.groups.size(), user.groups.data()) == 0 && setgid(user.group) == 0 &&
         setuid(user.user) == 0;
}

pid_t StartChild(const std::vector<std::string>& arguments, const std::string& folder,
                 const std::string& inputPath, const std::string& outputPath,
                 const std::string& errorPath, const ChildSetup& setup) {
  std::vector<char*> argv;
  std::string program = BEATSTAMPS_PROGRAM;
  argv.push_back(program.data());
  std::vector<std::string> copies(arguments);
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int in = open(inputPath.c_str(), O_RDONLY);
    const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || chdir(folder.c_str()) != 0) _exit(126);
    if (!SwitchUser(*setup.user)) _exit(125);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    alarm(kTimeLimitSeconds);
    ApplyFileSizeLimit(setup);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return child;
}

int WaitFor(pid_t child) {
  int waitStatus = 0;
  waitpid(child, &waitStatus, 0);
  return StatusOf(waitStatus);
}

int Spawn(const std::vector<std::string>& arguments, const std::string& folder,
          const std::string& inputPath, const std::string& outputPath, const std::string& errorPath,
          const ChildSetup& setup) {
  return WaitFor(StartChild(arguments, folder, inputPath, outputPath, errorPath, setup));
}

}  // namespace

void ExpectRefused(const ProgramRun& run, const std::string& before) {
  const std::string head = Banner() + before + "Error: ";
  EXPECT_EQ(run.output.compare(0, head.size(), head), 0) << run.output;
  EXPECT_EQ(run.output.find('\n', head.size()), run.output.size() - 1) << run.output;
  EXPECT_EQ(run.output.find("Cannot write"), std::string::npos) << "refused, not failed";
  EXPECT_EQ(run.status, 1);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> fields;
  std::istringstream stream(text);
  for (std::string field; std::getline(stream, field, separator);) fields.push_back(field);
  return fields;
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string SystemTest::ExportedWith(const std::vector<std::string>& options,
                                     const std::string& format, const std::string& map,
                                     const std::vector<std::string>& settings) {
  std::vector<std::string> arguments = options;
  arguments.insert(arguments.end(), {"--format=" + format, map, "out." + format});
  arguments.insert(arguments.end(), settings.begin(), settings.end());
  EXPECT_EQ(Run(arguments).status, 0) << format;
  return Read("out." + format);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteWholeFile(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
}

std::string Banner() {
  return "Beatstamps 1.0 by Qorvel\n";
}

std::string CommandList(const ListedSettings& s) {
  char text[2048];
  std::snprintf(text, sizeof text,
                "\nInput Settings:\n"
                "'r' to change sample rate (%d)\n"
                "'t' to change tempo (%s)\n"
                "'b' to change beats per measure (%d)\n"
                "'m' to read tempo map\n"
                "\nOutput Settings:\n"
                "'i' to change start measure (%d)\n"
                "'o' to change stop measure (%d)\n"
                "'d' to change divisions per beat (%d)\n"
                "'p' to print to screen\n"
                "'w' to write beatstamps to beginning of file\n"
                "'a' to append beatstamps to existing file\n"
                "'f' to change output filename: %s\n"
                "\n'l' to toggle this list on/off\n"
                "'h' help\n"
                "'q' to quit\n",
                s.rate, s.tempo, s.beats, s.start, s.stop, s.divisions, s.file);
  return text;
}

std::string HelpText() {
  return "Help:\n"
         "To toggle the command list type 'l'\n"
         "\nOptional command line arguments:\n"
         "1st = tempo map filename\n"
         "2nd = output filename\n"
         "3rd = sample rate\n"
         "4th = measure start\n"
         "5th = measure stop\n"
         "6th = divisions\n"
         "With both filenames specified (arguments 1 and 2), the\n"
         "program will append data to or create the output file and exit.\n"
         "\nSetting up tempo map file:\n"
         "Begin a line with a command, then tab, then enter data.\n"
         "Commands:\n"
         "  rate\tfor sample rate\n"
         "  div\tfor divisions per beat\n"
         "  start\tfor start measure\n"
         "  stop\tfor stop measure\n"
         "  tmap\tfor a section defined by 3 parameters as follows:\n"
         "\ttempo, beats per measure, and measures in that section.\n"
         "\tAll are tab separated.  Examples:\n"
         "144.6 bpm in 4/4 for 32 measures:\n"
         "tmap\t144.6\t4\t32\n"
         "152 bpm in 3/4 for 16 measures:\n"
         "tmap\t152\t3\t16\n"
         "\n"
         "512 different sections can be specified.\n";
}

std::string DefaultReport() {
  return "\nSample Rate\t44100\n"
         "\nSection 1\tTempo 120.000\tBeats/Meas 4\tMeasures 1\n\n"
         "M 1\tB 1\t0.000 sec\t0 smp\n"
         "\tB 2\t0.500 sec\t22050 smp\n"
         "\tB 3\t1.000 sec\t44100 smp\n"
         "\tB 4\t1.500 sec\t66150 smp\n";
}

void SystemTest::SetUp() {
  char pattern[] = "/tmp/beatstamps-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  folder_ = pattern;
}

void SystemTest::TearDown() {
  const std::string command = "rm -rf '" + folder_ + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
}

bool SystemTest::Exists(const std::string& name) const {
  struct stat info;
  return stat(Path(name).c_str(), &info) == 0;
}

std::vector<std::string> SystemTest::Listing(const std::string& under) const {
  std::vector<std::string> names;
  DIR* folder = opendir((under.empty() ? folder_ : Path(under)).c_str());
  if (folder == nullptr) return names;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(folder);
  std::sort(names.begin(), names.end());
  return names;
}

ProgramRun SystemTest::Run(const std::vector<std::string>& arguments, const std::string& input) {
  ProgramRun run = RunCapturingErrors(arguments, input);
  EXPECT_EQ(run.errors, "") << "nothing may go to standard error";
  return run;
}

ProgramRun SystemTest::RunCapturingErrors(const std::vector<std::string>& arguments,
                                          const std::string& input) {
  const std::string inputPath = folder_ + ".in";
  const std::string outputPath = folder_ + ".out";
  const std::string errorPath = folder_ + ".err";
  WriteWholeFile(inputPath, input);
  ProgramRun run;
  run.status = Spawn(arguments, folder_, inputPath, outputPath, errorPath,
                     {fileSizeLimit_, fileSizeSignalAtDefault_, &runUser_});
  run.output = ReadWholeFile(outputPath);
  run.errors = ReadWholeFile(errorPath);
  std::remove(inputPath.c_str());
  std::remove(outputPath.c_str());
  std::remove(errorPath.c_str());
  return run;
}

int SystemTest::RunInto(const std::vector<std::string>& arguments, const std::string& input,
                        const std::string& outputPath) {
  const std::string inputPath = folder_ + ".in";
  const std::string errorPath = folder_ + ".err";
  WriteWholeFile(inputPath, input);
  const int status = Spawn(arguments, folder_, inputPath, outputPath, errorPath,
                           {fileSizeLimit_, fileSizeSignalAtDefault_, &runUser_});
  std::remove(inputPath.c_str());
  std::remove(errorPath.c_str());
  return status;
}

StartedRun SystemTest::Start(const std::vector<std::string>& arguments, const std::string& input,
                             const std::string& tag) {
  StartedRun run{0, folder_ + "." + tag + ".in", folder_ + "." + tag + ".out",
                 folder_ + "." + tag + ".err"};
  WriteWholeFile(run.inputPath, input);
  run.pid = StartChild(arguments, folder_, run.inputPath, run.outputPath, run.errorPath,
                       {fileSizeLimit_, fileSizeSignalAtDefault_, &runUser_});
  return run;
}

ProgramRun SystemTest::Finish(const StartedRun& started) {
  ProgramRun run;
  run.status = WaitFor(started.pid);
  run.output = ReadWholeFile(started.outputPath);
  run.errors = ReadWholeFile(started.errorPath);
  std::remove(started.inputPath.c_str());
  std::remove(started.outputPath.c_str());
  std::remove(started.errorPath.c_str());
  return run;
}
