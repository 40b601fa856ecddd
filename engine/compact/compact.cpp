// CompactDatabase: the checks before anything is written, the exclusive
// hold on the source, then the phases (check and write, flush, verify,
// commit) and the clean-up when any of them fails.
#include "tessmark/compact.h"

#include <algorithm>
#include <array>
#include <exception>
#include <memory>
#include <new>
#include <optional>

#include "check/checker.h"
#include "compact/compact_phases.h"
#include "compact/compact_verify.h"
#include "compact/compactor.h"
#include "db/database.h"
#include "db/entry_sorter.h"
#include "db/index_page.h"
#include "format/env.h"
#include "format/output_file.h"
#include "format/page_image.h"
#include "format/rc4.h"
#include "tessmark/error.h"

namespace tessmark::jet {
namespace {

// The source file as it would read with a sound global usage map on page 1
// (every page in use), served from the open source's pages; encrypted
// pages are sealed again so the view reads like a file.
class RebuiltGlobalMapView final : public RandomAccessFile {
 public:
  RebuiltGlobalMapView(PageFile& source, PageImage page1) : src_(source), page1_(std::move(page1)) {
    const uint32_t k = source.header().database_key ^ 1u;
    if (source.header().encrypted()) Seal(page1_, k);
  }
  size_t Read(uint64_t offset, size_t n, uint8_t* out) const override {
    const uint32_t ps = src_.page_size();
    size_t done = 0;
    while (done < n && offset + done < Size()) {
      const auto page = static_cast<uint32_t>((offset + done) / ps);
      const auto in_page = static_cast<size_t>((offset + done) % ps);
      const size_t take = std::min<size_t>(n - done, ps - in_page);
      std::vector<uint8_t> data;
      if (page == 1) {
        data = page1_;
      } else {
        data = src_.Get(page)->data;
        if (page != 0 && src_.header().encrypted()) Seal(data, src_.header().database_key ^ page);
      }
      std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(in_page), take, out + done);
      done += take;
    }
    return done;
  }
  uint64_t Size() const override { return uint64_t{src_.page_count()} * src_.page_size(); }

