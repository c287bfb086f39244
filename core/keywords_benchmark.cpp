// splitKeywords on a 30-word search text and, in title-word mode, on a
// 200-byte page title checked against a page URL.
//
//   build/<dir>/core/keywords_benchmark
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "core/keywords.h"

namespace glintmark {
namespace {

void BM_SplitSearchText30Words(benchmark::State& state) {
  std::string text;
  for (int i = 0; i < 30; ++i) text += (i % 3 == 0 ? "%22keyword" : "+word") + std::to_string(i);
  if (splitKeywords(text.c_str(), false, nullptr, ansiCodePage()).words.size() != 30) std::abort();
  for (auto _ : state) {
    auto list = splitKeywords(text.c_str(), false, nullptr, ansiCodePage());
    benchmark::DoNotOptimize(list);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_SplitTitle200Bytes(benchmark::State& state) {
  // Mostly stop words and URL words, so all 200 bytes are walked before five
  // words are accepted.
  std::string title =
      "the history of the example company and all of its products: example widgets, "
      "example gadgets and more - since they were first made, with a few of the ";
  title += "rarest old catalogue pages and photographs";
  title.resize(200, ' ');
  const std::string pageUrl = "https://www.example.com/company/history/products/widgets/index.html";
  for (auto _ : state) {
    auto list = splitKeywords(title.c_str(), true, pageUrl.c_str(), ansiCodePage());
    benchmark::DoNotOptimize(list);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * title.size()));
}

BENCHMARK(BM_SplitSearchText30Words);
BENCHMARK(BM_SplitTitle200Bytes);

}  // namespace
}  // namespace glintmark

BENCHMARK_MAIN();
