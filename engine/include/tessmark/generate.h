// Realistic backup catalogs for tests, demos and benchmarks, built with
// the DatabaseBuilder: the server's catalog (jobs, sessions, the media each
// session went to, media, clients and a large files table) or a client's
// (settings, selections, history, the selections each run covered and the
// files of each run). Each has a link table of fixed-length columns only.
// Deterministic for a seed; can be aged as the desktop product ages a
// catalog: rows deleted one by one and in runs after they were written
// (their space left free, whole pages freed), rows moved, long values
// rewritten or orphaned, index leaves split by inserts, and the pages of a
// table's earlier rows left owned but out of its usage map.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tessmark/jet_types.h"

namespace tessmark::jet {

class Env;

// What a built database holds: its pages and bytes, and its rows by fate.
struct BuildStats {
  uint32_t pages = 0;
  uint64_t bytes = 0;
  uint64_t live_rows = 0;
  uint64_t deleted_rows = 0;
  uint64_t moved_rows = 0;
  uint64_t stale_rows = 0;
  uint32_t stale_pages = 0;
  uint32_t free_pages = 0;
  uint64_t orphaned_long_values = 0;
};

enum class CatalogKind { kServer, kClient };

struct CatalogOptions {
  CatalogKind kind = CatalogKind::kServer;
  JetVersion version = JetVersion::kJet4;
  // Size of the file to aim at; when 0, `rows` rows go into the bulk table
  // (files of the server, history files of the client).
  uint64_t target_bytes = 0;
  uint64_t rows = 1000;
  double deleted = 0;  // share of rows loaded as deleted, 0 .. 0.95
  double moved = 0;    // share of the live rows loaded as moved, 0 .. 0.5
  // Share of rows loaded as stale, 0 .. 0.5: rows of an earlier version of
  // the table, left on pages its usage map no longer lists (RowFate::kStale).
  double stale = 0;
  uint64_t seed = 1;
  std::string password;
  bool encrypt = false;  // RC4 page encryption with a key drawn from the seed
  Env* env = nullptr;
  // Called now and then while the bulk table loads: rows so far, bytes so far.
  std::function<void(uint64_t, uint64_t)> progress;
};

struct CatalogResult {
  BuildStats stats;
  uint64_t bulk_rows = 0;  // rows given to the bulk table, deleted ones included
};

// Writes a new catalog to `path` (3204 if it exists; 3001 for bad options).
CatalogResult GenerateCatalog(const std::string& path, const CatalogOptions& options);

}  // namespace tessmark::jet
