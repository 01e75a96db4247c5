// Units of the stand-in runtime: runtime folder checks, discovery entries,
// URL parsing, frame validation and PNG encoding.
#include <gtest/gtest.h>
#include <spng.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "discovery.h"
#include "frame_store.h"
#include "http_client.h"
#include "png_encode.h"
#include "runtime_folder.h"
#include "temp_dir.h"

using namespace plombix::standin;

namespace {

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

TEST(RuntimeFolder, CreatesAPrivateFolderAndRefusesUnsafeOnes) {
  const plombix::testing::TempDir dir;
  const std::string& root = dir.path();
  const FolderResult made = EnsurePrivateFolder(root + "/new/");
  ASSERT_TRUE(made.ok()) << made.error;
  EXPECT_EQ(made.path, root + "/new");
  struct stat st {};
  ASSERT_EQ(::stat(made.path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(EnsurePrivateFolder(made.path).ok());  // existing and fine

  ASSERT_EQ(::mkdir((root + "/open").c_str(), 0700), 0);
  ASSERT_EQ(::chmod((root + "/open").c_str(), 0777), 0);
  EXPECT_NE(EnsurePrivateFolder(root + "/open").error.find("writable by other users"), std::string::npos);
  ASSERT_EQ(::symlink(made.path.c_str(), (root + "/link").c_str()), 0);
  EXPECT_NE(EnsurePrivateFolder(root + "/link").error.find("not a directory"), std::string::npos);
  writeFile(root + "/file", "x");
  EXPECT_FALSE(EnsurePrivateFolder(root + "/file").ok());
  EXPECT_FALSE(EnsurePrivateFolder(root + "/missing/deeper").ok());
  EXPECT_FALSE(EnsurePrivateFolder("").ok());
}

TEST(RuntimeFolder, FollowsTheEnvironmentInOrder) {
  const plombix::testing::TempDir dir;
  const std::string& root = dir.path();
  ::setenv("PLOMBIX_RUNTIME_DIR", (root + "/forced").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
  EXPECT_EQ(RuntimeFolder().path, root + "/forced");
  EXPECT_EQ(SourcesFolder().path, root + "/forced/sources");
  ::unsetenv("PLOMBIX_RUNTIME_DIR");
  EXPECT_EQ(RuntimeFolder().path, root + "/vora-plombix");
  ::setenv("XDG_RUNTIME_DIR", (root + "/absent").c_str(), 1);
  EXPECT_EQ(RuntimeFolder().path, "/tmp/vora-plombix-" + std::to_string(::geteuid()));
  ::unsetenv("XDG_RUNTIME_DIR");
}

TEST(Discovery, EntriesParseOnlyWhenComplete) {
  struct Row {
    const char* label;
    std::string text;
    bool ok;
  };
  const Row rows[] = {
      {"complete", "name=A\nurl=http://127.0.0.1:5961/\npid=1\nstart=5\n", true},
      {"no start time", "name=A\nurl=http://127.0.0.1:5961/\npid=1\n", true},
      {"unknown keys ignored", "x=y\nname=A\nurl=http://h:1/\npid=1\n", true},
      {"empty", "", false},
      {"no name", "url=http://127.0.0.1:5961/\npid=1\n", false},
      {"no url", "name=A\npid=1\n", false},
      {"not http", "name=A\nurl=ftp://x/\npid=1\n", false},
      {"no pid", "name=A\nurl=http://h:1/\n", false},
      {"pid zero", "name=A\nurl=http://h:1/\npid=0\n", false},
      {"pid negative", "name=A\nurl=http://h:1/\npid=-4\n", false},
      {"pid huge", "name=A\nurl=http://h:1/\npid=99999999999999999999999\n", false},
      {"pid words", "name=A\nurl=http://h:1/\npid=12ab\n", false},
      {"start words", "name=A\nurl=http://h:1/\npid=1\nstart=x\n", false},
      {"control character in name", "name=A\tB\nurl=http://h:1/\npid=1\n", false},
      {"binary", std::string("\0\1\2\3", 4), false},
  };
  for (const Row& row : rows) {
    SourceEntry e;
    EXPECT_EQ(ParseSourceEntry(row.text, &e), row.ok) << row.label;
  }
}

TEST(Discovery, ListSkipsDeadAndCorruptEntries) {
  const plombix::testing::TempDir temp;
  const std::string& dir = temp.path();
  std::string error;
  ASSERT_EQ(ClaimSource(dir, "Live one", "http://127.0.0.1:6000/", &error), ClaimResult::Claimed) << error;
  // A process that has ended: a child that exited and was reaped.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  writeFile(dir + "/" + SourceFileName("Dead one"),
            "name=Dead one\nurl=http://127.0.0.1:6001/\npid=" + std::to_string(child) + "\n");
  // This process, but started at another time: its pid was reused.
  writeFile(dir + "/" + SourceFileName("Reused"),
            "name=Reused\nurl=http://127.0.0.1:6002/\npid=" + std::to_string(::getpid()) + "\nstart=1\n");
  writeFile(dir + "/" + SourceFileName("Corrupt"), "garbage\n");
  writeFile(dir + "/" + SourceFileName("Huge"), std::string(10000, 'x'));
  writeFile(dir + "/notes.txt", "name=Other\nurl=http://h:1/\npid=1\n");  // not an entry file
  const std::vector<SourceEntry> live = ListSources(dir);
  ASSERT_EQ(live.size(), 1u);
  EXPECT_EQ(live[0].name, "Live one");
  EXPECT_EQ(live[0].url, "http://127.0.0.1:6000/");
  EXPECT_EQ(live[0].pid, long(::getpid()));
  // A dead entry's name can be claimed; a live one's cannot.
  EXPECT_EQ(ClaimSource(dir, "Dead one", "http://127.0.0.1:6003/", &error), ClaimResult::Claimed);
  EXPECT_EQ(ClaimSource(dir, "Live one", "http://127.0.0.1:6004/", &error), ClaimResult::NameInUse);
  // Releasing with another URL leaves the entry alone; with its own, removes it.
  ReleaseSource(dir, "Live one", "http://127.0.0.1:9999/");
  EXPECT_EQ(ListSources(dir).size(), 2u);
  ReleaseSource(dir, "Live one", "http://127.0.0.1:6000/");
  ReleaseSource(dir, "Dead one", "http://127.0.0.1:6003/");
  EXPECT_TRUE(ListSources(dir).empty());
}

TEST(Discovery, FileNamesAreSafeAndDistinct) {
  EXPECT_EQ(SourceFileName("Vora Plombix 1"), "Vora%20Plombix%201.source");
  EXPECT_EQ(SourceFileName("../x"), "%2E%2E%2Fx.source");
  const std::string a = SourceFileName(std::string(200, 'a') + "1");
  const std::string b = SourceFileName(std::string(200, 'a') + "2");
  EXPECT_NE(a, b);
  EXPECT_LT(a.size(), 200u);
  EXPECT_EQ(a.find('/'), std::string::npos);
  EXPECT_FALSE(IsValidSourceName(""));
  EXPECT_FALSE(IsValidSourceName(std::string(256, 'a')));
  EXPECT_TRUE(IsValidSourceName(std::string(255, 'a')));
  EXPECT_TRUE(IsValidSourceName("Größe ✓"));
}

TEST(HttpUrl, ParsesOnlyPlainHttpUrls) {
  struct Row {
    const char* url;
    bool ok;
    const char* host;
    int port;
  };
  const Row rows[] = {
      {"http://127.0.0.1:5961/", true, "127.0.0.1", 5961},
      {"http://example:80", true, "example", 80},
      {"http://host/", true, "host", 80},
      {"http://[::1]:5962/x", true, "::1", 5962},
      {"https://host/", false, "", 0},
      {"http://:5961/", false, "", 0},
      {"http://h:0/", false, "", 0},
      {"http://h:65536/", false, "", 0},
      {"http://h:12x/", false, "", 0},
      {"http://[::1/", false, "", 0},
      {"", false, "", 0},
  };
  for (const Row& row : rows) {
    HttpUrl u;
    ASSERT_EQ(ParseHttpUrl(row.url, &u), row.ok) << row.url;
    if (!row.ok) continue;
    EXPECT_EQ(u.host, row.host) << row.url;
    EXPECT_EQ(u.port, row.port) << row.url;
  }
  EXPECT_EQ(HeaderParameter("multipart/x-mixed-replace; boundary=abc", "boundary"), "abc");
  EXPECT_EQ(HeaderParameter("a; Boundary=\"q r\" ; x=1", "boundary"), "q r");
  EXPECT_EQ(HeaderParameter("text/plain", "boundary"), "");
}

TEST(FrameValidation, AcceptsOnlyWhatCanBeServed) {
  uint8_t pixels[64] = {};
  NDIlib_video_frame_v2_t f{};
  f.xres = 4;
  f.yres = 4;
  f.FourCC = NdiFourCC::BGRA;
  f.p_data = pixels;
  f.line_stride_in_bytes = 0;
  FrameInfo info;
  int stride = 0;
  ASSERT_TRUE(ValidateFrame(f, &info, &stride));
  EXPECT_EQ(stride, 16);  // 0 means width * 4
  f.xres = kMaxFrameSide;
  f.line_stride_in_bytes = kMaxFrameSide * 4;
  EXPECT_TRUE(ValidateFrame(f, &info, &stride));  // the largest size
  f.xres = kMaxFrameSide + 1;
  f.line_stride_in_bytes = 0;
  EXPECT_FALSE(ValidateFrame(f, &info, &stride));
}

TEST(FrameStore, CopiesOnlyWhenAskedAndKeepsTheLastFrame) {
  FrameStore store;
  EXPECT_EQ(store.latest(), nullptr);
  std::vector<uint8_t> a(24, 1), b(24, 2);
  FrameInfo info;
  info.width = 2;
  info.height = 3;
  EXPECT_EQ(store.submit(info, a.data(), 8), 1u);
  EXPECT_EQ(store.submit(info, b.data(), 8), 2u);
  std::shared_ptr<const Frame> f = store.latest();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->info().sequence, 2u);
  EXPECT_EQ(std::vector<uint8_t>(f->pixels(), f->pixels() + 24), b);
  b.assign(24, 9);  // after the copy the caller's buffer no longer matters
  EXPECT_EQ(f->pixels()[0], 2);
  EXPECT_EQ(store.latest(), f);  // one copy, shared
  uint64_t seen = 2;
  EXPECT_EQ(store.waitNewer(&seen, std::chrono::milliseconds(1)), nullptr);
  store.close();
  EXPECT_EQ(store.waitNewer(&seen, std::chrono::milliseconds(1000)), nullptr);
}

TEST(PngEncode, RoundTripsThroughADecoder) {
  std::mt19937 random(77);
  const int w = 37, h = 11, stride = w * 4 + 8;
  std::vector<uint8_t> bgra(size_t(stride) * h);
  for (uint8_t& byte : bgra) byte = uint8_t(random());
  for (PngAlpha alpha : {PngAlpha::Keep, PngAlpha::Drop}) {
    std::string png;
    ASSERT_TRUE(EncodeBgraPng(bgra.data(), w, h, stride, alpha, &png));
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, png.data(), png.size());
    size_t size = 0;
    ASSERT_EQ(spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size), 0);
    std::vector<uint8_t> rgba(size);
    ASSERT_EQ(spng_decode_image(ctx, rgba.data(), size, SPNG_FMT_RGBA8, 0), 0);
    spng_ihdr ihdr{};
    spng_get_ihdr(ctx, &ihdr);
    spng_ctx_free(ctx);
    EXPECT_EQ(ihdr.width, uint32_t(w));
    EXPECT_EQ(ihdr.color_type, alpha == PngAlpha::Keep ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA
                                                       : SPNG_COLOR_TYPE_TRUECOLOR);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t* in = &bgra[size_t(y) * stride + size_t(x) * 4];
        const uint8_t* out = &rgba[(size_t(y) * w + size_t(x)) * 4];
        ASSERT_EQ(out[0], in[2]);
        ASSERT_EQ(out[1], in[1]);
        ASSERT_EQ(out[2], in[0]);
        ASSERT_EQ(out[3], alpha == PngAlpha::Keep ? in[3] : 255);
      }
  }
  std::string png;
  EXPECT_FALSE(EncodeBgraPng(bgra.data(), 0, h, stride, PngAlpha::Keep, &png));
  EXPECT_FALSE(EncodeBgraPng(bgra.data(), w, h, w * 4 - 1, PngAlpha::Keep, &png));
  EXPECT_FALSE(EncodeBgraPng(nullptr, w, h, stride, PngAlpha::Keep, &png));
}
