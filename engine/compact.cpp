// CompactDatabase: the checks before anything is written, the exclusive
// hold on the source, the write, the flush and the verification of the
// result, and the clean-up when any of it fails.
#include "engine/compact.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "engine/checker.h"
#include "engine/compact_verify.h"
#include "engine/compactor.h"
#include "engine/database.h"
#include "engine/env.h"
#include "engine/error.h"
#include "engine/index_page.h"
#include "engine/output_file.h"
#include "engine/page_image.h"
#include "engine/rc4.h"

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
    const uint8_t key[4] = {static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8),
                            static_cast<uint8_t>(k >> 16), static_cast<uint8_t>(k >> 24)};
    Rc4Apply(key, page);
  }
  PageFile& src_;
  PageImage page1_;
};

// The source file as a second reader sees it: the same open file, read
// with positioned reads, which any number of threads may issue at once.
class SharedFileView final : public RandomAccessFile {
 public:
  explicit SharedFileView(const RandomAccessFile& file) : file_(file) {}
  size_t Read(uint64_t offset, size_t n, uint8_t* out) const override {
    return file_.Read(offset, n, out);
  }
  size_t ReadScattered(uint64_t offset,
                       std::span<const std::span<uint8_t>> buffers) const override {
    return file_.ReadScattered(offset, buffers);
  }
  uint64_t Size() const override { return file_.Size(); }

