// The per-user runtime folder: which folder serves, what makes one unsafe,
// and the fallback under the home folder when the shared one under /tmp is
// taken by someone else.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "runtime_folder.h"
#include "temp_dir.h"

namespace plombix {
namespace {

bool isPrivateFolder(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 0777) == 0700;
}

// Something already at `path` that makes it unusable, as another user (or
// an accident) could leave it. Empty `why`: nothing there. `make` returns
// false where the row cannot be set up (giving a folder away needs root).
struct Spoiler {
  const char* label;
  std::function<bool(const std::string& path, const std::string& elsewhere)> make;
  const char* why;  // the reason given for refusing it
};

bool folderWithMode(const std::string& p, mode_t mode) {
  return ::mkdir(p.c_str(), 0700) == 0 && ::chmod(p.c_str(), mode) == 0;
}

const Spoiler kSpoilers[] = {
    {"missing", [](const std::string&, const std::string&) { return true; }, ""},
    {"a symbolic link to a good folder",
     [](const std::string& p, const std::string& elsewhere) {
       return ::mkdir(elsewhere.c_str(), 0700) == 0 && ::symlink(elsewhere.c_str(), p.c_str()) == 0;
     },
     "a symbolic link"},
    {"writable by others", [](const std::string& p, const std::string&) { return folderWithMode(p, 0777); },
     "writable by other users"},
    {"writable by the group",
     [](const std::string& p, const std::string&) { return folderWithMode(p, 0770); },
     "writable by other users"},
    {"a file", [](const std::string& p, const std::string&) { return bool(std::ofstream(p) << "x"); },
     "not a directory"},
    {"owned by another user",
     [](const std::string& p, const std::string&) {
       return ::geteuid() == 0 && ::mkdir(p.c_str(), 0700) == 0 && ::chown(p.c_str(), 4242, 4242) == 0;
     },
     "owned by another user"},
};

// Sets environment variables for one test and puts the old values back.
class EnvGuard {
 public:
  explicit EnvGuard(std::initializer_list<const char*> names) {
    for (const char* n : names) {
      const char* v = std::getenv(n);
      saved_.emplace_back(n, v ? std::optional<std::string>(v) : std::nullopt);
    }
  }
  ~EnvGuard() {
    for (const auto& [n, v] : saved_) v ? (void)::setenv(n, v->c_str(), 1) : (void)::unsetenv(n);
  }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST(RuntimeFolder, SpoiledFoldersAreRefusedAndTheSharedOneFallsBackToTheHomeFolder) {
  // For each way a folder can be spoiled: EnsurePrivateFolder refuses it,
  // and when it is the shared folder under /tmp, the private one under the
  // home folder serves instead (made with its parents), with a notice that
  // names it and why the shared one was not used.
  for (const Spoiler& s : kSpoilers) {
    SCOPED_TRACE(s.label);
    const testing::TempDir dir;
    const std::string path = dir.file("run");
    RuntimeFolderPlaces places;
    places.shared = dir.file("vora-plombix-1000");
    places.home = dir.file("home/.local/state/vora-plombix");
    if (!s.make(path, dir.file("elsewhere")) || !s.make(places.shared, dir.file("elsewhere2"))) continue;
    const FolderResult ensured = EnsurePrivateFolder(path + "/");
    const FolderResult resolved = ResolveRuntimeFolder(places);
    ASSERT_TRUE(resolved.ok()) << resolved.error;
    if (*s.why == '\0') {
      EXPECT_EQ(ensured.path, path);  // without the trailing slash
      EXPECT_TRUE(isPrivateFolder(path));
      EXPECT_TRUE(EnsurePrivateFolder(path).ok());  // existing and fine
      EXPECT_EQ(resolved.path, places.shared);
      EXPECT_EQ(resolved.notice, "");
    } else {
      EXPECT_FALSE(ensured.ok());
      EXPECT_EQ(ensured.error, "Cannot use the runtime folder '" + path + "': " + s.why);
      EXPECT_EQ(resolved.path, places.home);
      EXPECT_TRUE(isPrivateFolder(places.home) && isPrivateFolder(dir.file("home/.local/state")));
      EXPECT_EQ(resolved.notice,
                "using the runtime folder '" + places.home + "' ('" + places.shared + "': " + s.why + ")");
    }
  }
  EXPECT_FALSE(EnsurePrivateFolder("").ok());
  EXPECT_FALSE(EnsurePrivateFolder("/nonexistent-parent/x/y").ok());
}

TEST(RuntimeFolder, OrderOfPlacesAndNothingUsable) {
  const testing::TempDir dir;
  RuntimeFolderPlaces places;
  places.xdgRuntime = dir.file("xdg");
  places.shared = dir.file("shared");
  places.home = dir.file("home");
  EXPECT_EQ(ResolveRuntimeFolder(places).path, places.xdgRuntime);
  places.forced = dir.file("forced");
  EXPECT_EQ(ResolveRuntimeFolder(places).path, places.forced);
  // A forced folder that cannot be used fails: nothing else is tried.
  std::ofstream(dir.file("file")) << "x";
  places.forced = dir.file("file");
  EXPECT_EQ(ResolveRuntimeFolder(places).error,
            "Cannot use the runtime folder '" + places.forced + "': not a directory");
  // Every place spoiled: the error names each with its reason.
  places = RuntimeFolderPlaces{};
  places.shared = dir.file("file");
  places.home = dir.file("file/vora-plombix");
  const FolderResult none = ResolveRuntimeFolder(places);
  EXPECT_FALSE(none.ok());
  EXPECT_EQ(none.error, "Cannot use any runtime folder: '" + places.shared + "': not a directory; '" +
                            places.home + "': Not a directory");
}

TEST(RuntimeFolder, PlacesComeFromTheEnvironment) {
  struct Row {
    const char* label;
    const char* forced;
    const char* xdgRuntime;  // "TEMP": an existing folder
    const char* stateHome;
    const char* home;
    std::string expectForced, expectXdg, expectHome;
  };
  const testing::TempDir dir;
  const EnvGuard env({"PLOMBIX_RUNTIME_DIR", "XDG_RUNTIME_DIR", "XDG_STATE_HOME", "HOME"});
  const Row rows[] = {
      {"all set", "/f", "TEMP", "/state", "/h", "/f", dir.path() + "/vora-plombix", "/state/vora-plombix"},
      {"runtime folder missing", "", "/nonexistent-xdg", "", "/h/", "", "", "/h/.local/state/vora-plombix"},
      {"relative state home ignored", "", "", "state", "/h", "", "", "/h/.local/state/vora-plombix"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    ::setenv("PLOMBIX_RUNTIME_DIR", row.forced, 1);
    const bool temp = std::string(row.xdgRuntime) == "TEMP";
    ::setenv("XDG_RUNTIME_DIR", temp ? dir.path().c_str() : row.xdgRuntime, 1);
    ::setenv("XDG_STATE_HOME", row.stateHome, 1);
    ::setenv("HOME", row.home, 1);
    const RuntimeFolderPlaces p = RuntimeFolderPlacesFromEnvironment();
    EXPECT_EQ(p.forced, row.expectForced);
    EXPECT_EQ(p.xdgRuntime, row.expectXdg);
    EXPECT_EQ(p.shared, "/tmp/vora-plombix-" + std::to_string(::geteuid()));
    EXPECT_EQ(p.home, row.expectHome);
  }
}

}  // namespace
}  // namespace plombix
