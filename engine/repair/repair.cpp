// RepairDatabase: the salvage of every table, the indexes built from the
// rows salvaged, the write through the compaction writer, and the check,
// flush and rename of the result.
#include "tessmark/repair.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <set>

#include "check/checker.h"
#include "compact/compactor.h"
#include "db/database.h"
#include "db/entry_sorter.h"
#include "db/index_page.h"
#include "format/env.h"
#include "format/output_file.h"
#include "format/page_image.h"
#include "repair/row_keys.h"
#include "repair/salvage.h"
#include "tessmark/compact.h"
#include "tessmark/error.h"

namespace tessmark::jet {
namespace {

// An index entry built from a salvaged row.
struct BuiltEntry {
  std::vector<uint8_t> key;
  size_t row = 0;  // position in the table's salvaged rows
};

struct TableWork {
  const CatalogObject* object = nullptr;
  const TableDef* def = nullptr;
  SalvagedTable salvaged;
  std::vector<bool> dropped;                            // per salvaged row
  std::map<uint32_t, std::vector<BuiltEntry>> entries;  // per real index number
  std::vector<size_t> order;                            // the rows to write, in the order written
  RepairedTable report;
};

// Table names compare without regard to ASCII case, as the catalog does.
std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

class Repairer {
 public:
  Repairer(Database& db, const DataPageScan& scan, RepairReport& report)
      : db_(db),
        file_(db.file()),
        format_(db.format()),
        scan_(scan),
        report_(report),
        long_values_(file_) {}

  // Salvages every table and builds its indexes; returns the tables to write.
  std::vector<CatalogTable> Salvage() {
    const DataPageScan& scan = scan_;
    std::set<uint32_t> seen;
    // Every definition the file holds goes over, a linked table's too
    // (its columns and indexes, no rows), renumbered as compaction does.
    for (const CatalogObject* object : db_.Definitions()) {
      // A second catalog row naming the same table is the wreck of one.
      if (!seen.insert(object->table_page()).second) {
        unwritten_catalog_rows_.insert(object->row);
        continue;
      }
      TableWork& w = work_.emplace_back();
      w.object = object;
      w.report.name = object->name;
      Location at;
      at.table = object->name;
      at.page = object->table_page();
      std::string fault;
      try {
        w.def = &db_.Table(*object);
        const std::vector<DefinitionFault> faults = DefinitionFaults(*w.def, at);
        if (!faults.empty()) fault = FindingAt(faults.front().where, faults.front().what, at);
      } catch (const Error& e) {
        if (e.number() != kDamaged) throw;
        fault = DamageFindingAt(e, at);
      }
      if (!fault.empty()) {
        w.def = nullptr;
        w.report.definition_lost = true;
        Lose(w, RepairLoss{RepairLoss::Kind::kTable, at,
                           fault + "; the table and all its rows are lost"});
        continue;
      }
      // Access leaves the row counts of system tables stale.
      w.salvaged = SalvageRows(file_, *w.def, scan, !object->system());
      w.dropped.assign(w.salvaged.rows.size(), false);
      for (RepairLoss& loss : w.salvaged.losses) Lose(w, loss);
    }
    // Data pages whose owner cannot be read and that no usage map claims.
    std::set<uint32_t> claimed;
    for (const RepairLoss& l : report_.losses)
      if (l.kind == RepairLoss::Kind::kPage && l.where.page) claimed.insert(*l.where.page);
    for (uint32_t p : scan.unreadable) {
      if (claimed.count(p)) continue;
      report_.losses.push_back(RepairLoss{RepairLoss::Kind::kPage, Location::Page(p),
                                          "a data page whose slots cannot be read; whose rows "
                                          "it held is unknown"});
    }
    ReportUnlistedDefinitions();
    DropCatalogEntriesOf();
    std::vector<CatalogTable> tables;
    for (TableWork& w : work_) {
      if (w.def == nullptr) continue;
      if (&w != catalog_) BuildIndexes(w);
      for (size_t i = 0; i < w.dropped.size(); ++i) {
        if (w.dropped[i]) continue;
        const SalvagedRow& r = w.salvaged.rows[i];
        ++w.report.rows_recovered;
        if (r.outside) {
          ++w.report.rows_found_outside;
          report_.found_outside.push_back(w.def->where().WithRow(r.header.page, r.header.row));
        } else if (r.long_value_null) {
          ++w.report.rows_changed;
        } else {
          ++w.report.rows_unchanged;
        }
      }
      report_.rows_recovered += w.report.rows_recovered;
      report_.rows_unchanged += w.report.rows_unchanged;
      report_.rows_changed += w.report.rows_changed;
      report_.rows_found_outside += w.report.rows_found_outside;
      w.report.indexes_rebuilt = static_cast<uint32_t>(w.def->real_indexes.size());
      tables.push_back(
          {w.object->name, w.object->table_page(), static_cast<uint32_t>(w.object->id)});
      by_page_[w.object->table_page()] = &w;
    }
    for (TableWork& w : work_) {
      report_.rows_lost += w.report.rows_lost;
      report_.tables.push_back(w.report);
    }
    if (std::none_of(tables.begin(), tables.end(),
                     [](const CatalogTable& t) { return t.id == kCatalogPage; })) {
      throw Error(kDamaged, "Nothing of the database could be recovered: the catalog (page " +
                                std::to_string(kCatalogPage) + ") does not list itself.");
    }
    return tables;
  }

