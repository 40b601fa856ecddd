// Compaction speed and memory on a generated database.
//
//   compact_bench [ROWS [FOLDER]]
//
// Builds a Jet 4 database of ROWS rows (default 400 000; about 100 bytes
// each, with a memo column, two indexes, deleted and moved rows) in FOLDER
// (default: the system's temporary folder), then times a plain copy of the
// file and a compaction of it, and prints both, their ratio (the goal is at
// most 2) and the peak resident memory of the process.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "build/database_builder.h"
#include "tessmark/compact.h"

using namespace tessmark::jet;
namespace fs = std::filesystem;

namespace {

double Seconds(const std::chrono::steady_clock::time_point& since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Build(const std::string& path, long rows) {
  BuildOptions o;
  DatabaseBuilder b(path, o);
  TableDecl t;
  t.name = "Events";
  t.columns = {{"Id", ColumnType::kLong, 0, true, true}, {"Client", ColumnType::kText, 40},
               {"When", ColumnType::kDateTime},          {"Size", ColumnType::kDouble},
               {"Path", ColumnType::kText, 120},         {"Detail", ColumnType::kMemo}};
  t.indexes = {{"PrimaryKey", {{"Id", true}}, true},
               {"ByClient", {{"Client", true}, {"When", true}}}};
  b.AddTable(t);
  b.BeginTable("Events");
  for (long i = 0; i < rows; ++i) {
    RowFate fate = i % 13 == 0 ? RowFate::kDeleted : i % 41 == 0 ? RowFate::kMoved : RowFate::kLive;
    b.Insert(
        {NullValue(), TextValue("client" + std::to_string(i % 500)),
         DateValue(40000.0 + static_cast<double>(i) / 1000.0),
         DoubleValue(static_cast<double>(i) * 3.5),
         TextValue("c:/data/backup/set" + std::to_string(i % 97) + "/file" + std::to_string(i)),
         i % 50 == 0 ? TextValue(std::string(300, 'x')) : NullValue()},
        fate);
  }
  b.EndTable();
  b.Finish();
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 400000;
  const fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
  const fs::path source = folder / "tessmark-bench-source.mdb";
  const fs::path copy = folder / "tessmark-bench-copy.mdb";
  const fs::path compacted = folder / "tessmark-bench-compacted.mdb";
  for (const fs::path& p : {source, copy, compacted}) fs::remove(p);

  auto t0 = std::chrono::steady_clock::now();
  Build(source.string(), rows);
  std::printf("built %ld rows: %.1f MB in %.2f s\n", rows,
              static_cast<double>(fs::file_size(source)) / 1e6, Seconds(t0));

  t0 = std::chrono::steady_clock::now();
  fs::copy_file(source, copy);
  { std::fstream f(copy, std::ios::in | std::ios::out); }  // as cp: data written, not synced
  const double copy_s = Seconds(t0);

  t0 = std::chrono::steady_clock::now();
  CompactStats stats;
  CompactOptions options;
  options.stats = &stats;
  try {
    CompactDatabase(source.string(), compacted.string(), options);
  } catch (const Error& e) {
    std::fprintf(stderr, "error %d: %s\n", e.number(), e.description().c_str());
    return 1;
  }
  const double compact_s = Seconds(t0);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("copy: %.3f s   compaction (with verification): %.3f s   ratio %.1f\n", copy_s,
              compact_s, compact_s / copy_s);
  std::printf("pages %u -> %u, rows %llu, peak memory %.1f MB\n", stats.pages_before,
              stats.pages_after, static_cast<unsigned long long>(stats.rows),
              static_cast<double>(usage.ru_maxrss) / 1024.0);
  if (std::getenv("TESSMARK_BENCH_KEEP") == nullptr) {
    for (const fs::path& p : {source, copy, compacted}) fs::remove(p);
  }
  return 0;
}
