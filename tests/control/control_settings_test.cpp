// Where each copy's API listens, from the environment, and when it stays off.
#include <map>

#include "control_test_support.h"

using namespace plombix::control;

TEST(ControlSettings, FromTheEnvironment) {
  control_test::FakeHost host;
  struct Row {
    int copy;
    std::map<std::string, std::string> env;
    bool enabled;
    std::string expected;  // enabled: "address port"; off: part of the reason
  };
  const std::string bind = "PLOMBIX_CONTROL_BIND", port = "PLOMBIX_CONTROL_PORT";
  const Row rows[] = {
      {1, {}, true, "127.0.0.1 5981"},
      {8, {}, true, "127.0.0.1 5988"},
      {3, {{"PLOMBIX_CONTROL", "1"}}, true, "127.0.0.1 5983"},
      {1, {{port, "7000"}}, true, "127.0.0.1 7000"},
      {4, {{port, "7000"}}, true, "127.0.0.1 7003"},
      {1, {{bind, "127.0.0.2"}}, true, "127.0.0.2 5981"},
      {2, {{bind, "::1"}}, true, "::1 5982"},
      {1, {{bind, "0.0.0.0"}, {"PLOMBIX_CONTROL_TOKEN", "t"}}, true, "0.0.0.0 5981"},
      {1, {{"PLOMBIX_CONTROL", "0"}}, false, "PLOMBIX_CONTROL=0"},
      {1, {{"PLOMBIX_CONTROL", "Off"}}, false, "PLOMBIX_CONTROL=Off"},
      {0, {}, false, "no number"},
      {9, {}, false, "no number"},
      {1, {{bind, "0.0.0.0"}}, false, "PLOMBIX_CONTROL_TOKEN"},
      {1, {{bind, "192.168.1.20"}}, false, "not a loopback address"},
      {1, {{bind, "::"}}, false, "not a loopback"},
      {1, {{bind, "10.0.0.1"}, {"PLOMBIX_CONTROL_TOKEN", ""}}, false, "PLOMBIX_CONTROL_TOKEN"},  // empty: none
      {1, {{bind, "localhost"}}, false, "not a numeric IP address"},
      {1, {{port, "59a"}}, false, "not a port number"},
      {1, {{port, "0"}}, false, "not a port number"},
      {1, {{port, "65536"}}, false, "not a port number"},
      {3, {{port, "65534"}}, false, "no port for copy 3"},
  };
  for (const Row& row : rows) {
    const ControlSettings s = ControlSettingsFor(row.copy, [&row](const char* name) -> const char* {
      const auto it = row.env.find(name);
      return it == row.env.end() ? nullptr : it->second.c_str();
    });
    EXPECT_EQ(s.enabled, row.enabled) << row.expected << ": " << s.reason;
    if (row.enabled) {
      EXPECT_EQ(s.bindAddress + " " + std::to_string(s.port), row.expected);
      continue;
    }
    EXPECT_NE(s.reason.find(row.expected), std::string::npos) << row.expected << ": " << s.reason;
    // An API that is off is not started, and says why.
    std::string error;
    EXPECT_FALSE(ControlServer::Start(s, host, host.poster(), &error)) << row.expected;
    EXPECT_EQ(error, s.reason);
  }
}

TEST(ControlSettings, LoopbackAddressesAndUrls) {
  for (const char* a : {"127.0.0.1", "127.255.0.9", "::1", "::ffff:127.0.0.1"}) EXPECT_TRUE(IsLoopbackAddress(a)) << a;
  for (const char* a : {"0.0.0.0", "::", "128.0.0.1", "10.0.0.1", "::ffff:10.0.0.1", "localhost", ""})
    EXPECT_FALSE(IsLoopbackAddress(a)) << a;
  EXPECT_EQ(UrlFor("0.0.0.0", 5982), "http://127.0.0.1:5982/");
  EXPECT_EQ(UrlFor("::1", 5983), "http://[::1]:5983/");
}
