// The HTML document model on generated pages of 100 KB, 1 MB and 10 MB:
// parse, index, the page pass's find/paste loop over seven keywords,
// serialise. Prints the 10 MB / 1 MB time ratio of each step at the end
// (linear growth gives about 10; the target is at most 12) and the peak
// resident memory.
//
//   build/<dir>/html/html_benchmark [--benchmark_filter=Highlight]
//       [--benchmark_repetitions=5]   # ratios from the medians
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "html/html_internal.h"
#include "html/testing/highlight.h"
#include "html/page_generator.h"

namespace glintmark::html {
namespace {

const std::string& page(std::size_t size) {
  static std::map<std::size_t, std::string> pages;
  auto it = pages.find(size);
  if (it == pages.end()) it = pages.emplace(size, generatePage(size, 1)).first;
  return it->second;
}

double peakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

long highlightAll(HtmlDocument& document) {
  std::unique_ptr<Document> view = document.document();
  std::unique_ptr<BodyElement> body;
  if (failed(view->body(&body)) || !body) return -1;
  long matches = 0;
  std::size_t position = 0;
  for (const std::string& keyword : generatedPageKeywords()) {
    matches += testing::highlightWord(*body, toUtf16(keyword), highlightColour(position++));
  }
  return matches;
}

void setCounters(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["peakMB"] = peakMegabytes();
}

void Parse(benchmark::State& state) {
  const std::string& markup = page(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(parseHtml(markup));
  setCounters(state, markup.size());
}

void Index(benchmark::State& state) {
  const std::string& markup = page(static_cast<std::size_t>(state.range(0)));
  std::unique_ptr<HtmlDocument> document = parseHtml(markup);
  for (auto _ : state) {
    DocumentAccess::invalidate(*document);
    ensureIndex(*document);
  }
  setCounters(state, markup.size());
}

void Highlight(benchmark::State& state) {
  const std::string& markup = page(static_cast<std::size_t>(state.range(0)));
  long matches = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<HtmlDocument> document = parseHtml(markup);
    ensureIndex(*document);
    state.ResumeTiming();
    matches = highlightAll(*document);
    state.PauseTiming();
    document.reset();
    state.ResumeTiming();
  }
  state.counters["matches"] = static_cast<double>(matches);
  setCounters(state, markup.size());
}

void Serialize(benchmark::State& state) {
  const std::string& markup = page(static_cast<std::size_t>(state.range(0)));
  std::unique_ptr<HtmlDocument> document = parseHtml(markup);
  highlightAll(*document);
  for (auto _ : state) benchmark::DoNotOptimize(document->serialize());
  setCounters(state, markup.size());
}

// Everything the highlight tool does with a page once it is read.
void PagePass(benchmark::State& state) {
  const std::string& markup = page(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::unique_ptr<HtmlDocument> document = parseHtml(markup);
    highlightAll(*document);
    benchmark::DoNotOptimize(document->serialize());
  }
  setCounters(state, markup.size());
}

constexpr std::int64_t kilobytes100 = 100 << 10, megabyte = 1 << 20, megabytes10 = 10 << 20;

BENCHMARK(Parse)->Arg(kilobytes100)->Arg(megabyte)->Arg(megabytes10)->Unit(benchmark::kMillisecond);
BENCHMARK(Index)->Arg(kilobytes100)->Arg(megabyte)->Arg(megabytes10)->Unit(benchmark::kMillisecond);
BENCHMARK(Highlight)
    ->Arg(kilobytes100)
    ->Arg(megabyte)
    ->Arg(megabytes10)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Serialize)
    ->Arg(kilobytes100)
    ->Arg(megabyte)
    ->Arg(megabytes10)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(PagePass)->Arg(kilobytes100)->Arg(megabyte)->Arg(megabytes10)->Unit(benchmark::kMillisecond);

// Keeps each run's time per iteration so that main can print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      // With --benchmark_repetitions the median stands for the runs.
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type != Run::RT_Iteration && !median) continue;
      if (!median && medians.count(run.run_name.str())) continue;
      if (median) medians.insert(run.run_name.str());
      times[run.run_name.str()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
    }
  }
  std::map<std::string, std::pair<double, double>> times;  // wall, CPU
  std::set<std::string> medians;
};

}  // namespace
}  // namespace glintmark::html

int main(int argc, char** argv) {
  using glintmark::html::RatioReporter;
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // CPU time is the steadier measure on a shared machine.
  std::printf("\nTime ratio 10 MB / 1 MB (linear is about 10, at most 12 wanted):\n");
  std::printf("  %-10s %8s %8s  %s\n", "step", "CPU", "wall", "CPU ms 1 MB -> 10 MB");
  for (const char* name : {"Parse", "Index", "Highlight", "Serialize", "PagePass"}) {
    const auto small = reporter.times.find(std::string(name) + "/1048576");
    const auto large = reporter.times.find(std::string(name) + "/10485760");
    if (small == reporter.times.end() || large == reporter.times.end() ||
        small->second.first <= 0 || small->second.second <= 0) {
      continue;
    }
    std::printf("  %-10s %8.2f %8.2f  %.1f -> %.1f\n", name,
                large->second.second / small->second.second,
                large->second.first / small->second.first, small->second.second,
                large->second.second);
  }
  std::printf("Peak resident memory: %.0f MB\n", glintmark::html::peakMegabytes());
  benchmark::Shutdown();
  return 0;
}
