// Files left half-written by a process that died while saving.
//
// The player saves a file by writing a new one beside it and renaming it
// over the old one; the new file's name is the target's name, a marker and
// the writer's process id ("last.plq.new-4711-1", "recent-1.txt.tmp-4711-0").
// A process killed between the two leaves that file behind for good. Such a
// file is stale once its writer is gone: no other process writes under that
// id. This process's own id counts as gone too when called where this
// process has no save under way (a restarted copy may get an old id back).
#pragma once

#include <string>

namespace plombix {

// Removes the files in the folder of `target` named
// <name of target><marker><process id>-<anything> whose process no longer
// runs (or is this one). Returns how many were removed. Anything else in
// the folder, and files of processes that run, are left alone.
int RemoveStaleWrites(const std::string& target, const std::string& marker);

}  // namespace plombix
