// CompactInPlace: compaction of a database under its own name, through a
// temporary file beside it, so that at every moment the name holds either
// the original or the verified compacted copy.
#include "format/env.h"
#include "tessmark/compact.h"
#include "tessmark/error.h"

namespace tessmark::jet {
namespace {

constexpr char kSuffix[] = ".compacting";

}  // namespace

void CompactInPlace(const std::string& named, const CompactOptions& options) {
  Env& env = options.env != nullptr ? *options.env : *DefaultEnv();
  if (named.empty() || named.find('\0') != std::string::npos)
    throw Error(kInvalidPath, "'" + named + "' is not a valid path to a database file.");
  // Through a symbolic link the database itself is compacted beside it and
  // replaced; replacing the link would leave the database as it was and the
  // link pointing at a copy.
  const std::string path = env.ResolveLinks(named);
  if (!env.FileExists(path))
    throw Error(kFileNotFound, "The file '" + path + "' could not be found.");
  {
    // Refuses a database in use (3045) before anything else is done.
    const auto hold = env.OpenForRead(path, LockMode::kExclusive);
    // Temporary files of compactions of `path` that were killed or lost
    // their power half way (each may be as large as the database). The
    // database is held exclusively, so no other compaction of it is writing
    // or verifying its copy.
    RemoveTemporaries(env, path, kSuffix);
  }
  // On failure the original stays and the copy goes with the guard.
  TemporaryFile temporary(env, path, kSuffix);
  // Puts the verified copy in the original's place.
  auto replace = [&] {
    env.RenameReplace(temporary.path(), path);
    temporary.Keep();
  };
  // Where the system allows, the copy replaces the original while the
  // compaction still holds it, so no writer can open the original between
  // the verification and the replacement and then lose what it wrote.
  CompactOptions held = options;
  bool replaced = false;
  if (env.CanReplaceOpenFiles()) {
    held.on_verified = [&] {
      if (options.on_verified) options.on_verified();
      replace();
      replaced = true;
    };
  }
  // CompactDatabase leaves no temporary file behind when it fails.
  CompactDatabase(path, temporary.path(), held);
  if (!replaced) replace();
  // The rename is done: the compacted copy is under the name. A failure to
  // flush the folder entry is still reported, with what it means.
  try {
    env.SyncDirectory(FolderOf(path));
  } catch (const Error& e) {
    throw Error(e.number(),
                "The database was compacted, but the change of its folder entry "
                "could not be flushed to the disk: " +
                    e.description());
  }
}

}  // namespace tessmark::jet
