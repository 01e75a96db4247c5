// plombix-monitor: lists video sources and saves frames of one as PNG files.
// It loads its NDI runtime like the player (NdiRuntime), so it receives the
// built-in stand-in's sources, or real NDI sources where the vendor's
// runtime is installed. A source that goes away (a player restarting) is
// waited for: only a frame that does not come within the time-out ends the
// run.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "monitor_args.h"
#include "ndi_runtime.h"
#include "png_encode.h"
#include <thread>

using namespace plombix;
using namespace plombix::monitor;

namespace {

void complain(const std::string& message) {
  std::fprintf(stderr, "plombix-monitor: %s\n", message.c_str());
}

// The four characters of a FourCC ('?' for unprintable bytes).
std::string fourCCText(NdiFourCC fourcc) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    const char c = char((uint32_t(fourcc) >> (8 * i)) & 0xff);
    text += (c >= 0x20 && c < 0x7f) ? c : '?';
  }
  return text;
}

int listSources(const NdiRuntime& ndi, const MonitorArgs& args) {
  const NDIlib_find_create_t settings{true, nullptr, nullptr};
  NDIlib_find_instance_t finder = ndi.findCreateV2(&settings);
  if (!finder) {
    complain("cannot look for sources");
    return kExitNoRuntime;
  }
  (void)ndi.findWaitForSources(finder, uint32_t(args.waitMs));
  uint32_t count = 0;
  const NDIlib_source_t* sources = ndi.findGetCurrentSources(finder, &count);
  for (uint32_t i = 0; i < count; ++i)
    std::printf("%s\t%s\n", sources[i].p_ndi_name ? sources[i].p_ndi_name : "",
                sources[i].p_url_address ? sources[i].p_url_address : "");
  ndi.findDestroy(finder);
  return kExitOk;
}

