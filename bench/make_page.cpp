// make_page: writes a generated page of a given size and the data file of its fields, for the end-to-end benchmark.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "workloads.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: moravel_bench_page BYTES SEED PAGE DATA\n");
    return 64;
  }
  std::size_t bytes = std::strtoull(argv[1], nullptr, 10);
  std::uint64_t seed = std::strtoull(argv[2], nullptr, 10);
  moravel::bench::Fields fields = moravel::bench::makeFields(seed, 1000);
  std::string page = moravel::bench::makeSizedPage(fields, seed + 1, bytes);
  std::ofstream p(argv[3], std::ios::binary), d(argv[4], std::ios::binary);
  p << page;
  d << moravel::bench::dataFileOf(fields);
  p.close();
  d.close();
  if (!p || !d) {
    std::fprintf(stderr, "moravel_bench_page: cannot write %s or %s\n", argv[3], argv[4]);
    return 73;
  }
  return 0;
}
