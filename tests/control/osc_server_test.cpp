// OSC: the settings from the environment, real messages from liblo's
// oscsend, and malformed packets as raw UDP bytes.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "api_names.h"
#include "osc_server.h"

using namespace plombix::control;

namespace {

TEST(Osc, SettingsFollowTheHttpPortAndTheirOwnAddress) {
  struct Row {
    const char* name;
    int copy;
    std::map<std::string, std::string> env;
    const char* address;  // null: off
    int port;
  };
  const Row rows[] = {
      {"copy 1", 1, {}, "127.0.0.1", 5981},
      {"copy 8 with the HTTP API off", 8, {{"PLOMBIX_CONTROL", "0"}}, "127.0.0.1", 5988},
      {"the HTTP port moved", 2, {{"PLOMBIX_CONTROL_PORT", "7000"}}, "127.0.0.1", 7001},
      {"the HTTP address is not ours", 1, {{"PLOMBIX_CONTROL_BIND", "0.0.0.0"}}, "127.0.0.1", 5981},
      {"turned off", 1, {{"PLOMBIX_OSC", "off"}}, nullptr, 0},
      {"beyond loopback without a token", 1, {{"PLOMBIX_OSC_BIND", "0.0.0.0"}}, nullptr, 0},
      {"beyond loopback with a token", 1, {{"PLOMBIX_OSC_BIND", "::"}, {"PLOMBIX_CONTROL_TOKEN", "t"}}, "::", 5981},
      {"not an address", 1, {{"PLOMBIX_OSC_BIND", "localhost"}}, nullptr, 0},
      {"no copy number", 0, {}, nullptr, 0},
  };
  for (const Row& r : rows) {
    const OscSettings s = OscSettingsFor(r.copy, [&r](const char* name) -> const char* {
      const auto it = r.env.find(name);
      return it == r.env.end() ? nullptr : it->second.c_str();
    });
    EXPECT_EQ(s.enabled, r.address != nullptr) << r.name << ": " << s.reason;
    if (r.address) {
      EXPECT_EQ(std::make_pair(s.bindAddress, s.port), std::make_pair(std::string(r.address), r.port));
    } else {
      EXPECT_FALSE(s.reason.empty()) << r.name;
    }
  }
}

// A server on a free port that notes each command as a line of text.
class OscTest : public ::testing::Test {
 protected:
  void start(const std::string& token = {}) {
    OscSettings settings;
    settings.enabled = true;
    settings.token = token;
    std::string error;
    server_ = OscServer::Start(settings, [this](const OscCommand& c) { note(c); }, &error);
    ASSERT_TRUE(server_) << error;
  }
  void note(const OscCommand& c) {
    static const char* kinds[] = {"show", "cue", "take", "step", "goto", "transition", "background"};
    std::string line = kinds[int(c.kind)];
    if (c.kind == OscCommand::Kind::Show || c.kind == OscCommand::Kind::Cue) line += " " + c.path;
    if (c.kind == OscCommand::Kind::Step) line += std::string(" ") + NameOf(c.step);
    if (c.kind == OscCommand::Kind::Goto) line += " " + std::to_string(c.number);
    if (c.kind == OscCommand::Kind::Transition) line += std::string(" ") + NameOf(c.transition);
    if (c.kind == OscCommand::Kind::Background) line += std::string(" ") + NameOf(c.background);
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
    changed_.notify_all();
  }
  // Sends with oscsend; then the commands noted, and "ignored" when the count
  // went up, once that is `expected` or after 5 s.
  std::string oscsend(const std::string& arguments, const std::string& expected) {
    return after(expected, [&] {
      const std::string command = "oscsend 127.0.0.1 " + std::to_string(server_->port()) + " " + arguments;
      EXPECT_EQ(std::system(command.c_str()), 0) << command;
    });
  }
  std::string raw(const std::string& bytes, const std::string& expected) {
    return after(expected, [&] {
      const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(uint16_t(server_->port()));
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      EXPECT_EQ(::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
                ssize_t(bytes.size()));
      ::close(fd);
    });
  }
  template <class Send>
  std::string after(const std::string& expected, Send send) {
    std::unique_lock<std::mutex> lock(mutex_);
    lines_.clear();
    const uint64_t ignoredBefore = server_->ignored();
    lock.unlock();
    send();
    lock.lock();
    std::string all;
    for (int i = 0; i < 500 && all != expected; ++i) {
      changed_.wait_for(lock, std::chrono::milliseconds(10));
      all = server_->ignored() > ignoredBefore ? "ignored" : "";
      for (const std::string& l : lines_) all += (all.empty() ? "" : "; ") + l;
    }
    return all;
  }

