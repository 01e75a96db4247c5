// The per-user runtime folder (which serves, what makes one unsafe, the
// fallback) and the clean-up of the files a killed save left.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>

#include "runtime_folder.h"
#include "stale_files.h"
#include "temp_dir.h"

namespace plombix {
namespace {

bool IsPrivateFolder(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 0777) == 0700;
}

// Each way a folder can be spoiled (by another user or an accident): it is
// refused, and as the shared folder under /tmp it makes the private one under
// the home folder serve (with its parents), with a notice naming it and why.
TEST(RuntimeFolder, SpoiledFoldersAreRefusedAndTheSharedOneFallsBackToTheHomeFolder) {
  const auto mode = [](mode_t m) {  // a folder with mode m
    return [m](const std::string& p) { return ::mkdir(p.c_str(), 0700) == 0 && ::chmod(p.c_str(), m) == 0; };
  };
  // make false: cannot be set up here; why "": nothing there, usable.
  const struct { std::function<bool(const std::string&)> make; const char* why; } rows[] = {
      {[](const std::string&) { return true; }, ""},
      {[](const std::string& p) {
         return ::mkdir((p + "-real").c_str(), 0700) == 0 && ::symlink((p + "-real").c_str(), p.c_str()) == 0;
       },
       "a symbolic link"},
      {mode(0777), "writable by other users"},
      {mode(0770), "writable by other users"},
      {[](const std::string& p) { return bool(std::ofstream(p) << "x"); }, "not a directory"},
      {[](const std::string& p) {  // giving a folder away needs root
         return ::geteuid() == 0 && ::mkdir(p.c_str(), 0700) == 0 && ::chown(p.c_str(), 4242, 4242) == 0;
       },
       "owned by another user"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    const testing::TempDir dir;
    const std::string path = dir.file("run");
    RuntimeFolderPlaces places;
    places.shared = dir.file("vora-plombix-1000");
    places.home = dir.file("home/.local/state/vora-plombix");
    if (!r.make(path) || !r.make(places.shared)) continue;
    const FolderResult ensured = EnsurePrivateFolder(path + "/");
    const FolderResult resolved = ResolveRuntimeFolder(places);
    const bool usable = *r.why == '\0';
    EXPECT_EQ(ensured.path, usable ? path : "");  // without the trailing slash
    EXPECT_EQ(ensured.error, usable ? "" : "Cannot use the runtime folder '" + path + "': " + r.why);
    EXPECT_EQ(resolved.path, usable ? places.shared : places.home);
    EXPECT_TRUE(IsPrivateFolder(resolved.path) && (usable || IsPrivateFolder(dir.file("home/.local/state"))));
    EXPECT_EQ(resolved.notice,
              usable ? "" : "using the runtime folder '" + places.home + "' ('" + places.shared + "': " + r.why + ")");
  }
}

TEST(RuntimeFolder, OrderOfPlacesFromTheEnvironmentAndNothingUsable) {
  const testing::TempDir dir;
  RuntimeFolderPlaces places{{}, dir.file("xdg"), dir.file("shared"), dir.file("home")};
  EXPECT_EQ(ResolveRuntimeFolder(places).path, places.xdgRuntime);
  places.forced = dir.file("forced");
  EXPECT_EQ(ResolveRuntimeFolder(places).path, places.forced);  // before all others
  // A forced folder that cannot be used fails: nothing else is tried.
  std::ofstream(dir.file("file")) << "x";
  places.forced = dir.file("file");
  EXPECT_EQ(ResolveRuntimeFolder(places).error,
            "Cannot use the runtime folder '" + places.forced + "': not a directory");
  // Every place spoiled: the error names each with its reason.
  const FolderResult none = ResolveRuntimeFolder({{}, {}, dir.file("file"), dir.file("file/vora-plombix")});
  EXPECT_EQ(none.error, "Cannot use any runtime folder: '" + dir.file("file") + "': not a directory; '" +
                            dir.file("file/vora-plombix") + "': Not a directory");
  // From the environment: a missing XDG_RUNTIME_DIR and a relative
  // XDG_STATE_HOME are passed over.
  ::setenv("PLOMBIX_RUNTIME_DIR", "", 1);
  ::setenv("XDG_RUNTIME_DIR", "/nonexistent-xdg", 1);
  ::setenv("XDG_STATE_HOME", "state", 1);
  ::setenv("HOME", "/h/", 1);
  const RuntimeFolderPlaces p = RuntimeFolderPlacesFromEnvironment();
  EXPECT_EQ(p.forced + "|" + p.xdgRuntime + "|" + p.home, "||/h/.local/state/vora-plombix");
  EXPECT_EQ(p.shared, "/tmp/vora-plombix-" + std::to_string(::geteuid()));
  ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  ::setenv("XDG_STATE_HOME", "/state", 1);
  EXPECT_EQ(RuntimeFolderPlacesFromEnvironment().xdgRuntime + "|" + RuntimeFolderPlacesFromEnvironment().home,
            dir.path() + "/vora-plombix|/state/vora-plombix");
}

// Only files named <target><marker><id>-... of a process that has ended
// (or of this one) go.
TEST(StaleWrites, OnlyThoseOfEndedProcessesAreRemoved) {
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  const std::string gone = std::to_string(ended), self = std::to_string(::getpid());
  const testing::TempDir dir;
  for (const std::string& name :
       std::vector<std::string>{"last.plq", "last.plq.new-" + gone + "-1", "last.plq.new-" + self + "-7",
                                "last.plq.new-1-1", "last.plq.new-" + gone, "last.plq.new-x-1",
                                "last.plq.new--5-1", "last2.plq.new-" + gone + "-1"})
    std::ofstream(dir.file(name)) << "x";
  EXPECT_EQ(RemoveStaleWrites(dir.file("last.plq"), ".new-"), 2);
  std::vector<std::string> kept = {"last.plq",         "last.plq.new--5-1", "last.plq.new-1-1",
                                   "last.plq.new-" + gone, "last.plq.new-x-1", "last2.plq.new-" + gone + "-1"};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(dir.entries(), kept);
  EXPECT_EQ(RemoveStaleWrites(dir.file("none/last.plq"), ".new-"), 0);
}

}  // namespace
}  // namespace plombix
