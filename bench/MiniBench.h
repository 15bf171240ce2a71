#pragma once
// A small benchmark harness for programs that run under Wine, where the benchmark
// library is not available for MinGW. Same shape as Google Benchmark: register
// functions, loop with `for (auto _ : state)`, report time, CPU time, iterations and
// counters in its console layout.
//
//   void BM_Thing(minibench::State& state) { for (auto _ : state) Work(); }
//   MINIBENCH(BM_Thing);
//   int main(int argc, char** argv) { return minibench::RunAll(argc, argv); }

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace minibench {

inline double ThreadCpuSeconds() {
#ifdef _WIN32
  FILETIME creation, exit, kernel, user;
  GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user);
  auto ticks = [](FILETIME t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return double(ticks(kernel) + ticks(user)) * 1e-7;
#else
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
#endif
}

class State {
 public:
  explicit State(int64_t iterations) : max_(iterations) {}

  // A user-provided destructor keeps `for (auto _ : state)` free of unused warnings.
  struct Value {
    ~Value() {}
  };
  struct Iterator {
    State* state;
    int64_t left;
    bool operator!=(const Iterator&) const {
      if (left > 0) return true;
      state->Stop();
      return false;
    }
    void operator++() { --left; }
    Value operator*() const { return Value{}; }
  };
  Iterator begin() {
    Start();
    return Iterator{this, max_};
  }
  Iterator end() { return Iterator{this, 0}; }

  // Excludes set-up work inside the loop from the timing.
  void PauseTiming() { Stop(); }
  void ResumeTiming() { Start(); }

  int64_t iterations() const { return max_; }
  void SetItemsProcessed(int64_t items) { items_ = items; }
  void SetLabel(std::string label) { label_ = std::move(label); }
  std::map<std::string, double> counters;

  double RealSeconds() const { return real_; }
  double CpuSeconds() const { return cpu_; }
  int64_t Items() const { return items_; }
  const std::string& Label() const { return label_; }

 private:
  void Start() {
    startReal_ = std::chrono::steady_clock::now();
    startCpu_ = ThreadCpuSeconds();
  }
  void Stop() {
    real_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - startReal_).count();
    cpu_ += ThreadCpuSeconds() - startCpu_;
  }

  int64_t max_;
  double real_ = 0, cpu_ = 0;
  int64_t items_ = 0;
  std::string label_;
  std::chrono::steady_clock::time_point startReal_;
  double startCpu_ = 0;
};

struct Result {
  std::string name;
  double realPerIteration = 0;  // seconds
  double cpuPerIteration = 0;
  int64_t iterations = 0;
};

using Function = std::function<void(State&)>;

inline std::vector<std::pair<std::string, Function>>& Registry() {
  static std::vector<std::pair<std::string, Function>> registry;
  return registry;
}

inline std::map<std::string, Result>& Results() {
  static std::map<std::string, Result> results;
  return results;
}

struct Registrar {
  Registrar(const char* name, Function f) { Registry().emplace_back(name, std::move(f)); }
};

#define MINIBENCH_CONCAT2(a, b) a##b
#define MINIBENCH_CONCAT(a, b) MINIBENCH_CONCAT2(a, b)
#define MINIBENCH(fn) static ::minibench::Registrar MINIBENCH_CONCAT(minibench_registrar_, __LINE__)(#fn, fn)

inline std::string FormatTime(double seconds) {
  char buffer[32];
  if (seconds < 1e-6)
    std::snprintf(buffer, sizeof buffer, "%.1f ns", seconds * 1e9);
  else if (seconds < 1e-3)
    std::snprintf(buffer, sizeof buffer, "%.2f us", seconds * 1e6);
  else
    std::snprintf(buffer, sizeof buffer, "%.2f ms", seconds * 1e3);
  return buffer;
}

inline std::string FormatRate(double perSecond) {
  char buffer[32];
  if (perSecond >= 1e6)
    std::snprintf(buffer, sizeof buffer, "%.4gM/s", perSecond / 1e6);
  else if (perSecond >= 1e3)
    std::snprintf(buffer, sizeof buffer, "%.4gk/s", perSecond / 1e3);
  else
    std::snprintf(buffer, sizeof buffer, "%.4g/s", perSecond);
  return buffer;
}

// Runs each benchmark with growing iteration counts until one run lasts at least
// --min_time seconds (default 0.5), then prints one line per benchmark.
// --filter=TEXT runs only benchmarks whose name contains TEXT.
inline int RunAll(int argc, char** argv) {
  double minTime = 0.5;
  std::string filter;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--min_time=", 11) == 0) minTime = std::atof(argv[i] + 11);
    if (std::strncmp(argv[i], "--filter=", 9) == 0) filter = argv[i] + 9;
  }
  std::printf("%-40s %14s %14s %12s %s\n", "Benchmark", "Time", "CPU", "Iterations", "UserCounters...");
  std::printf("%s\n", std::string(100, '-').c_str());
  for (auto& [name, function] : Registry()) {
    if (!filter.empty() && name.find(filter) == std::string::npos) continue;
    int64_t n = 1;
    for (;;) {
      State state(n);
      function(state);
      bool enough = state.RealSeconds() >= minTime || n >= (int64_t(1) << 30);
      if (enough) {
        Result& r = Results()[name];
        r.name = name;
        r.iterations = n;
        r.realPerIteration = state.RealSeconds() / double(n);
        r.cpuPerIteration = state.CpuSeconds() / double(n);
        std::string counters;
        if (state.Items() > 0)
          counters += "items_per_second=" + FormatRate(double(state.Items()) / state.RealSeconds());
        for (auto& [key, value] : state.counters) {
          char buffer[64];
          std::snprintf(buffer, sizeof buffer, " %s=%.4g", key.c_str(), value);
          counters += buffer;
        }
        if (!state.Label().empty()) counters += " " + state.Label();
        std::printf("%-40s %14s %14s %12lld %s\n", name.c_str(), FormatTime(r.realPerIteration).c_str(),
                    FormatTime(r.cpuPerIteration).c_str(), static_cast<long long>(n), counters.c_str());
        std::fflush(stdout);
        break;
      }
      // Aim for the minimum time with some headroom, growing at most tenfold.
      double perIteration = state.RealSeconds() / double(n);
      int64_t next = perIteration > 0 ? int64_t(minTime * 1.4 / perIteration) : n * 10;
      n = std::max(n + 1, std::min(next, n * 10));
    }
  }
  return 0;
}

}  // namespace minibench
