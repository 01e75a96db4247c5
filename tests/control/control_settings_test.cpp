// Where each copy's API listens, from the environment, and when it stays off.
#include <gtest/gtest.h>

#include <map>

#include "control_settings.h"
#include "control_test_support.h"

using namespace plombix::control;

namespace {

struct Row {
  const char* label;
  int copy;
  std::map<std::string, std::string> env;
  bool enabled;
  std::string bind;        // when enabled
  int port;                // when enabled
  std::string reasonPart;  // when off
};

}  // namespace

TEST(ControlSettings, FromTheEnvironment) {
  control_test::WindowThread window;
  control_test::FakeHost host(window);
  const Row rows[] = {
      {"copy 1 by default", 1, {}, true, "127.0.0.1", 5981, ""},
      {"copy 8 by default", 8, {}, true, "127.0.0.1", 5988, ""},
      {"explicitly on", 3, {{"PLOMBIX_CONTROL", "1"}}, true, "127.0.0.1", 5983, ""},
      {"port of copy 1", 1, {{"PLOMBIX_CONTROL_PORT", "7000"}}, true, "127.0.0.1", 7000, ""},
      {"copy N uses port + N - 1", 4, {{"PLOMBIX_CONTROL_PORT", "7000"}}, true, "127.0.0.1", 7003, ""},
      {"other loopback address", 1, {{"PLOMBIX_CONTROL_BIND", "127.0.0.2"}}, true, "127.0.0.2", 5981, ""},
      {"IPv6 loopback", 2, {{"PLOMBIX_CONTROL_BIND", "::1"}}, true, "::1", 5982, ""},
      {"every interface with a token", 1,
       {{"PLOMBIX_CONTROL_BIND", "0.0.0.0"}, {"PLOMBIX_CONTROL_TOKEN", "t"}}, true, "0.0.0.0", 5981, ""},
      {"turned off", 1, {{"PLOMBIX_CONTROL", "0"}}, false, "", 0, "PLOMBIX_CONTROL=0"},
      {"turned off in words", 1, {{"PLOMBIX_CONTROL", "Off"}}, false, "", 0, "PLOMBIX_CONTROL=Off"},
      {"no copy number", 0, {}, false, "", 0, "no number"},
      {"ninth copy", 9, {}, false, "", 0, "no number"},
      {"every interface without a token", 1, {{"PLOMBIX_CONTROL_BIND", "0.0.0.0"}}, false, "", 0,
       "PLOMBIX_CONTROL_TOKEN"},
      {"a LAN address without a token", 1, {{"PLOMBIX_CONTROL_BIND", "192.168.1.20"}}, false, "", 0,
       "not a loopback address"},
      {"IPv6 any without a token", 1, {{"PLOMBIX_CONTROL_BIND", "::"}}, false, "", 0, "not a loopback"},
      {"empty token is none", 1, {{"PLOMBIX_CONTROL_BIND", "10.0.0.1"}, {"PLOMBIX_CONTROL_TOKEN", ""}}, false,
       "", 0, "PLOMBIX_CONTROL_TOKEN"},
      {"a host name", 1, {{"PLOMBIX_CONTROL_BIND", "localhost"}}, false, "", 0, "not a numeric IP address"},
      {"port not a number", 1, {{"PLOMBIX_CONTROL_PORT", "59a"}}, false, "", 0, "not a port number"},
      {"port 0", 1, {{"PLOMBIX_CONTROL_PORT", "0"}}, false, "", 0, "not a port number"},
      {"port too high", 1, {{"PLOMBIX_CONTROL_PORT", "65536"}}, false, "", 0, "not a port number"},
      {"no port left for the copy", 3, {{"PLOMBIX_CONTROL_PORT", "65534"}}, false, "", 0, "no port for copy 3"},
  };
  for (const Row& row : rows) {
    auto env = [&row](const char* name) -> const char* {
      const auto it = row.env.find(name);
      return it == row.env.end() ? nullptr : it->second.c_str();
    };
    const ControlSettings s = ControlSettingsFor(row.copy, env);
    EXPECT_EQ(s.enabled, row.enabled) << row.label << ": " << s.reason;
    if (row.enabled) {
      EXPECT_EQ(s.bindAddress, row.bind) << row.label;
      EXPECT_EQ(s.port, row.port) << row.label;
    } else {
      EXPECT_NE(s.reason.find(row.reasonPart), std::string::npos) << row.label << ": " << s.reason;
      // An API that is off is not started, and says why.
      std::string error;
      EXPECT_FALSE(ControlServer::Start(s, host, window.poster(), &error)) << row.label;
      EXPECT_EQ(error, s.reason) << row.label;
    }
  }
}

TEST(ControlSettings, LoopbackAddressesAndUrls) {
  for (const char* a : {"127.0.0.1", "127.255.0.9", "::1", "::ffff:127.0.0.1"})
    EXPECT_TRUE(IsLoopbackAddress(a)) << a;
  for (const char* a : {"0.0.0.0", "::", "128.0.0.1", "10.0.0.1", "::ffff:10.0.0.1", "localhost", ""})
    EXPECT_FALSE(IsLoopbackAddress(a)) << a;
  EXPECT_EQ(UrlFor("127.0.0.1", 5981), "http://127.0.0.1:5981/");
  EXPECT_EQ(UrlFor("0.0.0.0", 5982), "http://127.0.0.1:5982/");
  EXPECT_EQ(UrlFor("::1", 5983), "http://[::1]:5983/");
}
