// Verification of a compacted database against its source: same tables
// (with table Ids mapped), same columns and indexes, and the same rows with
// every value byte for byte, long values read in full.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/database.h"
#include "db/row.h"
#include "tessmark/error.h"

namespace tessmark::jet {

// The rows of a table as a multiset, in constant memory: the row count and
// sums of independent 64-bit hashes of every row's canonical bytes. Rows
// may come in any order; two tables whose rows differ agree on all four
// numbers only by a chance of about 2^-128 (sums are taken modulo 2^64).
struct RowDigests {
  uint64_t count = 0, sum_a = 0, sum_b = 0, sum_mixed = 0;

  void Add(std::pair<uint64_t, uint64_t> h);
  friend bool operator==(const RowDigests&, const RowDigests&) = default;
};

// What a table's rows need decoded to be digested: the positions (in
// TableDef::columns) of its memo and OLE columns, of its columns that hold
// table Ids, and of both.
struct RowPlan {
  std::vector<size_t> long_values, ids, both;
};

// Row digests of the tables of one database, gathered while something else
// reads the rows (a structure check, through CheckOptions::on_row), so that
// the verification need not read them again. Tables holding table Ids are
// left out when `with_id_tables` is false: their digests depend on the Ids
// the compaction assigns, which are not known before it runs.
class TableDigests {
 public:
  TableDigests(Database& db, bool with_id_tables) : db_(db), with_id_tables_(with_id_tables) {}

  // One live row of `table`, as decoded into `d`.
  void AddRow(const TableDef& table, Bytes row, const DecodedRow& d, const Location& where);
  // A hook for CheckOptions::on_row that adds every row the check reads.
  auto RowHook() {
    return [this](const TableDef& t, Bytes row, const DecodedRow& d, const Location& at) {
      AddRow(t, row, d, at);
    };
  }
  // Reads every live row of every table of the database and adds it.
  void AddEveryRow();
  // The digests of the table whose definition is on `table_page`, or null
  // when none of its rows came by.
  const RowDigests* Find(uint32_t table_page) const;

 private:
  struct Table {
    bool skipped = false;
    RowPlan plan;
    RowDigests digests;
  };
  // The entry of `table`, made when its first row comes by.
  Table& Entry(const TableDef& table);

  Database& db_;
  bool with_id_tables_;
  std::unordered_map<uint32_t, Table> tables_;  // entries stay where they are made
  Table* last_ = nullptr;                       // the entry of the table last looked up
  uint32_t last_page_ = 0;
  std::vector<uint8_t> scratch_;
};

// The end of a compaction that gave up on its copy, in the words the
// operator reads: "Compaction was abandoned because the compacted copy
// <why>; the original database is untouched."
class CopyRejected : public Error {
 public:
  CopyRejected(int32_t number, const std::string& why);
};

// Throws CopyRejected 3049 describing the first difference found. Digests gathered
// beforehand are used where given; the rows of any other table are read.
void VerifySameContent(Database& source, Database& copy,
                       const std::map<uint32_t, uint32_t>& table_ids, bool autonumber_reset,
                       const TableDigests* source_digests = nullptr,
                       const TableDigests* copy_digests = nullptr);

}  // namespace tessmark::jet
