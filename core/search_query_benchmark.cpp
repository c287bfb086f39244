// extractSearchText against its floor: the same 52 plain std::string_view::find
// calls over the same text, with no code page and no cut. URLs of 100 B, 2 KB
// and 64 KB, either ending in the last table entry ("&p=", so every entry is
// searched for) or holding none.
//
//   build/<dir>/core/search_query_benchmark
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "core/search_query.h"

namespace glintmark {
namespace {

// A query-heavy URL of `length` bytes; with `match`, it ends in "&p=" and a value.
std::string makeUrl(std::size_t length, bool match) {
  const std::string head = "https://www.example.com/results/list?";
  const std::string pair = "id=12345&lang=en-us&sort=date_desc&view=list&ref=home_page&";
  const std::string tail = match ? "&p=new+york" : "&page=2";
  std::string url = head;
  while (url.size() + tail.size() < length) url += pair;
  url.resize(length - tail.size());
  url += tail;
  return url;
}

std::string urlFor(const benchmark::State& state) {
  std::string url = makeUrl(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
  // The benchmark only means something if the URL matches exactly as planned.
  std::string probe = url;
  const auto text = extractSearchText(probe.data(), ansiCodePage());
  if (text.has_value() != (state.range(1) != 0) || (text && *text != "new+york")) std::abort();
  return url;
}

void runExtract(benchmark::State& state, const CodePage& cp) {
  std::string url = urlFor(state);
  for (auto _ : state) {
    // Neither kind of URL has an "&" behind its value, so the buffer stays intact.
    auto text = extractSearchText(url.data(), cp);
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_ExtractSearchText(benchmark::State& state) { runExtract(state, ansiCodePage()); }

void BM_ExtractSearchText932(benchmark::State& state) {
  static const std::unique_ptr<CodePage> cp = makeCodePage(932);
  if (!cp) {
    state.SkipWithError("windows-932 not available");
    return;
  }
  runExtract(state, *cp);
}

void BM_Floor52Finds(benchmark::State& state) {
  const std::string url = urlFor(state);
  const std::string_view text = url;
  const auto table = searchParameterTable();
  for (auto _ : state) {
    for (const std::string_view entry : table) {
      auto at = text.find(entry);
      benchmark::DoNotOptimize(at);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// {URL length, match at the end}
void urlSizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"bytes", "match"});
  for (const int64_t length : {100, 2048, 65536}) {
    for (const int64_t match : {1, 0}) b->Args({length, match});
  }
}

BENCHMARK(BM_ExtractSearchText)->Apply(urlSizes);
BENCHMARK(BM_Floor52Finds)->Apply(urlSizes);
BENCHMARK(BM_ExtractSearchText932)->Apply(urlSizes);

}  // namespace
}  // namespace glintmark

BENCHMARK_MAIN();