bool savePng(const NDIlib_video_frame_v2_t& frame, const std::string& path, std::string* error) {
  if (frame.FourCC != NdiFourCC::BGRA && frame.FourCC != NdiFourCC::BGRX) {
    *error = "cannot save a frame of kind " + fourCCText(frame.FourCC);
    return false;
  }
  std::string png;
  const int stride = frame.line_stride_in_bytes ? frame.line_stride_in_bytes : frame.xres * 4;
  const standin::PngAlpha alpha =
      frame.FourCC == NdiFourCC::BGRX ? standin::PngAlpha::Drop : standin::PngAlpha::Keep;
  if (!standin::EncodeBgraPng(frame.p_data, frame.xres, frame.yres, stride, alpha, &png)) {
    *error = "cannot encode the frame as PNG";
    return false;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(png.data(), std::streamsize(png.size()));
  out.close();
  if (!out) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

int receive(const NdiRuntime& ndi, const MonitorArgs& args) {
  std::error_code ec;
  std::filesystem::create_directories(args.outDir, ec);
  if (ec || !std::filesystem::is_directory(args.outDir)) {
    complain("cannot create the folder " + args.outDir + (ec ? ": " + ec.message() : ""));
    return kExitOutput;
  }
  const NDIlib_find_create_t findSettings{true, nullptr, nullptr};
  NDIlib_find_instance_t finder = ndi.findCreateV2(&findSettings);
  if (!finder) {
    complain("cannot look for sources");
    return kExitNoRuntime;
  }
  // Look for the source until it appears or the time-out passes.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(args.timeoutMs);
  NDIlib_source_t source{};
  std::string name, url;
  for (;;) {
    uint32_t count = 0;
    const NDIlib_source_t* sources = ndi.findGetCurrentSources(finder, &count);
    for (uint32_t i = 0; i < count && name.empty(); ++i) {
      if (sources[i].p_ndi_name && args.source == sources[i].p_ndi_name) {
        name = sources[i].p_ndi_name;
        url = sources[i].p_url_address ? sources[i].p_url_address : "";
      }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!name.empty() || left.count() <= 0) break;
    (void)ndi.findWaitForSources(finder, uint32_t(std::min<long long>(left.count(), 200)));
  }
  ndi.findDestroy(finder);
  if (name.empty()) {
    complain("no source named '" + args.source + "' (plombix-monitor --list shows the sources)");
    return kExitUnknownSource;
  }
  source.p_ndi_name = name.c_str();
  source.p_url_address = url.empty() ? nullptr : url.c_str();

  NDIlib_recv_create_v3_t settings{};
  settings.source_to_connect_to = source;
  settings.color_format = NdiRecvColorFormat::BGRX_BGRA;
  settings.bandwidth = NdiRecvBandwidth::Highest;
  settings.allow_video_fields = false;
  settings.p_ndi_recv_name = "plombix-monitor";
  NDIlib_recv_instance_t receiver = ndi.recvCreateV3(&settings);
  if (!receiver) {
    complain("cannot connect to '" + name + "'");
    return kExitLost;
  }
  if (args.tally != TallyRequest::None) {
    const NDIlib_tally_t tally{args.tally == TallyRequest::Program, args.tally == TallyRequest::Preview};
    (void)ndi.recvSetTally(receiver, &tally);
  }

  int result = kExitOk;
  bool gone = false;  // the runtime reported the source lost, and no frame came since
  for (int n = 1; n <= args.frames && result == kExitOk; ++n) {
    const auto frameDeadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(args.timeoutMs);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          frameDeadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        complain((gone ? "lost the connection to '" + name + "': no frame" : "no frame from '" + name + "'") +
                 " within " + std::to_string(args.timeoutMs) + " ms");
        result = kExitLost;
        break;
      }
      NDIlib_video_frame_v2_t video{};
      const int type = ndi.recvCaptureV2(receiver, &video, nullptr, nullptr, uint32_t(left.count()));
      if (type == int(NdiFrameType::Error)) {
        // Gone for now (a player restarting): the receiver finds it again by
        // name. Wait for it within the frame's time-out.
        if (!gone) complain("'" + name + "' is gone; waiting for it to come back");
        gone = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(left.count(), 100)));
        continue;
      }
      if (type != int(NdiFrameType::Video)) continue;  // nothing yet, or not a picture
      if (gone) complain("'" + name + "' is back");
      gone = false;
      char file[32];
      std::snprintf(file, sizeof file, "frame-%04d.png", n);
      const std::string path = (std::filesystem::path(args.outDir) / file).string();
      std::string error;
      const bool saved = savePng(video, path, &error);
      const double fps = video.frame_rate_D ? double(video.frame_rate_N) / video.frame_rate_D : 0.0;
      if (saved)
        std::printf("%d: %dx%d %s %d/%d (%.2f fps) aspect %.4f -> %s\n", n, video.xres, video.yres,
                    fourCCText(video.FourCC).c_str(), video.frame_rate_N, video.frame_rate_D, fps,
                    double(video.picture_aspect_ratio), path.c_str());
      std::fflush(stdout);
      ndi.recvFreeVideoV2(receiver, &video);
      if (!saved) {
        complain(error);
        result = kExitOutput;
      }
      break;
    }
  }
  ndi.recvDestroy(receiver);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  MonitorArgs args;
  std::string error;
  if (!ParseMonitorArgs(std::vector<std::string>(argv + 1, argv + argc), &args, &error)) {
    complain(error);
    std::fprintf(stderr, "Try 'plombix-monitor --help'.\n");
    return kExitUsage;
  }
  if (args.command == Command::Help) {
    std::fputs(MonitorUsage().c_str(), stdout);
    return kExitOk;
  }
  NdiRuntimeOptions options;
  options.receive = NdiReceiveSymbols::Required;
  const NdiRuntimeLoad load = LoadNdiRuntime(options);
  if (!load.runtime.loaded()) {
    complain(load.error);
    for (const std::string& why : load.skipped) std::fprintf(stderr, "  %s\n", why.c_str());
    return kExitNoRuntime;
  }
  const NdiRuntime& ndi = load.runtime;
  if (!ndi.initialize()) {
    complain("the NDI runtime " + load.runtime.path + " cannot run on this computer");
    return kExitNoRuntime;
  }
  const int result = args.command == Command::List ? listSources(ndi, args) : receive(ndi, args);
  ndi.destroy();
  return result;
}