  std::unique_ptr<OscServer> server_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
};

// An OSC string: the bytes, a NUL, padded to a multiple of four.
std::string Padded(const std::string& s) { return s + std::string(4 - s.size() % 4, '\0'); }

TEST_F(OscTest, EachMessageBecomesItsCommandAndAnythingElseIsCounted) {
  start();
  const std::pair<const char*, const char*> rows[] = {
      {"/plombix/show s /pictures/slide004.png", "show /pictures/slide004.png"},
      {"/plombix/cue s '/pictures/with space.jpg'", "cue /pictures/with space.jpg"},
      {"/plombix/take", "take"},
      {"/plombix/next", "step next"},
      {"/plombix/previous", "step previous"},
      {"/plombix/first", "step first"},
      {"/plombix/last", "step last"},
      {"/plombix/goto i 7", "goto 7"},
      {"/plombix/transition s fade", "transition fade"},
      {"/plombix/background s grad5", "background grad5"},
      {"/plombix/goto s 7", "ignored"},
      {"/plombix/goto f 7.0", "ignored"},
      {"/plombix/take i 1", "ignored"},
      {"/plombix/show s relative.png", "ignored"},
      {"/plombix/transition s wipe", "ignored"},
      {"/plombix/background s purple", "ignored"},
      {"/plombix/stop", "ignored"},
  };
  for (const auto& [arguments, expected] : rows) EXPECT_EQ(oscsend(arguments, expected), expected) << arguments;

  const std::string take = Padded("/plombix/take") + Padded(",");
  const std::string go = Padded("/plombix/goto") + Padded(",i") + std::string("\0\0\0\x09", 4);
  const std::string bundle = Padded("#bundle") + std::string(8, '\1');
  const auto element = [](const std::string& m) { return std::string({0, 0, 0, char(m.size())}) + m; };
  const std::pair<std::string, const char*> packets[] = {
      {bundle + element(take) + element(go), "take; goto 9"},
      // An element longer than the packet, whose missing end the last packet left in the buffer.
      {bundle + std::string({0, 0, 0, 20}) + take.substr(0, 16), "ignored"},
      {go.substr(0, go.size() - 2), "ignored"},                    // cut short
      {take.substr(0, 14), "ignored"},                             // inside the path's padding
      {"garbage that is not OSC", "ignored"},
      {bundle + std::string({0, 0, 0, 3}) + "abc", "ignored"},     // a size not a multiple of 4
  };
  for (const auto& [bytes, expected] : packets) EXPECT_EQ(raw(bytes, expected), expected) << bytes.size() << " bytes";
}

TEST_F(OscTest, WithATokenEachMessageMustBeginWithIt) {
  start("sesame");
  const std::pair<const char*, const char*> rows[] = {
      {"/plombix/take s sesame", "take"},
      {"/plombix/show ss sesame /a.png", "show /a.png"},
      {"/plombix/take", "ignored"},
      {"/plombix/take s sesam", "ignored"},
      {"/plombix/take i 1", "ignored"},
      {"/plombix/show s /a.png", "ignored"},
  };
  for (const auto& [arguments, expected] : rows) EXPECT_EQ(oscsend(arguments, expected), expected) << arguments;
}

}  // namespace