 private:
  const RandomAccessFile& file_;
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

// The refusal of a damaged source: the first of what is wrong with it,
// then what the operator can do next. The one description both the command
// line and the window show.
Error RefusedAsDamaged(const std::string& source, const std::string& findings) {
  return Error(kDamaged, "The database '" + source +
                             "' is damaged and was not compacted: " + findings +
                             ". The file is unchanged; the command tessmark-cli check \"" + source +
                             "\" lists every finding, and tessmark-cli repair can recover the "
                             "database into a new file.");
}

void Report(const CompactOptions& options, const char* phase, uint32_t done, uint32_t total) {
  if (options.progress) options.progress(CompactProgress{phase, done, total});
}

void CheckDestination(Env& env, const std::string& destination) {
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

// Rethrows what stopped the writer. A broken invariant, or any exception
// that is not an Error, is a fault of ours: it is reported as an internal
// error, never as one of the disk, with what it means for the files.
[[noreturn]] void ThrowWriteFailure(const std::exception_ptr& failure) {
  const std::string untouched =
      " The compaction was abandoned; the original database is untouched.";
  try {
    std::rethrow_exception(failure);
  } catch (const Error& e) {
    if (e.number() != kInternalError) throw;
    throw Error(kInternalError, e.description() + untouched);
  } catch (const std::bad_alloc& e) {
    throw Error(kIoError, std::string("Compaction failed: ") + e.what());
  } catch (const std::exception& e) {
    throw Error(kInternalError, InternalError(e.what()).description() + untouched);
  }
}

// Hands the compactor an index's leaf entries in tree order.
void WalkLeaves(PageFile& file, const TableDef& table, const RealIndexDef& index,
                const IndexEntryVisitor& visit) {
  Location where = table.where();
  IndexWalkVisitor v;
  v.on_leaf_entry = [&](const IndexEntry& e) { visit(e.key, e.row); };
  WalkIndex(file, index, where, v);
}

}  // namespace

void CompactDatabase(const std::string& source, const std::string& destination,
                     const CompactOptions& options) {
  Env* env = options.env != nullptr ? options.env : DefaultEnv();
  if (source.empty() || source.find('\0') != std::string::npos)
    throw Error(kInvalidPath, "'" + source + "' is not a valid path to a database file.");
  if (!env->FileExists(source))
    throw Error(kFileNotFound, "The file '" + source + "' could not be found.");
  CheckDestination(*env, destination);

  OpenOptions open;
  open.env = env;
  open.lock = LockMode::kExclusive;
  std::unique_ptr<Database> src;
  try {
    src = Database::Open(source, open);
  } catch (const Error& e) {
    // A catalog that cannot be read is the whole of what a check can say.
    if (e.number() != kDamaged) throw;
    throw RefusedAsDamaged(source, "error: " + DamageFinding(e.description()));
  }
  if (src->header().has_password) {
    throw Error(kPasswordRequired,
                "The database '" + source +
                    "' is protected by a password; remove the password before compacting it.");
  }
  std::vector<CatalogTable> tables;
  for (const CatalogObject* t : src->Tables()) tables.push_back({t->name, t->table_page()});

  std::unique_ptr<OutputFile> created;
  try {
    created = std::make_unique<OutputFile>(env, destination, src->header());
  } catch (const Error& e) {
    // The folder vanished after it was checked.
    if (e.number() != kFileNotFound) throw;
    throw Error(kInvalidPath,
                "'" + destination + "' is not a valid path: its folder does not exist.");
  }
  OutputFile& out = *created;

  // The source is checked on this thread while another writes the copy,
  // reading the source through a page cache of its own. A damaged source
  // is refused and the copy thrown away: copying only what can be read
  // would silently drop the rest. The copy is kept only if both succeed.
  std::mutex progress_lock;
  CompactOptions write_options = options;
  if (options.progress) {
    write_options.progress = [&](const CompactProgress& p) {
      const std::lock_guard<std::mutex> hold(progress_lock);
      options.progress(p);
    };
  }
  Report(options, "checking", 0, 1);
  TableDigests source_digests(*src, false);
  // The writer waits once the check has found damage, and goes on only if
  // the damage is of a kind compaction repairs: it never runs ahead into a
  // source already known to be refused.
  WriteGate gate;
  out.set_gate(&gate);
  CompactResult result;
  std::exception_ptr write_failure;
  std::thread writer([&] {
    try {
      Report(write_options, "writing", 0, static_cast<uint32_t>(tables.size()));
      PageFile reader(std::make_unique<SharedFileView>(src->file().file()));
      result = WriteCompacted(reader, tables, out, write_options, WalkLeaves);
      out.Flush();
    } catch (...) {
      write_failure = std::current_exception();
    }
  });

  // The check reads every row; the digests the verification compares are
  // taken on the way.
  std::exception_ptr check_failure;
  bool source_sound = false;
  try {
    CheckOptions check;
    check.on_row = source_digests.RowHook();
    check.on_data_error = [&] { gate.Hold(); };
    const CheckReport source_check = CheckDatabase(*src, check);
    source_sound = source_check.sound();
    if (!source_sound && !DamageConfinedToGlobalMap(*src)) {
      throw RefusedAsDamaged(source, FirstErrors(source_check));
    }
  } catch (...) {
    check_failure = std::current_exception();
  }
  if (check_failure) {
    gate.Close();
  } else {
    gate.Open();
  }
  writer.join();
  if (check_failure || write_failure) {
    out.Discard();
    if (check_failure) std::rethrow_exception(check_failure);
    ThrowWriteFailure(write_failure);
  }

  // The copy goes to disk while it is verified, where the file system
  // lets it be read before it is closed; success waits for both.
  std::exception_ptr commit_failure;
  auto commit = [&] {
    try {
      out.Commit();
    } catch (const Error&) {
      commit_failure = std::current_exception();
    } catch (const std::exception& e) {
      commit_failure =
          std::make_exception_ptr(Error(kIoError, std::string("Compaction failed: ") + e.what()));
    }
  };
  // A flush still running owns `commit_failure` until it is joined.
  struct Committer {
    std::thread thread;
    void Join() {
      if (thread.joinable()) thread.join();
    }
    ~Committer() { Join(); }
  } committer;
  if (out.ShareForReading()) {
    committer.thread = std::thread(commit);
  } else {
    commit();
    if (commit_failure) {
      out.Discard();
      std::rethrow_exception(commit_failure);
    }
  }

  Report(options, "verifying", 0, 1);
  try {
    OpenOptions reopen;
    reopen.env = env;
    std::unique_ptr<Database> copy = Database::Open(destination, reopen);
    // The copy's rows are digested on a second thread, through a reader of
    // its own, while this one checks the copy's structure.
    Database copy_rows(
        std::make_unique<PageFile>(std::make_unique<SharedFileView>(copy->file().file())));
    TableDigests copy_digests(copy_rows, true);
    std::exception_ptr digest_failure, copy_check_failure;
    std::thread digester([&] {
      try {
        copy_digests.AddEveryRow();
      } catch (...) {
        digest_failure = std::current_exception();
      }
    });
    CheckReport copy_check;
    try {
      copy_check = CheckDatabase(*copy);
    } catch (...) {
      copy_check_failure = std::current_exception();
    }
    digester.join();
    if (copy_check_failure) std::rethrow_exception(copy_check_failure);
    if (copy_check.errors + copy_check.warnings != 0) {
      throw Error(kDamaged,
                  "Compaction was abandoned because the compacted copy did not pass "
                  "the structure check (" +
                      FirstErrors(copy_check) + "); the original database is untouched.");
    }
    if (digest_failure) std::rethrow_exception(digest_failure);
    // Digests from a check that found damage (confined to the global map)
    // may lack rows; those tables are read again.
    VerifySameContent(*src, *copy, result.table_ids, options.reset_autonumber,
                      source_sound ? &source_digests : nullptr, &copy_digests);
    committer.Join();
    if (commit_failure) std::rethrow_exception(commit_failure);
  } catch (const Error& e) {
    committer.Join();
    // A copy that could not be flushed to disk fails as the write does.
    if (commit_failure) {
      out.Discard();
      std::rethrow_exception(commit_failure);
    }
    try {
      env->Remove(destination);
    } catch (...) {
    }
    if (e.number() == kDamaged && e.description().rfind("Compaction was abandoned", 0) == 0) throw;
    // A failure of the file system while reading the copy back is not
    // damage: it keeps its own number so the operator sees what happened.
    if (e.number() == kIoError || e.number() == kDiskFull || e.number() == kFileInUse ||
        e.number() == kFileNotFound) {
      throw Error(e.number(),
                  "Compaction was abandoned because the compacted copy could not be read "
                  "back for verification (" +
                      e.description() + "); the original database is untouched.");
    }
    throw Error(kDamaged,
                "Compaction was abandoned because the compacted copy failed "
                "verification (" +
                    e.description() + "); the original database is untouched.");
  }

  if (options.stats != nullptr) {
    CompactStats& s = *options.stats;
    s.pages_before = src->page_count();
    s.bytes_before = src->file().file_size();
    s.pages_after = result.pages;
    s.bytes_after = uint64_t{result.pages} * src->header().page_size;
    s.tables = result.tables;
    s.rows = result.rows;
  }
  if (options.on_verified) options.on_verified();
}

}  // namespace tessmark::jet
