/* The parser's own floor for the highlighting benchmark: reads a page and
 * parses it with gumbo alone (the options glintmark parses with: no error
 * records), nothing else. bench/bench-highlight.sh times it beside
 * `glintmark highlight` on the same page; it prints its own parse time and
 * its peak resident memory as one JSON line.
 *
 *   gumbo-parse PAGE
 */
#include <gumbo.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>

static double seconds(clockid_t clock) {
  struct timespec now;
  clock_gettime(clock, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: gumbo-parse PAGE\n");
    return 2;
  }
  FILE* file = fopen(argv[1], "rb");
  if (!file) {
    perror(argv[1]);
    return 2;
  }
  fseek(file, 0, SEEK_END);
  const long size = ftell(file);
  fseek(file, 0, SEEK_SET);
  char* bytes = malloc(size > 0 ? (size_t)size : 1);
  if (!bytes || fread(bytes, 1, (size_t)size, file) != (size_t)size) {
    fprintf(stderr, "gumbo-parse: cannot read %s\n", argv[1]);
    return 2;
  }
  fclose(file);

  GumboOptions options = kGumboDefaultOptions;
  options.max_errors = 0;
  const double wall = seconds(CLOCK_MONOTONIC), cpu = seconds(CLOCK_PROCESS_CPUTIME_ID);
  GumboOutput* output = gumbo_parse_with_options(&options, bytes, (size_t)size);
  const double wallUsed = seconds(CLOCK_MONOTONIC) - wall;
  const double cpuUsed = seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu;
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  printf("{\"parseSeconds\": %.4f, \"parseCpuSeconds\": %.4f, \"peakMB\": %.1f, \"children\": %u}\n",
         wallUsed, cpuUsed, usage.ru_maxrss / 1024.0, output->root->v.element.children.length);
  /* The process ends here; freeing the tree first would only add time. */
  return 0;
}
