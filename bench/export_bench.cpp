// How long the real program takes, from start to exit, to export large
// grids (a million grid points as labels, CSV and MIDI, and the click track
// of a ten-minute song), next to how long the disk takes to take the same
// bytes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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

// One section of 250,000 measures of 4/4 at 120: a million grid points at one
// division a beat.
std::string MillionPointMap() {
  return WriteMap("million.map", "tmap\t120\t4\t250000\n");
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

// Runs a program with its standard output discarded; the status it ended with.
int Spawn(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  int status = -1;
  if (posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    waitpid(child, &status, 0);
  }
  posix_spawn_file_actions_destroy(&actions);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double SecondsToRun(const std::vector<std::string>& arguments, bool& failed) {
  const auto start = std::chrono::steady_clock::now();
  failed = failed || Spawn(arguments) != 0;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Times the export from the program's start to its exit, then `dd` writing
// the same bytes to the same disk and syncing them, as the export does: the
// ratio says how close the export comes to the speed of the disk.
void TimeExport(benchmark::State& bench, std::vector<std::string> arguments,
                const std::string& output) {
  arguments.insert(arguments.begin(), BEATSTAMPS_PROGRAM);
  const std::vector<std::string> copy = {"dd", "if=" + output, "of=" + output + ".dd", "bs=1M",
                                         "conv=fsync"};
  double program = 0.0;
  double disk = 0.0;
  bool failed = false;
  for (auto _ : bench) {
    const double seconds = SecondsToRun(arguments, failed);
    disk += SecondsToRun(copy, failed);
    program += seconds;
    bench.SetIterationTime(seconds);
  }
  if (failed) {
    bench.SkipWithError("the program or dd failed");
    return;
  }
  bench.counters["bytes"] = static_cast<double>(FileSize(output));
  bench.counters["dd_ms"] = 1000.0 * disk / static_cast<double>(bench.iterations());
  bench.counters["x_dd"] = program / disk;
}

void BM_LabelsMillionPoints(benchmark::State& bench) {
  const std::string output = ScratchFolder() + "/labels.txt";
  TimeExport(bench, {"--format=labels", MillionPointMap(), output, "48000", "1", "250000", "1"},
             output);
}
BENCHMARK(BM_LabelsMillionPoints)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

void BM_CsvMillionPoints(benchmark::State& bench) {
  const std::string output = ScratchFolder() + "/grid.csv";
  TimeExport(bench, {"--format=csv", MillionPointMap(), output, "48000", "1", "250000", "1"},
             output);
}
BENCHMARK(BM_CsvMillionPoints)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

void BM_MidiMillionPoints(benchmark::State& bench) {
  const std::string output = ScratchFolder() + "/grid.mid";
  TimeExport(bench, {"--format=midi", MillionPointMap(), output, "48000", "1", "250000", "1"},
             output);
}
BENCHMARK(BM_MidiMillionPoints)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

void BM_ClickTrackTenMinuteSong(benchmark::State& bench) {
  const std::string output = ScratchFolder() + "/click.wav";
  TimeExport(bench, {"--format=click", TenMinuteSong(), output, "48000", "1", "301", "2"}, output);
}
BENCHMARK(BM_ClickTrackTenMinuteSong)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);

// The batch run over the longest map a file can hold, the range near the
// largest start: the clock jumps over 2^33 steps exactly.
void BM_BatchRunLongestMap(benchmark::State& bench) {
  std::string map;
  for (int k = 0; k < 510; ++k) map += "tmap\t120\t4\t2147483647\n";
  const std::string output = ScratchFolder() + "/long.txt";
  const std::vector<std::string> arguments = {
      BEATSTAMPS_PROGRAM, WriteMap("long.map", map), output, "44100", "2147483000", "2147483002"};
  bool failed = false;
  for (auto _ : bench) {
    std::remove(output.c_str());
    bench.SetIterationTime(SecondsToRun(arguments, failed));
  }
  if (failed) bench.SkipWithError("the program failed");
}
BENCHMARK(BM_BatchRunLongestMap)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);

}  // namespace
