#include <benchmark/benchmark.h>

// Every benchmark file registers its cases together with a cheap baseline measured in the same run,
// so figures can be quoted as ratios independent of the machine's speed.
BENCHMARK_MAIN();