 private:
  static void Seal(std::vector<uint8_t>& page, uint32_t k) {
    std::array<uint8_t, 4> key{};
    PutU32(key, 0, k);
    Rc4Apply(key, page);
  }
  PageFile& src_;
  PageImage page1_;
};

// Whether all the damage a check found lies in the global usage map: the
// same check on the file with a rebuilt map finds no error. That map holds
// no data and compaction writes it afresh, so such damage is repaired, not
// a reason to refuse.
bool DamageConfinedToGlobalMap(Database& source) {
  PageImage page1;
  const PageGeometry geometry = PageGeometry::For(source.header().version);
  if (!GlobalMapPage(geometry, source.page_count(), page1)) return false;
  Database view(std::make_unique<PageFile>(
      std::make_unique<RebuiltGlobalMapView>(source.file(), std::move(page1))));
  return CheckDatabase(view).sound();
}

// The first findings of a check, for a message.
std::string FirstErrors(const CheckReport& report) {
  std::string text;
  size_t shown = 0;
  for (const Finding& f : report.findings) {
    if (shown == 3) break;
    if (!text.empty()) text += "; ";
    text += f.Text();
    ++shown;
  }
  const uint64_t total = report.errors + report.warnings;
  if (total > shown) text += " (and " + std::to_string(total - shown) + " more)";
  return text;
}

// The refusal of a damaged source: the first of what is wrong with it, and
// that nothing was changed. What the operator can do next depends on the
// front end, which adds it.
Error RefusedAsDamaged(const std::string& source, const std::string& findings) {
  return Error(kDamaged, "The database '" + source + "' is damaged and was not compacted: " +
                             findings + ". The file is unchanged.");
}

// Ends a compaction that `failure` stopped: the copy is removed and the
// error reaches the caller with what it means for the files. A broken
// invariant, or any exception that is not an Error, is a fault of ours: it
// is reported as an internal error, never as one of the disk.
[[noreturn]] void Abandon(OutputFile& out, const PhaseFailure& failure) {
  out.Discard();
  const std::string untouched =
      " The compaction was abandoned; the original database is untouched.";
  try {
    std::rethrow_exception(failure.error);
  } catch (const CopyRejected&) {
    throw;
  } catch (const Error& e) {
    if (e.number() == kInternalError) throw Error(kInternalError, e.description() + untouched);
    if (failure.phase != Phase::kVerify) throw;
    // A failure of the file system while reading the copy back is not
    // damage: it keeps its own number so the operator sees what happened.
    if (e.number() == kIoError || e.number() == kDiskFull || e.number() == kFileInUse ||
        e.number() == kFileNotFound) {
      throw CopyRejected(e.number(),
                         "could not be read back for verification (" + e.description() + ")");
    }
    throw CopyRejected(kDamaged, "failed verification (" + e.description() + ")");
  } catch (...) {
    // Not an Error: memory ran out, or a fault of ours; while the copy was
    // being flushed, a failure of the system beneath it.
    const Error e = ErrorOf(std::current_exception());
    if (e.number() == kInternalError && failure.phase == Phase::kFlush)
      throw Error(kIoError, "Compaction failed: " + e.description() + untouched);
    throw Error(e.number(), e.description() + untouched);
  }
}

// Waits for the phases still running and abandons the compaction if any
// of them failed.
void Settle(PhaseRunner& runner, OutputFile& out) {
  runner.Join();
  if (const std::optional<PhaseFailure> failure = runner.Failure()) Abandon(out, *failure);
}

// Checks the source, digesting its rows for the verification, while the
// copy is written. The writer waits once damage is found, and goes on only
// if the damage is of a kind compaction repairs: it never runs ahead into
// a source already known to be refused. A damaged source is refused:
// copying only what can be read would silently drop the rest. Returns
// whether the check found the source sound.
bool CheckSource(Database& src, const std::string& source, TableDigests& digests, WriteGate& gate) {
  try {
    CheckOptions check;
    check.on_row = digests.RowHook();
    check.on_data_error = [&] { gate.Hold(); };
    const CheckReport report = CheckDatabase(src, check);
    if (!report.sound() && !DamageConfinedToGlobalMap(src))
      throw RefusedAsDamaged(source, FirstErrors(report));
    gate.Open();
    return report.sound();
  } catch (...) {
    gate.Close();
    throw;
  }
}

// Reads the copy back: its structure is checked while its rows are
// digested on a second thread, through a reader of its own, and then its
// content is compared with the source's. `source_digests`, when given,
// hold the source's rows; the rows of any other table are read again.
void VerifyCopy(Database& src, const std::string& destination, Env* env,
                const CompactResult& result, bool reset_autonumber,
                const TableDigests* source_digests,
                const std::function<void(uint64_t, uint64_t)>& pages) {
  OpenOptions reopen;
  reopen.env = env;
  std::unique_ptr<Database> copy = Database::Open(destination, reopen);
  Database copy_rows(copy->file().Beside());
  TableDigests copy_digests(copy_rows, true);
  RunBoth(
      [&] {
        CheckOptions check;
        check.progress = pages;
        check.parallel_indexes = true;
        const CheckReport copy_check = CheckDatabase(*copy, check);
        if (copy_check.errors + copy_check.warnings != 0) {
          throw CopyRejected(kDamaged,
                             "did not pass the structure check (" + FirstErrors(copy_check) + ")");
        }
      },
      [&] { copy_digests.AddEveryRow(); });
  VerifySameContent(src, *copy, result.table_ids, reset_autonumber, source_digests, &copy_digests);
}

// Passes a check's page counts on as progress of `phase`; empty when nobody
// listens.
std::function<void(uint64_t, uint64_t)> PageProgress(
    const std::function<void(const CompactProgress&)>& report, Phase phase) {
  if (!report) return {};
  return [report, phase](uint64_t done, uint64_t total) {
    report(CompactProgress{phase, 0, 1, done, total});
  };
}

// Hands the compactor an index's leaf entries in tree order.
void WalkLeaves(PageFile& file, const TableDef& table, const RealIndexDef& index,
                const IndexEntryVisitor& visit) {
  Location where = table.where();
  IndexWalkVisitor v;
  v.on_leaf_entry = [&](const IndexEntry& e) { visit(e.key, e.row); };
  WalkIndex(file, index, where, v);
}

// Opens the source, held exclusively while the compaction runs; refuses a
// source whose catalog cannot be read, or one protected by a password that
// `password` does not match.
std::unique_ptr<Database> OpenSource(Env* env, const std::string& source,
                                     const std::optional<std::string>& password) {
  OpenOptions open;
  open.env = env;
  open.lock = LockMode::kExclusive;
  std::unique_ptr<Database> src;
  try {
    src = Database::Open(source, open);
  } catch (const Error& e) {
    // A catalog that cannot be read is the whole of what a check can say.
    if (e.number() != kDamaged) throw;
    throw RefusedAsDamaged(source, "error: " + DamageFinding(e));
  }
  if (src->header().has_password && !password) {
    throw Error(kPasswordRequired,
                "The database '" + source +
                    "' is protected by a password; give its password to compact it.");
  }
  if (password && src->header().has_password && *password != src->StoredPassword()) {
    throw Error(kPasswordRequired,
                "The password is not that of the database '" + source + "'; it was not compacted.");
  }
  return src;
}

// Creates the file the copy is written to.
std::unique_ptr<OutputFile> CreateCopy(Env* env, const std::string& destination,
                                       const DatabaseHeader& header) {
  try {
    return std::make_unique<OutputFile>(env, destination, header);
  } catch (const Error& e) {
    // The folder vanished after it was checked.
    if (e.number() != kFileNotFound) throw;
    throw Error(kInvalidPath,
                "'" + destination + "' is not a valid path: its folder does not exist.");
  }
}

}  // namespace