  // The writer's sources: the salvaged rows, and the entries built from them.
  RowSource Rows() {
    return [this](PageFile&, const TableDef& def, const RowVisitor& visit) {
      const TableWork& w = *by_page_.at(def.page);
      for (size_t i : w.order) {
        const SalvagedRow& r = w.salvaged.rows[i];
        visit(r.header, r.data, r.bytes);
      }
    };
  }
  // Foreign keys of surviving tables that refer to a table not written
  // become plain indexes: the relationship went with the table.
  std::function<void(const TableDef&, std::vector<uint8_t>&)> Definitions() {
    return [this](const TableDef& def, std::vector<uint8_t>& s) {
      for (const LogicalIndexDef& li : def.logical_indexes) {
        if (!li.foreign_key() || by_page_.count(li.fk_table_page)) continue;
        const size_t b = li.block_offset;
        s[b + format_.li_fk_role] = 0;
        PutU32(s, b + format_.li_fk_index, 0xFFFFFFFFu);
        PutU32(s, b + format_.li_fk_table, 0);
        s[b + format_.li_update_action] = 0;
        s[b + format_.li_delete_action] = 0;
        if (li.index_type == kIndexTypeForeignKey) s[b + format_.li_index_type] = kIndexTypeNormal;
      }
    };
  }

  IndexWalker Entries() {
    return [this](PageFile&, const TableDef& def, const RealIndexDef& index,
                  const IndexEntryVisitor& visit) {
      const TableWork& w = *by_page_.at(def.page);
      auto it = w.entries.find(index.number);
      if (it == w.entries.end()) return;
      for (const BuiltEntry& e : it->second) visit(e.key, w.salvaged.rows[e.row].header);
    };
  }

 private:
  void Lose(TableWork& w, RepairLoss loss) {
    if (loss.kind == RepairLoss::Kind::kRow || loss.kind == RepairLoss::Kind::kDuplicateKey)
      ++w.report.rows_lost;
    if (loss.kind == RepairLoss::Kind::kLongValue) ++w.report.long_values_lost;
    report_.losses.push_back(std::move(loss));
  }

