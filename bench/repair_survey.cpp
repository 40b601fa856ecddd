// How much a repair recovers, and how well its report accounts for what it
// does not, over random damage to generated catalogs.
//
//   repair_survey [DAMAGES [SEED]]
//
// Generates eight small catalogs (server and client, Jet 3 and Jet 4, aged
// with deleted and moved rows; four of them also with stale pages, the
// earlier rows of a rewritten table left owned but out of its usage map),
// then DAMAGES times (default 200) damages a copy of one of them at one
// random page, in one of four ways (random bytes, zeros, a few bytes
// changed, the second half of the page destroyed), repairs it and compares
// the user tables' rows with the catalog's own. A row is on the damaged
// page when any of its bytes lie there, its long values included. Prints,
// for the catalogs without and with stale pages: the share of rows off the
// damaged page that came back exactly; those that came back with a long
// value lost or went with a table whose definition was on the damaged
// page, both of which the report lists; the losses the report missed: rows
// missing or changed that no loss names, on the damaged page and
// elsewhere; and the rows in the copy the catalog does not have (beyond
// the rows the report counts as changed), for a zeroed page and for the
// other damages, with the rows the report lists as found outside their
// table's pages. The same SEED gives the same damages.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "db/database.h"
#include "tessmark/error.h"
#include "tessmark/generate.h"
#include "tessmark/repair.h"

using namespace tessmark::jet;
namespace fs = std::filesystem;

namespace {

struct PlacedRow {
  RowPointer header, data;
  std::string text;
  std::set<uint32_t> long_value_pages;  // where its memo and OLE values lie
};
using Rows = std::map<std::string, std::vector<PlacedRow>>;

Rows ReadRows(const std::string& path) {
  auto db = Database::Open(path);
  Rows out;
  for (const CatalogObject* o : db->Tables(false)) {
    const TableDef& def = db->Table(*o);
    std::vector<PlacedRow>& rows = out[o->name];
    std::vector<uint8_t> value;
    std::vector<RowPointer> lv_rows;
    db->ForEachRow(def, [&](const TableRow& row) {
      std::string line;
      for (const Value& v : db->DecodeValues(def, row)) line += FormatValue(v) + "\x1f";
      PlacedRow placed{row.header, row.data, line, {}};
      const DecodedRow d = DecodeRow(def, db->format(), row.bytes, {});
      for (size_t i = 0; i < def.columns.size(); ++i) {
        if (!def.columns[i].long_value() || d.fields[i].is_null || d.fields[i].length == 0)
          continue;
        lv_rows.clear();
        db->long_values().ReadInto(ParseLongValueField(d.FieldBytes(row.bytes, i), {}), {}, value,
                                   &lv_rows);
        for (const RowPointer& rp : lv_rows) placed.long_value_pages.insert(rp.page);
      }
      rows.push_back(std::move(placed));
    });
  }
  return out;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes(fs::file_size(path));
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr || std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::exit(1);
  std::fclose(f);
  return bytes;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::exit(1);
  std::fclose(f);
}

// Whether any of the row's bytes lie on `page`.
bool OnPage(const PlacedRow& r, uint32_t page) {
  return r.header.page == page || r.data.page == page || r.long_value_pages.count(page) != 0;
}

// The loss the report gives for `row` of `table`, if any.
const RepairLoss* LossOf(const RepairReport& report, const std::string& table,
                         const PlacedRow& row) {
  for (const RepairLoss& l : report.losses) {
    if (!l.where.table.empty() && l.where.table != table) continue;
    if (l.kind == RepairLoss::Kind::kTable) return &l;
    for (const RowPointer& at : {row.header, row.data}) {
      if (l.where.page == at.page && (!l.where.row || *l.where.row == at.row)) return &l;
    }
  }
  return nullptr;
}

struct Totals {
  uint64_t damages = 0, refused = 0;
  uint64_t refused_rows = 0;  // rows off the damaged page of refused repairs
  uint64_t off_page = 0, exact = 0, long_value_lost = 0, table_lost = 0;
  uint64_t missed_on_page = 0, missed_elsewhere = 0, on_page = 0, on_page_back = 0;
  uint64_t invented_zeroed = 0, invented_other = 0, found_outside = 0;
};

void Print(const char* title, const Totals& t) {
  auto share = [](uint64_t part, uint64_t whole) {
    return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
  };
  auto u = [](uint64_t v) { return static_cast<unsigned long long>(v); };
  std::printf("%s\n", title);
  std::printf("  damages: %llu, repairs refused (catalog unreadable): %llu\n", u(t.damages),
              u(t.refused));
  std::printf("  rows off the damaged page, in refused repairs: %llu (none recovered)\n",
              u(t.refused_rows));
  std::printf("  rows off the damaged page, in repairs done: %llu\n", u(t.off_page));
  std::printf("    recovered exactly:                      %llu (%.3f%%)\n", u(t.exact),
              share(t.exact, t.off_page));
  std::printf("    recovered, a long value lost (listed):  %llu\n", u(t.long_value_lost));
  std::printf("    lost with their table (listed):         %llu\n", u(t.table_lost));
  std::printf("  rows on the damaged page: %llu, back unchanged: %llu\n", u(t.on_page),
              u(t.on_page_back));
  std::printf("  losses the report missed: %llu off the damaged page, %llu on it\n",
              u(t.missed_elsewhere), u(t.missed_on_page));
  std::printf(
      "  rows in the copy the catalog does not have: %llu for a zeroed page, %llu for "
      "other damage\n",
      u(t.invented_zeroed), u(t.invented_other));
  std::printf("  rows listed as found outside their table's pages: %llu\n", u(t.found_outside));
}

}  // namespace

