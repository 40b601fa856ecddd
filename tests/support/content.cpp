#include "tests/support/content.h"

#include <algorithm>
#include <vector>

#include "check/checker.h"
#include "db/database.h"
#include "db/value.h"
#include "tessmark/error.h"

namespace tessmark::testing {

std::string DatabaseContent(const std::string& path, jet::Env* env) {
  jet::OpenOptions options;
  options.env = env;
  std::unique_ptr<jet::Database> db = jet::Database::Open(path, options);
  std::vector<std::string> tables;
  for (const jet::CatalogObject* t : db->Tables(false)) {
    const jet::TableDef& def = db->Table(*t);
    std::string text = "table " + t->name + "\n";
    std::vector<std::string> rows;
    db->ForEachRow(def, [&](const jet::TableRow& row) {
      std::string line;
      for (const jet::Value& v : db->DecodeValues(def, row)) line += jet::FormatValue(v) + "\t";
      rows.push_back(line);
    });
    std::sort(rows.begin(), rows.end());
    for (const std::string& r : rows) text += r + "\n";
    tables.push_back(text);
  }
  std::sort(tables.begin(), tables.end());
  std::string all;
  for (const std::string& t : tables) all += t;
  return all;
}

std::string CheckClean(const std::string& path, jet::Env* env) {
  try {
    jet::OpenOptions options;
    options.env = env;
    std::unique_ptr<jet::Database> db = jet::Database::Open(path, options);
    const jet::CheckReport report = jet::CheckDatabase(*db);
    if (report.errors == 0) return "";
    std::string text;
    for (size_t i = 0; i < report.findings.size() && i < 3; ++i)
      text += report.findings[i].Text() + "; ";
    return text;
  } catch (const jet::Error& e) {
    return "error " + std::to_string(e.number()) + ": " + e.description();
  }
}

}  // namespace tessmark::testing
