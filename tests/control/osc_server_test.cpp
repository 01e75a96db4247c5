// OSC: settings, real messages from liblo's oscsend, malformed packets as raw UDP bytes.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <thread>

#include "api_names.h"
#include "osc_server.h"

using namespace plombix::control;

// A server on a free port that notes each command as text.
struct Osc {
  std::mutex mutex;
  std::string noted;  // under `mutex`
  std::unique_ptr<OscServer> server;
  explicit Osc(const std::string& token) {
    server = OscServer::Start({true, {}, "127.0.0.1", 0, token}, [this](const OscCommand& c) {
      const std::string text[] = {"show " + c.path, "cue " + c.path, "take", std::string("step ") + NameOf(c.step),
                                  "goto " + std::to_string(c.number), std::string("transition ") + NameOf(c.transition),
                                  std::string("background ") + NameOf(c.background)};
      std::lock_guard<std::mutex> lock(mutex);
      noted += (noted.empty() ? "" : "; ") + text[int(c.kind)];
    }, nullptr);
  }
  // Sends oscsend's arguments (or raw bytes); then what was noted, "ignored"
  // first if the packet was counted, once that is `expected` or after 3 s.
  std::string send(const std::string& what, bool raw, const std::string& expected) {
    const uint64_t before = server->ignored();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    std::unique_lock<std::mutex> lock(mutex);
    noted.clear(), lock.unlock();
    if (raw) {
      const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in to{AF_INET, htons(uint16_t(server->port())), {htonl(INADDR_LOOPBACK)}, {}};
      EXPECT_GT(::sendto(fd, what.data(), what.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
      ::close(fd);
    } else {
      const std::string command = "oscsend 127.0.0.1 " + std::to_string(server->port()) + " " + what;
      EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }
    for (std::string got;; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
      lock.lock();
      got = server->ignored() > before ? (noted.empty() ? "ignored" : "ignored; " + noted) : noted, lock.unlock();
      if (got == expected || std::chrono::steady_clock::now() > deadline) return got;
    }
  }
};

TEST(Osc, SettingsMessagesAndMalformedPackets) {
  const std::tuple<int, std::map<std::string, std::string>, const char*, int> settings[] = {  // null address: off
      {1, {}, "127.0.0.1", 5981}, {8, {{"PLOMBIX_CONTROL", "0"}, {"PLOMBIX_CONTROL_BIND", "::"}}, "127.0.0.1", 5988},
      {2, {{"PLOMBIX_CONTROL_PORT", "7000"}}, "127.0.0.1", 7001}, {1, {{"PLOMBIX_OSC", "off"}}, nullptr, 0},
      {1, {{"PLOMBIX_OSC_BIND", "0.0.0.0"}}, nullptr, 0}, {1, {{"PLOMBIX_OSC_BIND", "localhost"}}, nullptr, 0},
      {1, {{"PLOMBIX_OSC_BIND", "::"}, {"PLOMBIX_CONTROL_TOKEN", "t"}}, "::", 5981}, {0, {}, nullptr, 0}};
  for (const auto& [copy, env, address, port] : settings) {
    const OscSettings s = OscSettingsFor(copy, [&env](const char* name) {
      return env.contains(name) ? env.at(name).c_str() : nullptr;
    });
    EXPECT_EQ(std::make_tuple(s.enabled, s.bindAddress, s.port, s.reason.empty()),
              std::make_tuple(!!address, std::string(address ? address : "127.0.0.1"), port, !!address)) << s.reason;
  }
  // token, oscsend's arguments, noted (show, transition and background: the window's own test)
  const std::tuple<const char*, const char*, const char*> rows[] = {
      {"", "/plombix/cue s '/pictures/with space.jpg'", "cue /pictures/with space.jpg"},
      {"", "/plombix/take", "take"}, {"", "/plombix/next", "step next"}, {"", "/plombix/previous", "step previous"},
      {"", "/plombix/first", "step first"}, {"", "/plombix/last", "step last"}, {"", "/plombix/goto i 7", "goto 7"},
      {"", "/plombix/goto s 7", "ignored"}, {"", "/plombix/goto f 7.0", "ignored"}, {"", "/plombix/stop", "ignored"},
      {"", "/plombix/show s relative.png", "ignored"}, {"", "/plombix/transition s wipe", "ignored"},
      {"", "/plombix/background s purple", "ignored"}, {"", "/plombix/take i 1", "ignored"},
      {"sesame", "/plombix/take s sesame", "take"}, {"sesame", "/plombix/show ss sesame /a.png", "show /a.png"},
      {"sesame", "/plombix/take", "ignored"}, {"sesame", "/plombix/take s sesam", "ignored"},
      {"sesame", "/plombix/show s /a.png", "ignored"}};
  Osc open(""), guarded("sesame");
  for (const auto& [token, arguments, noted] : rows)
    EXPECT_EQ((*token ? guarded : open).send(arguments, false, noted), noted) << arguments;
  const auto padded = [](const std::string& s) { return s + std::string(4 - s.size() % 4, '\0'); };  // OSC strings
  const std::string take = padded("/plombix/take") + padded(","), bundle = padded("#bundle") + std::string(8, '\1');
  const std::string go = padded("/plombix/goto") + padded(",i") + std::string("\0\0\0\x09", 4);
  const auto element = [](const std::string& m) { return std::string({0, 0, 0, char(m.size())}) + m; };
  const std::pair<std::string, const char*> packets[] = {
      {bundle + element(take) + element(go), "take; goto 9"},
      // An element longer than the packet, whose missing end the last packet left in the buffer.
      {bundle + element(take).substr(0, 20), "ignored"},
      {go.substr(0, go.size() - 2), "ignored"}, {take.substr(0, 14), "ignored"}, {"not OSC at all", "ignored"},
      {bundle + std::string({0, 0, 0, 3}) + "abc", "ignored"}};  // a size not a multiple of 4
  for (const auto& [bytes, noted] : packets) EXPECT_EQ(open.send(bytes, true, noted), noted) << bytes.size();
}