int main(int argc, char** argv) {
  const int damages = argc > 1 ? std::atoi(argv[1]) : 200;
  const uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
  const fs::path dir = fs::temp_directory_path() / ("repair-survey-" + std::to_string(::getpid()));
  fs::create_directories(dir);

  struct Catalog {
    std::string path;
    std::vector<uint8_t> bytes;
    Rows rows;
    uint32_t page_size;
    bool stale;
  };
  std::vector<Catalog> catalogs;
  for (int i = 0; i < 8; ++i) {
    CatalogOptions o;
    o.kind = i % 2 == 0 ? CatalogKind::kServer : CatalogKind::kClient;
    o.version = i % 4 < 2 ? JetVersion::kJet4 : JetVersion::kJet3;
    o.rows = 2000;
    o.deleted = 0.2;
    o.moved = 0.1;
    o.stale = i % 8 < 4 ? 0 : 0.1;
    o.seed = seed + static_cast<uint64_t>(i % 4);
    Catalog c;
    c.path = (dir / ("catalog" + std::to_string(i) + ".mdb")).string();
    GenerateCatalog(c.path, o);
    c.bytes = ReadFile(c.path);
    c.rows = ReadRows(c.path);
    c.page_size = o.version == JetVersion::kJet3 ? 2048 : 4096;
    c.stale = o.stale > 0;
    catalogs.push_back(std::move(c));
  }

  std::mt19937_64 rng(seed);
  Totals totals[2];  // without, with stale pages
  for (int n = 0; n < damages; ++n) {
    Catalog& c = catalogs[static_cast<size_t>(n) % catalogs.size()];
    Totals& t = totals[c.stale ? 1 : 0];
    ++t.damages;
    std::vector<uint8_t> bytes = c.bytes;
    const uint32_t pages = static_cast<uint32_t>(bytes.size() / c.page_size);
    const uint32_t page = 1 + static_cast<uint32_t>(rng() % (pages - 1));
    uint8_t* p = bytes.data() + size_t{page} * c.page_size;
    const uint64_t how = rng() % 4;
    switch (how) {
      case 0:
        for (uint32_t i = 0; i < c.page_size; ++i) p[i] = static_cast<uint8_t>(rng());
        break;
      case 1:
        std::fill(p, p + c.page_size, uint8_t{0});
        break;
      case 2:
        for (int k = 1 + static_cast<int>(rng() % 8); k > 0; --k)
          p[rng() % c.page_size] = static_cast<uint8_t>(rng());
        break;
      default:
        for (uint32_t i = c.page_size / 2; i < c.page_size; ++i) p[i] = static_cast<uint8_t>(rng());
        break;
    }
    const std::string source = (dir / "damaged.mdb").string();
    const std::string dest = (dir / "repaired.mdb").string();
    fs::remove(source);
    fs::remove(dest);
    WriteFile(source, bytes);
    RepairReport report;
    Rows after;
    bool written = false;
    try {
      report = RepairDatabase(source, dest);
      after = ReadRows(dest);
      written = true;
    } catch (const Error& e) {
      // Nothing written: every row is lost, and the error says why.
      ++t.refused;
      if (e.number() != kDamaged) std::printf("damage %d: error %d: %s\n", n, e.number(), e.what());
    }
    t.found_outside += report.rows_found_outside;
    for (const auto& [table, rows] : c.rows) {
      std::multiset<std::string> got;
      for (const PlacedRow& r : after[table]) got.insert(r.text);
      for (const PlacedRow& r : rows) {
        const bool damaged = OnPage(r, page);
        if (!written) {
          t.refused_rows += !damaged;
          continue;
        }
        t.off_page += !damaged;
        t.on_page += damaged;
        auto it = got.find(r.text);
        if (it != got.end()) {
          got.erase(it);
          t.exact += !damaged;
          t.on_page_back += damaged;
          continue;
        }
        const RepairLoss* loss = LossOf(report, table, r);
        if (loss == nullptr) {
          (damaged ? t.missed_on_page : t.missed_elsewhere)++;
        } else if (!damaged) {
          t.long_value_lost += loss->kind == RepairLoss::Kind::kLongValue;
          t.table_lost += loss->kind == RepairLoss::Kind::kTable;
        }
      }
      // What is left of the copy's rows are rows changed by the repair
      // (the report counts them) or rows the catalog never had.
      uint64_t changed = 0;
      for (const RepairedTable& rt : report.tables)
        if (rt.name == table) changed = rt.rows_changed;
      const uint64_t invented = got.size() > changed ? got.size() - changed : 0;
      (how == 1 ? t.invented_zeroed : t.invented_other) += invented;
    }
  }
  std::printf("seed %llu\n", static_cast<unsigned long long>(seed));
  Print("catalogs without stale pages:", totals[0]);
  Print("catalogs with stale pages:", totals[1]);
  fs::remove_all(dir);
  return 0;
}
