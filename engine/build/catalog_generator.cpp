#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "build/database_builder.h"
#include "format/bytes_write.h"
#include "format/random.h"
#include "tessmark/error.h"
#include "tessmark/generate.h"

namespace tessmark::jet {
namespace {

constexpr std::array<const char*, 24> kWords = {
    "Project", "Report",  "Invoice", "Budget",    "Archive", "Photos",   "Music",  "Backup",
    "Summary", "Plan",    "Draft",   "Final",     "Notes",   "Contract", "Design", "Sales",
    "Quarter", "Meeting", "Résumé",  "Übersicht", "Données", "Scans",    "Tax",    "Family"};
constexpr std::array<const char*, 10> kExtensions = {"DOCX", "XLSX", "PDF", "JPG", "TXT",
                                                     "MP3",  "ZIP",  "PST", "PNG", "MDB"};
constexpr std::array<const char*, 6> kRoots = {
    "C:\\Users\\", "D:\\Data\\", "C:\\Projects\\", "E:\\Shares\\", "C:\\Documents and Settings\\",
    "F:\\Media\\"};
constexpr std::array<const char*, 12> kLetters = {"Alpha",  "Bravo",  "Delta", "Echo",
                                                  "Kilo",   "Lima",   "Oscar", "Papa",
                                                  "Quebec", "Sierra", "Xray",  "Zulu"};

ColumnDecl Col(const char* name, ColumnType type, uint16_t length = 0) {
  ColumnDecl c;
  c.name = name;
  c.type = type;
  c.length = length;
  return c;
}
ColumnDecl AutoId(const char* name) {
  ColumnDecl c = Col(name, ColumnType::kLong);
  c.autonumber = true;
  return c;
}
IndexDecl Key(const char* name, std::vector<IndexColumnDecl> cols, bool primary = false,
              bool unique = false) {
  IndexDecl ix;
  ix.name = name;
  ix.columns = std::move(cols);
  ix.primary = primary;
  ix.unique = unique;
  return ix;
}
TableDecl Table(const char* name, std::vector<ColumnDecl> cols, std::vector<IndexDecl> idx) {
  TableDecl t;
  t.name = name;
  t.columns = std::move(cols);
  t.indexes = std::move(idx);
  return t;
}

class Generator {
 public:
  Generator(const std::string& path, const CatalogOptions& o)
      : o_(o), rng_(o.seed * 0x2545F4914F6CDD1Dull + 17), builder_(path, Options(o)) {}

  CatalogResult Run() {
    if (o_.kind == CatalogKind::kServer) {
      Server();
    } else {
      Client();
    }
    CatalogResult r;
    r.bulk_rows = bulk_rows_;
    r.stats = builder_.Finish();
    return r;
  }

 private:
  static BuildOptions Options(const CatalogOptions& o) {
    if (o.deleted < 0 || o.deleted > 0.95)
      throw Error(kInvalidArgument, "The deleted share must lie between 0% and 95%.");
    if (o.moved < 0 || o.moved > 0.5)
      throw Error(kInvalidArgument, "The moved share must lie between 0% and 50%.");
    if (o.stale < 0 || o.stale > 0.5)
      throw Error(kInvalidArgument, "The stale share must lie between 0% and 50%.");
    const uint64_t limit =
        o.version == JetVersion::kJet3 ? (1ull << 30) : (2ull << 30) - (64ull << 20);
    if (o.target_bytes > limit)
      throw Error(kInvalidArgument, "The size asked for exceeds what the format allows.");
    BuildOptions b;
    b.version = o.version;
    b.password = o.password;
    b.env = o.env;
    b.creation_date = 43831.5 + static_cast<double>(o.seed % 1000);
    if (o.encrypt) {
      Random r(o.seed ^ 0x5EED);
      b.database_key = static_cast<uint32_t>(r.Next()) | 1u;
    }
    // A catalog in use has had its rows inserted one by one, which splits
    // the leaves of indexes whose keys do not arrive in order.
    if (o.deleted > 0 || o.moved > 0) b.leaf_split_seed = Random(o.seed ^ 0x1EAF).Next() | 1u;
    return b;
  }

  // Expired backups go in runs of neighbouring rows (half the deleted
  // share, freeing whole pages), the rest one by one; stale rows, when
  // asked for, are drawn first.
  RowFate Fate() {
    if (o_.stale > 0 && rng_.Chance(o_.stale)) return RowFate::kStale;
    if (deleted_run_ > 0) {
      --deleted_run_;
      return RowFate::kDeleted;
    }
    constexpr double kMeanRun = 60;
    const double in_runs = o_.deleted / 2;
    if (rng_.Chance(in_runs / (kMeanRun * (1 - in_runs)))) {
      deleted_run_ = rng_.Below(2 * static_cast<uint64_t>(kMeanRun));
      return RowFate::kDeleted;
    }
    if (rng_.Chance(in_runs / (1 - in_runs))) return RowFate::kDeleted;
    if (rng_.Unit() < o_.moved) return RowFate::kMoved;
    return RowFate::kLive;
  }

  // Some long values of live rows were rewritten: the earlier version was
  // written first and deleted, its bytes left free on its page.
  void Rewritten(const char* column, const Value& value, RowFate fate) {
    if (fate == RowFate::kDeleted || value.is_null() || o_.deleted == 0) return;
    if (rng_.Chance(0.2))
      builder_.AddReleasedLongValue(column, static_cast<size_t>(100 + rng_.Below(3000)));
  }

  double Date(double from, double span) {
    return std::floor((from + rng_.Unit() * span) * 86400.0) / 86400.0;
  }

  std::string Word() { return rng_.Pick(kWords); }

  std::string PathText(uint64_t n) {
    std::string p = rng_.Pick(kRoots);
    p += "user" + std::to_string(rng_.Below(200)) + "\\";
    const uint64_t depth = 1 + rng_.Below(4);
    for (uint64_t i = 0; i < depth; ++i) p += Word() + " " + std::to_string(rng_.Below(30)) + "\\";
    p += Word() + "_" + std::to_string(n % 9973);
    return p;
  }

  Value Memo(double p_present) {
    if (!rng_.Chance(p_present)) return NullValue();
    const double u = rng_.Unit();
    size_t len;
    if (u < 0.6) {
      len = static_cast<size_t>(10 + rng_.Below(50));  // inline
    } else if (u < 0.97) {
      len = static_cast<size_t>(100 + rng_.Below(1500));  // one LVAL row
    } else {
      len = static_cast<size_t>(3000 + rng_.Below(6000));  // a chain
    }
    std::string s;
    while (s.size() < len) s += Word() + (rng_.Chance(0.1) ? ".\r\n" : " ");
    s.resize(len);
    // Never cut a multi-byte character in half.
    while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80) s.pop_back();
    if (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0xC0) s.pop_back();
    return TextValue(s);
  }

  Value Guid() {
    std::array<uint8_t, 16> g{};
    const uint64_t a = rng_.Next(), b = rng_.Next();
    PutU64(g, 0, a);
    PutU64(g, 8, b);
    return GuidValue(g);
  }

  // Rows of the bulk table: the count asked for, or as many as it takes to
  // reach the size asked for.
  bool MoreBulkRows() {
    if (o_.target_bytes == 0) return bulk_rows_ < o_.rows;
    if ((bulk_rows_ & 1023) != 0) return true;
    const uint64_t size = builder_.EstimatedSize();
    if (o_.progress) o_.progress(bulk_rows_, size);
    return size < o_.target_bytes - std::min<uint64_t>(o_.target_bytes / 50, 1u << 20);
  }

  uint64_t PlannedBulkRows() const {
    if (o_.target_bytes == 0) return std::max<uint64_t>(o_.rows, 1);
    // Deleted rows took their space before they were deleted.
    const double per_row = 250.0;
    return std::max<uint64_t>(
        1, static_cast<uint64_t>(static_cast<double>(o_.target_bytes) / per_row));
  }

  // The server's catalog: its tables and relationships, then the rows of
  // each table, the files last (the bulk of the file).
  void Server() {
    ServerSchema();
    const uint64_t files = PlannedBulkRows();
    const uint64_t sessions = std::max<uint64_t>(1, files / 400);
    const uint64_t jobs = std::max<uint64_t>(1, sessions / 25);
    const uint64_t clients = std::max<uint64_t>(1, jobs / 3);
    const uint64_t media = std::max<uint64_t>(1, sessions / 10);

    ServerClientsMediaJobs(clients, media, jobs);
    ServerSessions(sessions, jobs, media);
    ServerFiles(sessions);
  }

  void ServerSchema() {
    using T = ColumnType;
    builder_.AddTable(
        Table("Clients",
              {AutoId("ClientId"), Col("Name", T::kText, 64), Col("Address", T::kText, 128),
               Col("Platform", T::kText, 32), Col("LastSeen", T::kDateTime),
               Col("Enabled", T::kBoolean), Col("ClientGuid", T::kGuid)},
              {Key("PrimaryKey", {{"ClientId"}}, true), Key("ClientName", {{"Name"}}, false, true),
               Key("ClientGuid", {{"ClientGuid"}}, false, true)}));
    builder_.AddTable(Table(
        "Media",
        {AutoId("MediaId"), Col("Label", T::kText, 32), Col("Kind", T::kByte),
         Col("CapacityMB", T::kDouble), Col("Created", T::kDateTime), Col("Retired", T::kBoolean)},
        {Key("PrimaryKey", {{"MediaId"}}, true), Key("MediaLabel", {{"Label"}})}));
    builder_.AddTable(
        Table("Jobs",
              {AutoId("JobId"), Col("ClientId", T::kLong), Col("Name", T::kText, 64),
               Col("Schedule", T::kText, 64), Col("Enabled", T::kBoolean),
               Col("Priority", T::kInteger), Col("Created", T::kDateTime)},
              {Key("PrimaryKey", {{"JobId"}}, true), Key("JobClient", {{"ClientId"}})}));
    builder_.AddTable(
        Table("Sessions",
              {AutoId("SessionId"), Col("JobId", T::kLong), Col("MediaId", T::kLong),
               Col("Started", T::kDateTime), Col("Ended", T::kDateTime), Col("Status", T::kInteger),
               Col("BytesWritten", T::kCurrency), Col("FileCount", T::kLong), Col("Log", T::kMemo)},
              {Key("PrimaryKey", {{"SessionId"}}, true), Key("SessionJob", {{"JobId"}}),
               Key("SessionMedia", {{"MediaId"}}), Key("SessionStarted", {{"Started", false}})}));
    builder_.AddTable(
        Table("Files",
              {AutoId("FileId"), Col("SessionId", T::kLong), Col("Path", T::kText, 255),
               Col("Extension", T::kText, 8), Col("Size", T::kDouble),
               Col("Modified", T::kDateTime), Col("Attributes", T::kInteger),
               Col("Flags", T::kByte), Col("Checksum", T::kBinary, 16), Col("Notes", T::kMemo)},
              {Key("PrimaryKey", {{"FileId"}}, true), Key("FileSession", {{"SessionId"}}),
               Key("FileModified", {{"Modified", false}}),
               Key("FileExtSize", {{"Extension"}, {"Size", false}})}));
    // Which media a session was written to: a link table of fixed-length
    // columns only, whose rows carry no variable part.
    builder_.AddTable(Table("SessionMedia",
                            {Col("SessionId", T::kLong), Col("Sequence", T::kByte),
                             Col("MediaId", T::kLong), Col("Verified", T::kBoolean)},
                            {Key("PrimaryKey", {{"SessionId"}, {"Sequence"}}, true),
                             Key("SessionMediaMedia", {{"MediaId"}})}));
    builder_.AddRelationship({"ClientsJobs", "Jobs", "ClientId", "Clients", "ClientId"});
    builder_.AddRelationship({"JobsSessions", "Sessions", "JobId", "Jobs", "JobId"});
    builder_.AddRelationship({"MediaSessions", "Sessions", "MediaId", "Media", "MediaId"});
    builder_.AddRelationship({"SessionsFiles", "Files", "SessionId", "Sessions", "SessionId"});
    builder_.AddRelationship(
        {"SessionsSessionMedia", "SessionMedia", "SessionId", "Sessions", "SessionId"});
  }

  void ServerClientsMediaJobs(uint64_t clients, uint64_t media, uint64_t jobs) {
    builder_.BeginTable("Clients");
    for (uint64_t i = 0; i < clients; ++i) {
      builder_.Insert(
          {NullValue(),
           TextValue("Host " + std::string(rng_.Pick(kLetters)) + " " + std::to_string(i)),
           TextValue(std::to_string(10 + rng_.Below(240)) + "." + std::to_string(rng_.Below(256)) +
                     ".0." + std::to_string(rng_.Below(256))),
           TextValue(rng_.Chance(0.7) ? "Windows" : "Linux"), DateValue(Date(44000, 900)),
           BoolValue(rng_.Chance(0.9)), rng_.Chance(0.9) ? Guid() : NullValue()},
          i == 0 ? RowFate::kLive : Fate());
    }
    builder_.EndTable();
    builder_.BeginTable("Media");
    for (uint64_t i = 0; i < media; ++i) {
      builder_.Insert({NullValue(), TextValue("Tape " + std::to_string(1000 + i)),
                       IntValue(static_cast<int64_t>(rng_.Below(4))),
                       DoubleValue(static_cast<double>(400000 + rng_.Below(1200000))),
                       DateValue(Date(43500, 1200)), BoolValue(rng_.Chance(0.2))},
                      i == 0 ? RowFate::kLive : Fate());
    }
    builder_.EndTable();
    builder_.BeginTable("Jobs");
    for (uint64_t i = 0; i < jobs; ++i) {
      builder_.Insert(
          {NullValue(), IntValue(static_cast<int64_t>(1 + rng_.Below(clients))),
           TextValue(std::string(rng_.Pick(kLetters)) + " nightly " + std::to_string(i)),
           TextValue(rng_.Chance(0.5) ? "Daily 22:00" : "Weekly Sat 03:00"),
           BoolValue(rng_.Chance(0.85)), IntValue(static_cast<int64_t>(rng_.Below(10))),
           DateValue(Date(43600, 800))},
          i == 0 ? RowFate::kLive : Fate());
    }
    builder_.EndTable();
  }

