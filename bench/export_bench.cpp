// How long the real program takes, from start to exit, to export large
// grids: a million grid points as labels and as CSV, and the click track of a
// ten-minute song.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

// A folder of the benchmark's own for the map and the exported files.
std::string ScratchFolder() {
  static std::string folder = [] {
    char pattern[] = "/tmp/beatstamps-bench-XXXXXX";
    return std::string(mkdtemp(pattern) != nullptr ? pattern : "/tmp");
  }();
  return folder;
}

std::string WriteMap(const std::string& name, const std::string& text) {
  const std::string path = ScratchFolder() + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

// A song of changing tempo and meter: 250,000 beats over 62,500 measures,
// so four divisions a beat make a million grid points.
std::string MillionPointMap() {
  return WriteMap("million.map",
                  "tmap\t120\t4\t20000\ntmap\t144.6\t4\t22500\ntmap\t88.5\t4\t20000\n");
}

// Ten minutes: 150 measures of 4/4 at 120, then 150 at 120 in 4/4 again
// after a bar of 3/4 at 90 (rounding the song to ten minutes and a bit).
std::string TenMinuteSong() {
  return WriteMap("ten-minutes.map", "tmap\t120\t4\t150\ntmap\t90\t3\t1\ntmap\t120\t4\t150\n");
}

long long FileSize(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

// Runs the program with its messages discarded; the status it ended with.
int RunProgram(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  std::string program = BEATSTAMPS_PROGRAM;
  argv.push_back(program.data());
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  int status = -1;
  if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    waitpid(child, &status, 0);
  }
  posix_spawn_file_actions_destroy(&actions);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void TimeExport(benchmark::State& bench, const std::vector<std::string>& arguments,
                const std::string& output) {
  for (auto _ : bench) {
    if (RunProgram(arguments) != 0) {
      bench.SkipWithError("the program failed");
      return;
    }
  }
  bench.counters["bytes"] = static_cast<double>(FileSize(output));
}

void BM_LabelsMillionPoints(benchmark::State& bench) {
  const std::string output = ScratchFolder() + "/labels.txt";
  TimeExport(bench, {"--format=labels", MillionPointMap(), output, "48000", "1", "62500", "4"},
             output);
}
BENCHMARK(BM_LabelsMillionPoints)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_CsvMillionPoints(benchmark::State& bench) {
  const std::string output = ScratchFolder() + "/grid.csv";
  TimeExport(bench, {"--format=csv", MillionPointMap(), output, "48000", "1", "62500", "4"},
             output);
}
BENCHMARK(BM_CsvMillionPoints)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_ClickTrackTenMinuteSong(benchmark::State& bench) {
  const std::string output = ScratchFolder() + "/click.wav";
  TimeExport(bench, {"--format=click", TenMinuteSong(), output, "48000", "1", "301", "2"}, output);
}
BENCHMARK(BM_ClickTrackTenMinuteSong)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace
