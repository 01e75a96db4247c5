// Where each copy's API listens, from the environment, and when it stays off.
#include <map>

#include "control_test_support.h"

using namespace plombix::control;

TEST(ControlSettings, FromTheEnvironment) {
  control_test::FakeHost host;
  // expected: "address port" when enabled, else part of the reason
  struct Row { int copy; std::map<std::string, std::string> env; bool enabled; std::string expected; };
  const std::string bind = "PLOMBIX_CONTROL_BIND", port = "PLOMBIX_CONTROL_PORT";
  const Row rows[] = {
      {1, {}, true, "127.0.0.1 5981"},
      {8, {}, true, "127.0.0.1 5988"},
      {4, {{port, "7000"}, {"PLOMBIX_CONTROL", "1"}}, true, "127.0.0.1 7003"},
      {1, {{bind, "127.255.0.9"}}, true, "127.255.0.9 5981"},
      {2, {{bind, "::1"}}, true, "::1 5982"},
      {1, {{bind, "0.0.0.0"}, {"PLOMBIX_CONTROL_TOKEN", "t"}}, true, "0.0.0.0 5981"},
      {1, {{"PLOMBIX_CONTROL", "0"}}, false, "PLOMBIX_CONTROL=0"},
      {1, {{"PLOMBIX_CONTROL", "Off"}}, false, "PLOMBIX_CONTROL=Off"},
      {0, {}, false, "no number"},
      {9, {}, false, "no number"},
      {1, {{bind, "0.0.0.0"}}, false, "PLOMBIX_CONTROL_TOKEN"},
      {1, {{bind, "128.0.0.1"}}, false, "not a loopback address"},
      {1, {{bind, "::ffff:10.0.0.1"}}, false, "not a loopback address"},
      {1, {{bind, "::"}}, false, "not a loopback"},
      {1, {{bind, "10.0.0.1"}, {"PLOMBIX_CONTROL_TOKEN", ""}}, false, "PLOMBIX_CONTROL_TOKEN"},  // empty: none
      {1, {{bind, "localhost"}}, false, "not a numeric IP address"},
      {1, {{port, "59a"}}, false, "not a port number"},
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