  // Sessions, and the media each was written to.
  void ServerSessions(uint64_t sessions, uint64_t jobs, uint64_t media) {
    builder_.BeginTable("Sessions");
    for (uint64_t i = 0; i < sessions; ++i) {
      const double start = Date(44000, 1000);
      const RowFate fate = i == 0 ? RowFate::kLive : Fate();
      Value log = Memo(0.5);
      Rewritten("Log", log, fate);
      builder_.Insert({NullValue(), IntValue(static_cast<int64_t>(1 + rng_.Below(jobs))),
                       IntValue(static_cast<int64_t>(1 + rng_.Below(media))), DateValue(start),
                       rng_.Chance(0.95) ? DateValue(start + rng_.Unit() / 6) : NullValue(),
                       IntValue(static_cast<int64_t>(rng_.Below(5))),
                       CurrencyValue(static_cast<int64_t>(rng_.Below(1ull << 40)) * 10000),
                       IntValue(static_cast<int64_t>(rng_.Below(100000))), std::move(log)},
                      fate);
    }
    builder_.EndTable();
    builder_.BeginTable("SessionMedia");
    for (uint64_t i = 0; i < sessions; ++i) {
      const uint64_t spans = 1 + rng_.Below(3);
      for (uint64_t k = 1; k <= spans; ++k) {
        builder_.Insert(
            {IntValue(static_cast<int64_t>(i + 1)), IntValue(static_cast<int64_t>(k)),
             IntValue(static_cast<int64_t>(1 + rng_.Below(media))), BoolValue(rng_.Chance(0.7))},
            i == 0 ? RowFate::kLive : Fate());
      }
    }
    builder_.EndTable();
  }

  void ServerFiles(uint64_t sessions) {
    builder_.BeginTable("Files");
    while (MoreBulkRows()) {
      const RowFate fate = Fate();
      std::vector<uint8_t> sum(16);
      const uint64_t a = rng_.Next(), b = rng_.Next();
      PutU64(sum, 0, a);
      PutU64(sum, 8, b);
      const double size = std::floor(std::pow(10.0, 2 + rng_.Unit() * 7));
      Value notes = Memo(0.15);
      if (fate == RowFate::kDeleted && !notes.is_null() && rng_.Chance(0.05)) {
        // An update or delete that left its long value behind.
        builder_.AddOrphanedLongValue("Notes", notes);
      }
      Rewritten("Notes", notes, fate);
      builder_.Insert(
          {NullValue(), IntValue(static_cast<int64_t>(1 + rng_.Below(sessions))),
           TextValue(PathText(bulk_rows_)), TextValue(rng_.Pick(kExtensions)), DoubleValue(size),
           DateValue(Date(40000, 5000)), IntValue(static_cast<int64_t>(rng_.Below(64))),
           IntValue(static_cast<int64_t>(rng_.Below(8))), BinaryValue(sum), std::move(notes)},
          fate);
      ++bulk_rows_;
    }
    builder_.EndTable();
  }