  // The catalog's indexes are built first: a catalog row they leave out
  // (its key cannot be made, or repeats an earlier one) takes the table it
  // names with it, which nothing in the copy would refer to otherwise.
  void LoseTablesWithoutCatalogRow() {
    BuildIndexes(*catalog_);
    std::set<RowPointer> kept;
    for (size_t i = 0; i < catalog_->salvaged.rows.size(); ++i)
      if (!catalog_->dropped[i]) kept.insert(catalog_->salvaged.rows[i].header);
    for (TableWork& w : work_) {
      if (w.def == nullptr || kept.count(w.object->row)) continue;
      w.def = nullptr;
      w.report.catalog_row_lost = true;
      Location at;
      at.table = w.object->name;
      at.page = w.object->table_page();
      Lose(w, RepairLoss{RepairLoss::Kind::kTable, at,
                         "the catalog row naming the table is lost, and the table with it, all its "
                         "rows included"});
    }
  }

  TableWork* Find(const std::string& name) {
    for (TableWork& w : work_)
      if (w.def != nullptr && Lower(w.object->name) == Lower(name)) return &w;
    return nullptr;
  }

  // When catalog rows were lost, the definitions of the tables they named
  // are found, nameless, among the pages: each is a table lost.
  void ReportUnlistedDefinitions() {
    bool catalog_lost = false;
    for (const RepairLoss& l : report_.losses)
      catalog_lost = catalog_lost || l.where.table == "MSysObjects";
    if (!catalog_lost) return;
    std::set<uint32_t> known;
    for (const TableWork& w : work_) {
      known.insert(w.object->table_page());
      if (w.def != nullptr) known.insert(w.def->pages.begin(), w.def->pages.end());
    }
    for (uint32_t p : scan_.table_definitions) {
      if (known.count(p)) continue;
      report_.losses.push_back(RepairLoss{
          RepairLoss::Kind::kTable, Location::Page(p),
          "a table definition that no catalog row names (or a part of one): the table's name "
          "and rows are lost"});
    }
  }

  // The catalog rows of lost tables go with them, and so do the
  // relationships that name a table or query the catalog no longer has.
  // Without the catalog's own table nothing is written at all.
  void DropCatalogEntriesOf() {
    std::set<RowPointer> catalog_rows = unwritten_catalog_rows_;
    for (const TableWork& w : work_)
      if (w.def == nullptr) catalog_rows.insert(w.object->row);
    for (TableWork& w : work_)
      if (w.def != nullptr && w.object->table_page() == kCatalogPage) catalog_ = &w;
    if (catalog_ == nullptr) return;
    for (size_t i = 0; i < catalog_->salvaged.rows.size(); ++i) {
      const RowPointer at = catalog_->salvaged.rows[i].header;
      if (!catalog_rows.count(at)) continue;
      catalog_->dropped[i] = true;
      if (unwritten_catalog_rows_.count(at))
        Lose(*catalog_,
             RepairLoss{RepairLoss::Kind::kRow, catalog_->def->where().WithRow(at.page, at.row),
                        "a second catalog row names the same table"});
    }
    LoseTablesWithoutCatalogRow();
    for (size_t i = 0; i < catalog_->salvaged.rows.size(); ++i)
      if (catalog_->dropped[i]) catalog_rows.insert(catalog_->salvaged.rows[i].header);
    std::set<std::string> known;
    for (const CatalogObject& o : db_.objects())
      if (!catalog_rows.count(o.row)) known.insert(Lower(o.name));
    TableWork* relationships = Find("MSysRelationships");
    if (relationships == nullptr) return;
    const TableDef& def = *relationships->def;
    const ColumnDef* from = def.FindColumn("szObject");
    const ColumnDef* to = def.FindColumn("szReferencedObject");
    if (from == nullptr || to == nullptr) return;
    DecodedRow d;
    for (size_t i = 0; i < relationships->salvaged.rows.size(); ++i) {
      const SalvagedRow& r = relationships->salvaged.rows[i];
      const Location at = def.where().WithRow(r.header.page, r.header.row);
      DecodeRow(def, format_, r.bytes, at, d);
      for (const ColumnDef* c : {from, to}) {
        const auto pos = static_cast<size_t>(c - def.columns.data());
        const std::string name =
            Lower(DecodeValue(*c, format_, d.fields[pos], r.bytes, long_values_, at).text);
        if (relationships->dropped[i] || known.count(name)) continue;
        relationships->dropped[i] = true;
        Lose(*relationships,
             RepairLoss{RepairLoss::Kind::kRow, at, "the relationship names a table that is lost"});
      }
    }
  }

