// Reading and checking a large database: time and peak memory.
//
//   read_bench [SIZE_MIB] [SAMPLE]
//
// Makes a sparse copy of SAMPLE (default: the corpus's jet4/testV2000.mdb)
// grown to SIZE_MIB (default 2047), then opens it, checks it and reads every
// page through the page cache. The peak resident memory must stay a few MiB
// above the program's own size whatever the file size.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "check/checker.h"
#include "db/database.h"

namespace {

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tessmark::jet;
  const long size_mib = argc > 1 ? std::atol(argv[1]) : 2047;
  const std::filesystem::path sample =
      argc > 2 ? std::filesystem::path(argv[2])
               : std::filesystem::path(TESSMARK_SHARED_DIR) / "corpus/jet4/testV2000.mdb";
  if (!std::filesystem::exists(sample)) {
    std::fprintf(stderr, "read_bench: sample %s not found\n", sample.string().c_str());
    return 2;
  }
  const std::filesystem::path big = std::filesystem::temp_directory_path() /
                                    ("tessmark-read-bench-" + std::to_string(getpid()) + ".mdb");
  std::filesystem::copy_file(sample, big);
  std::filesystem::resize_file(big, static_cast<uintmax_t>(size_mib) << 20);
  const long base_rss = PeakRssKiB();

  int status = 0;
  try {
    auto start = std::chrono::steady_clock::now();
    auto db = Database::Open(big.string());
    const CheckReport report = CheckDatabase(*db);
    const double check_s = Seconds(start);

    start = std::chrono::steady_clock::now();
    uint64_t nonzero = 0;
    for (uint32_t p = 0; p < db->page_count(); ++p) nonzero += db->file().Get(p)->data[0] != 0;
    const double scan_s = Seconds(start);

    std::printf("file: %ld MiB, %u pages\n", size_mib, db->page_count());
    std::printf("open + check: %.3f s (%s, %llu errors, %llu warnings)\n", check_s,
                report.sound() ? "sound" : "damaged",
                static_cast<unsigned long long>(report.errors),
                static_cast<unsigned long long>(report.warnings));
    std::printf("read every page: %.3f s (%llu non-empty), %llu page reads\n", scan_s,
                static_cast<unsigned long long>(nonzero),
                static_cast<unsigned long long>(db->file().reads()));
    std::printf("peak memory: %ld KiB (%ld KiB before opening)\n", PeakRssKiB(), base_rss);
  } catch (const Error& e) {
    std::fprintf(stderr, "read_bench: error %d: %s\n", e.number(), e.description().c_str());
    status = 1;
  }
  std::filesystem::remove(big);
  return status;
}