  void Client() {
    using T = ColumnType;
    builder_.AddTable(Table("Settings", {Col("Name", T::kText, 64), Col("Value", T::kText, 255)},
                            {Key("PrimaryKey", {{"Name"}}, true)}));
    builder_.AddTable(Table(
        "Selections",
        {AutoId("SelectionId"), Col("Path", T::kText, 255), Col("Include", T::kBoolean),
         Col("Recursive", T::kBoolean), Col("Filter", T::kText, 64), Col("Created", T::kDateTime)},
        {Key("PrimaryKey", {{"SelectionId"}}, true)}));
    builder_.AddTable(
        Table("History",
              {AutoId("HistoryId"), Col("Started", T::kDateTime), Col("Ended", T::kDateTime),
               Col("Status", T::kInteger), Col("FileCount", T::kLong), Col("Bytes", T::kDouble),
               Col("Message", T::kMemo)},
              {Key("PrimaryKey", {{"HistoryId"}}, true), Key("HistoryStarted", {{"Started"}})}));
    builder_.AddTable(
        Table("HistoryFiles",
              {AutoId("EntryId"), Col("HistoryId", T::kLong), Col("Path", T::kText, 255),
               Col("Size", T::kDouble), Col("Modified", T::kDateTime), Col("Result", T::kByte)},
              {Key("PrimaryKey", {{"EntryId"}}, true), Key("EntryHistory", {{"HistoryId"}})}));
    // Which selections each run covered: a link table of two Longs.
    builder_.AddTable(Table("HistorySelections",
                            {Col("HistoryId", T::kLong), Col("SelectionId", T::kLong)},
                            {Key("PrimaryKey", {{"HistoryId"}, {"SelectionId"}}, true),
                             Key("SelectionRuns", {{"SelectionId"}})}));
    builder_.AddRelationship(
        {"HistoryHistoryFiles", "HistoryFiles", "HistoryId", "History", "HistoryId"});
    builder_.AddRelationship(
        {"HistoryHistorySelections", "HistorySelections", "HistoryId", "History", "HistoryId"});

    const uint64_t entries = PlannedBulkRows();
    const uint64_t runs = std::max<uint64_t>(1, entries / 300);
    const std::array<std::pair<const char*, std::string>, 6> settings = {{
        {"Server", "backup01"},
        {"Port", "9105"},
        {"RetentionDays", std::to_string(7 + rng_.Below(90))},
        {"Compression", "On"},
        {"LastRun", "2024-03-01 22:00"},
        {"ClientName", "workstation " + std::to_string(rng_.Below(500))},
    }};
    builder_.BeginTable("Settings");
    for (const auto& [name, value] : settings) builder_.Insert({TextValue(name), TextValue(value)});
    builder_.EndTable();
    builder_.BeginTable("Selections");
    const uint64_t selections = 5 + rng_.Below(20);
    for (uint64_t i = 0; i < selections; ++i) {
      builder_.Insert(
          {NullValue(), TextValue(PathText(i)), BoolValue(rng_.Chance(0.8)),
           BoolValue(rng_.Chance(0.9)), rng_.Chance(0.3) ? TextValue("*.tmp;*.bak") : NullValue(),
           DateValue(Date(43000, 2000))},
          Fate());
    }
    builder_.EndTable();
    builder_.BeginTable("History");
    for (uint64_t i = 0; i < runs; ++i) {
      const double start = Date(44000, 1000);
      const RowFate fate = i == 0 ? RowFate::kLive : Fate();
      Value message = Memo(0.6);
      Rewritten("Message", message, fate);
      builder_.Insert({NullValue(), DateValue(start), DateValue(start + rng_.Unit() / 8),
                       IntValue(static_cast<int64_t>(rng_.Below(4))),
                       IntValue(static_cast<int64_t>(rng_.Below(5000))),
                       DoubleValue(std::floor(rng_.Unit() * 1e10)), std::move(message)},
                      fate);
    }
    builder_.EndTable();
    builder_.BeginTable("HistorySelections");
    for (uint64_t i = 0; i < runs; ++i) {
      for (uint64_t k = 0; k < selections; ++k) {
        if (!rng_.Chance(0.6)) continue;
        builder_.Insert(
            {IntValue(static_cast<int64_t>(i + 1)), IntValue(static_cast<int64_t>(k + 1))},
            i == 0 ? RowFate::kLive : Fate());
      }
    }
    builder_.EndTable();
    builder_.BeginTable("HistoryFiles");
    while (MoreBulkRows()) {
      builder_.Insert({NullValue(), IntValue(static_cast<int64_t>(1 + rng_.Below(runs))),
                       TextValue(PathText(bulk_rows_)),
                       DoubleValue(std::floor(std::pow(10.0, 2 + rng_.Unit() * 6))),
                       DateValue(Date(41000, 4000)), IntValue(static_cast<int64_t>(rng_.Below(3)))},
                      Fate());
      ++bulk_rows_;
    }
    builder_.EndTable();
  }

  CatalogOptions o_;
  Random rng_;
  DatabaseBuilder builder_;
  uint64_t bulk_rows_ = 0;
  uint64_t deleted_run_ = 0;
};

}  // namespace

CatalogResult GenerateCatalog(const std::string& path, const CatalogOptions& options) {
  Generator g(path, options);
  return g.Run();
}

}  // namespace tessmark::jet