  // The keys of every index, from the rows; a row whose key cannot be made
  // (text the key tables do not cover) takes its entry from the source's
  // index where that reads, and is lost otherwise. A row that repeats the
  // key of an earlier row in a unique index, with no column NULL, is left
  // out and listed.
  void BuildIndexes(TableWork& w) {
    const TableDef& def = *w.def;
    DecodedRow d;
    for (const RealIndexDef& ri : def.real_indexes) {
      Location il = def.where();
      il.index = def.IndexName(ri);
      std::vector<MadeKey> made = MakeKeys(w, ri, il, d);
      std::stable_sort(made.begin(), made.end(),
                       [](const MadeKey& a, const MadeKey& b) { return a.key < b.key; });
      DropPrefixConflicts(w, il, made);
      if (ri.unique()) DropDuplicates(w, il, made);
      std::vector<BuiltEntry>& entries = w.entries[ri.number];
      for (MadeKey& m : made) entries.push_back({std::move(m.key), m.row});
    }
    // Rows left out for one index leave every index.
    for (auto& [number, entries] : w.entries) {
      std::erase_if(entries, [&](const BuiltEntry& e) { return w.dropped[e.row]; });
    }
    OrderRows(w);
  }

  struct MadeKey {
    std::vector<uint8_t> key;
    size_t row;
    bool has_null;
    bool from_source;  // taken from the source's index entry
  };

  // One key per row still kept, unsorted; rows whose key can be had from
  // neither their values nor the source's index are dropped here.
  std::vector<MadeKey> MakeKeys(TableWork& w, const RealIndexDef& ri, const Location& il,
                                DecodedRow& d) {
    const TableDef& def = *w.def;
    std::map<RowPointer, std::vector<uint8_t>> source_keys;
    bool source_read = false;
    std::vector<MadeKey> made;
    for (size_t i = 0; i < w.salvaged.rows.size(); ++i) {
      if (w.dropped[i]) continue;
      const SalvagedRow& r = w.salvaged.rows[i];
      const Location at = il.WithRow(r.header.page, r.header.row);
      DecodeRow(def, format_, r.bytes, at, d);
      std::optional<RowKey> key = KeyOfRow(def, format_, ri, r.bytes, d, long_values_, at);
      const bool from_source = !key;
      if (from_source) {
        if (!source_read) source_keys = SourceKeys(ri, il);
        source_read = true;
        auto it = source_keys.find(r.header);
        if (it == source_keys.end()) {
          w.dropped[i] = true;
          Lose(w, RepairLoss{RepairLoss::Kind::kRow, at,
                             "the row's key in the index cannot be made from its values, "
                             "and the index entry that held it cannot be read"});
          continue;
        }
        // Whether a column is NULL is the row's to say, not the key's.
        RowKey taken{it->second, 0};
        for (const IndexColumn& ic : ri.columns) {
          const ColumnDef* c = def.ColumnByNumber(ic.column_number);
          const auto pos = static_cast<size_t>(c - def.columns.data());
          if (!c->boolean() && d.fields[pos].is_null) ++taken.null_columns;
        }
        key = std::move(taken);
      }
      if (ri.ignore_nulls() && key->null_columns == ri.columns.size()) continue;
      made.push_back({std::move(key->key), i, key->null_columns > 0, from_source});
    }
    return made;
  }