void CheckCopyPaths(Env& env, const std::string& source, const std::string& destination) {
  if (source.empty() || source.find('\0') != std::string::npos)
    throw Error(kInvalidPath, "'" + source + "' is not a valid path to a database file.");
  if (!env.FileExists(source))
    throw Error(kFileNotFound, "The file '" + source + "' could not be found.");
  if (destination.empty() || destination.find('\0') != std::string::npos ||
      destination.back() == '/' || destination.back() == '\\')
    throw Error(kInvalidPath, "'" + destination + "' is not a valid path to a database file.");
  if (!env.FileExists(FolderOf(destination))) {
    throw Error(kInvalidPath,
                "'" + destination + "' is not a valid path: its folder does not exist.");
  }
  if (env.FileExists(destination))
    throw Error(kDatabaseExists, "The database '" + destination + "' already exists.");
}

void CompactDatabase(const std::string& source, const std::string& destination,
                     const CompactOptions& options) {
  Env* env = options.env != nullptr ? options.env : DefaultEnv();
  CheckCopyPaths(*env, source, destination);
  const std::unique_ptr<Database> src = OpenSource(env, source, options.password);
  std::vector<CatalogTable> tables;
  for (const CatalogObject* t : src->Definitions()) tables.push_back({t->name, t->table_page()});
  const std::unique_ptr<OutputFile> created = CreateCopy(env, destination, src->header());
  OutputFile& out = *created;
  // Holding the new file, this process alone may sort beside it.
  RemoveStaleSortScratch(*env, destination);

  // What the phases share; the runner, declared last, has joined every
  // thread of theirs before any of it goes.
  TableDigests source_digests(*src, false);
  WriteGate gate;
  out.set_gate(&gate);
  CompactResult result;
  bool source_sound = false;
  PhaseRunner runner(options.progress);

  // The source is checked on this thread while another writes the copy,
  // reading the source through a page cache of its own; the copy is kept
  // only if both succeed.
  runner.Start(Phase::kWrite, static_cast<uint32_t>(tables.size()), [&] {
    CompactOptions write_options = options;
    write_options.progress = runner.Reporter();
    const std::unique_ptr<PageFile> reader = src->file().Beside();
    result = WriteCompacted(*reader, tables, out, write_options, WalkLeaves);
    out.Flush();
  });
  runner.Run(Phase::kCheck, 1, [&] {
    // The writer takes longer: its pages are the progress shown.
    source_sound = CheckSource(*src, source, source_digests, gate);
  });
  Settle(runner, out);

  // The copy goes to disk while it is verified, where the file system
  // lets it be read before it is closed; success waits for both.
  if (out.ShareForReading()) {
    runner.Start(Phase::kFlush, 1, [&] { out.Commit(); });
  } else {
    runner.Run(Phase::kFlush, 1, [&] { out.Commit(); });
    Settle(runner, out);
  }
  // Digests from a check that found damage (confined to the global map)
  // may lack rows; those tables are read again.
  runner.Run(Phase::kVerify, 1, [&] {
    VerifyCopy(*src, destination, env, result, options.reset_autonumber,
               source_sound ? &source_digests : nullptr,
               PageProgress(runner.Reporter(), Phase::kVerify));
  });
  Settle(runner, out);

  runner.Run(Phase::kCommit, 1, [&] {
    if (options.on_verified) options.on_verified();
  });
  Settle(runner, out);

  if (options.stats != nullptr) {
    CompactStats& s = *options.stats;
    s.pages_before = src->page_count();
    s.bytes_before = src->file().file_size();
    s.pages_after = result.pages;
    s.bytes_after = uint64_t{result.pages} * src->header().page_size;
    s.tables = result.tables;
    s.rows = result.rows;
    s.phases = runner.Times();
  }
}

}  // namespace tessmark::jet
