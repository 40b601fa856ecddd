// Catalog generation speed and memory against the disk's own speed.
//
//   generate_bench [MEGABYTES [FOLDER]]
//
// Writes a plain file of MEGABYTES (default 1024) and flushes it, to time
// the disk; then generates a server catalog of the same size with 40%
// deleted and 1% moved rows in FOLDER (default: the system's temporary
// folder) and prints both times, their ratio and the peak resident memory.
// Both files are removed afterwards.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tessmark/generate.h"

using namespace tessmark::jet;
namespace fs = std::filesystem;

namespace {

double Seconds(const std::chrono::steady_clock::time_point& since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double PlainWrite(const std::string& path, uint64_t bytes) {
  const auto start = std::chrono::steady_clock::now();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return -1;
  std::vector<char> block(1 << 20, 'x');
  for (uint64_t done = 0; done < bytes; done += block.size())
    std::fwrite(block.data(), 1, block.size(), f);
  std::fflush(f);
  std::fclose(f);
  std::FILE* again = std::fopen(path.c_str(), "rb+");
  if (again != nullptr) {
    fsync(fileno(again));
    std::fclose(again);
  }
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
  const fs::path plain = folder / "generate_bench.plain";
  const fs::path catalog = folder / "generate_bench.mdb";
  fs::remove(plain);
  fs::remove(catalog);

  const double disk = PlainWrite(plain.string(), megabytes << 20);
  fs::remove(plain);

  CatalogOptions o;
  o.kind = CatalogKind::kServer;
  o.target_bytes = megabytes << 20;
  o.deleted = 0.4;
  o.moved = 0.01;
  const auto start = std::chrono::steady_clock::now();
  CatalogResult r;
  try {
    r = GenerateCatalog(catalog.string(), o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "generate_bench: %s\n", e.what());
    return 1;
  }
  const double generate = Seconds(start);
  fs::remove(catalog);

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("plain write of %llu MB: %.2f s\n", static_cast<unsigned long long>(megabytes), disk);
  std::printf(
      "server catalog:        %.2f s (%llu bytes, %llu bulk rows, %llu deleted, %llu moved)\n",
      generate, static_cast<unsigned long long>(r.stats.bytes),
      static_cast<unsigned long long>(r.bulk_rows),
      static_cast<unsigned long long>(r.stats.deleted_rows),
      static_cast<unsigned long long>(r.stats.moved_rows));
  std::printf("ratio generate / plain write: %.2f\n", disk > 0 ? generate / disk : 0.0);
  std::printf("peak resident memory: %ld MB\n", usage.ru_maxrss / 1024);
  return 0;
}