  // Keys end where their columns say, so no key begins another. One taken
  // from a damaged index may: it is not a key of the row's values, and the
  // row is lost. (A key that begins a later one begins every key between
  // them, so neighbours are compared until none is left out.) `made` is
  // sorted by key.
  void DropPrefixConflicts(TableWork& w, const Location& il, std::vector<MadeKey>& made) {
    for (bool again = true; again;) {
      again = false;
      for (size_t k = 1; k < made.size(); ++k) {
        const std::vector<uint8_t>& a = made[k - 1].key;
        const std::vector<uint8_t>& b = made[k].key;
        // Sorted, a key that begins another comes right before it.
        if (a.size() >= b.size() || !std::equal(a.begin(), a.end(), b.begin())) continue;
        for (const size_t j : {k - 1, k}) {
          const MadeKey& m = made[j];
          if (!m.from_source || w.dropped[m.row]) continue;
          const SalvagedRow& r = w.salvaged.rows[m.row];
          w.dropped[m.row] = true;
          Lose(w, RepairLoss{RepairLoss::Kind::kRow, il.WithRow(r.header.page, r.header.row),
                             "the row's key in the index cannot be made from its values, "
                             "and the index entry that held it is malformed"});
          again = true;
        }
      }
      std::erase_if(made, [&](const MadeKey& m) { return w.dropped[m.row]; });
    }
  }

  // In a unique index, a row that repeats the key before it is dropped;
  // `made` is sorted by key.
  void DropDuplicates(TableWork& w, const Location& il, const std::vector<MadeKey>& made) {
    for (size_t k = 1; k < made.size(); ++k) {
      // Jet lets a unique index repeat a key in which a column is NULL.
      if (made[k].key != made[k - 1].key || made[k].has_null) continue;
      const SalvagedRow& r = w.salvaged.rows[made[k].row];
      w.dropped[made[k].row] = true;
      Lose(w, RepairLoss{RepairLoss::Kind::kDuplicateKey, il.WithRow(r.header.page, r.header.row),
                         "the row repeats the key of an earlier row in the unique index"});
    }
  }

  // Rows are written in primary-key order, as compaction writes them;
  // without a primary key, in the order they were found.
  void OrderRows(TableWork& w) {
    const TableDef& def = *w.def;
    std::vector<bool> placed(w.salvaged.rows.size(), false);
    for (const LogicalIndexDef& li : def.logical_indexes) {
      if (!li.primary_key() || !w.order.empty()) continue;
      for (const BuiltEntry& e : w.entries[def.real_indexes[li.real_index].number]) {
        if (placed[e.row]) continue;
        placed[e.row] = true;
        w.order.push_back(e.row);
      }
    }
    for (size_t i = 0; i < placed.size(); ++i)
      if (!placed[i] && !w.dropped[i]) w.order.push_back(i);
  }

  // The leaf entries of the source's index that can be read, by row.
  std::map<RowPointer, std::vector<uint8_t>> SourceKeys(const RealIndexDef& ri,
                                                        const Location& where) {
    std::map<RowPointer, std::vector<uint8_t>> keys;
    IndexWalkVisitor v;
    v.on_leaf_entry = [&](const IndexEntry& e) {
      keys.emplace(e.row, std::vector<uint8_t>(e.key.begin(), e.key.end()));
    };
    try {
      WalkIndex(file_, ri, where, v);
    } catch (const Error& e) {
      if (e.number() != kDamaged) throw;
    }
    return keys;
  }

  Database& db_;
  PageFile& file_;
  const Format& format_;
  const DataPageScan& scan_;
  RepairReport& report_;
  LongValueReader long_values_;
  std::vector<TableWork> work_;             // catalog order; never resized after Salvage
  std::map<uint32_t, TableWork*> by_page_;  // the tables written, by first page
  std::set<RowPointer> unwritten_catalog_rows_;
  TableWork* catalog_ = nullptr;  // the catalog's own table, once its indexes are built
};

// The repaired copy at `path` must check with no finding at all, hold
// every row the repair wrote and a definition for each of the `definitions`
// it wrote (a linked table's too, which the check does not look for);
// anything else is a fault of ours, since only rows that were read and
// checked went in.
void CheckRepairedCopy(Env& env, const std::string& path, const RepairReport& report,
                       size_t definitions) {
  CheckReport check;
  size_t definitions_found = 0;
  try {
    OpenOptions reopen;
    reopen.env = &env;
    std::unique_ptr<Database> copy = Database::Open(path, reopen);
    check = CheckDatabase(*copy);
    definitions_found = copy->Definitions().size();
  } catch (const Error& e) {
    throw Error(e.number() == kDamaged ? kInternalError : e.number(),
                "The repair was abandoned because the repaired copy could not be read back (" +
                    e.description() + "); nothing was written.");
  }
  if (check.errors + check.warnings != 0 || check.stats.rows != report.rows_recovered ||
      definitions_found != definitions) {
    const std::string first = !check.findings.empty()            ? check.findings.front().Text()
                              : definitions_found != definitions ? "a table definition is missing"
                                                                 : "the rows differ in number";
    throw Error(kInternalError,
                "The repair was abandoned because the repaired copy did not pass "
                "the structure check (" +
                    first + "); nothing was written.");
  }
}

}  // namespace

RepairReport RepairDatabase(const std::string& source, const std::string& destination,
                            const RepairOptions& options) {
  Env& env = options.env != nullptr ? *options.env : *DefaultEnv();
  CheckCopyPaths(env, source, destination);
  OpenOptions open;
  open.env = &env;
  open.lock = LockMode::kExclusive;
  // The catalog's own rows are salvaged like any table's, so that a damaged
  // catalog page loses only the tables it listed.
  DataPageScan scan;
  open.catalog_rows = [&](PageFile& file, const TableDef& catalog,
                          const std::function<void(const TableRow&)>& visit) {
    scan = FindDataPages(file);
    for (const SalvagedRow& r : SalvageRows(file, catalog, scan).rows)
      visit(TableRow{r.header, r.data, r.bytes, nullptr});
  };
  std::unique_ptr<Database> src;
  try {
    src = Database::Open(source, open);
  } catch (const Error& e) {
    if (e.number() != kDamaged) throw;
    throw Error(kDamaged, "Nothing of the database '" + source +
                              "' could be recovered: its catalog cannot be read (" +
                              DamageFinding(e) + "). Nothing was written.");
  }
  if (src->header().has_password && !options.password) {
    throw Error(kPasswordRequired,
                "The database '" + source +
                    "' is protected by a password; give its password to repair it.");
  }
  if (options.password && src->header().has_password &&
      *options.password != src->StoredPassword()) {
    throw Error(kPasswordRequired,
                "The password is not that of the database '" + source + "'; nothing was written.");
  }
  RepairReport report;
  report.pages_before = src->page_count();
  Repairer repairer(*src, scan, report);
  const std::vector<CatalogTable> tables = repairer.Salvage();

  TemporaryFile temporary(env, destination, ".repairing");
  CompactResult result;
  {
    OutputFile out(&env, temporary.path(), src->header());
    RemoveStaleSortScratch(env, temporary.path());
    try {
      WriteSources sources;
      sources.rows = repairer.Rows();
      sources.definition = repairer.Definitions();
      result =
          WriteCompacted(src->file(), tables, out, CompactOptions{}, repairer.Entries(), sources);
      out.Commit();
    } catch (const Error& e) {
      out.Discard();
      // The writer is handed only rows that have been read and checked:
      // damage it meets is a fault of ours.
      if (e.number() != kDamaged) throw;
      throw Error(kInternalError, "The repair could not write the rows it recovered (" +
                                      e.description() + "); nothing was written.");
    } catch (...) {
      out.Discard();
      throw;
    }
  }
  CheckRepairedCopy(env, temporary.path(), report, tables.size());
  // The destination was free when the repair began; it still must be.
  if (env.FileExists(destination)) {
    throw Error(kDatabaseExists, "The database '" + destination + "' already exists.");
  }
  env.RenameReplace(temporary.path(), destination);
  temporary.Keep();
  try {
    env.SyncDirectory(FolderOf(destination));
  } catch (const Error& e) {
    throw Error(e.number(),
                "The database was repaired into '" + destination +
                    "', but its folder entry could not be flushed to the disk: " + e.description());
  }
  report.pages_after = result.pages;
  return report;
}

}  // namespace tessmark::jet
