// The event stream's cost to the window, beside BM_Memcpy/1920/1080 in the
// same run.
//
// BM_EventPublish/N: wall time of one EventHub::publish on the calling
// thread (the window's) with N WebSocket clients connected over socket
// pairs, a full state (StateJson with a long picture path) as the message.
// A thread reads the clients' ends; after each publish the timer is paused
// until every client has the message, so each publish meets N live clients
// (none dropped; the "dropped" counter says so). With the second argument
// 1, each change also costs what the window pays before it: the state
// compared with the last one published and serialised (StateJson), as on
// every change. Target at N = 32: less than 0.1 x BM_Memcpy/1920/1080.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "event_hub.h"
#include "state_json.h"

namespace {

using namespace plombix::control;

void BM_EventPublish(benchmark::State& state) {
  const int clients = int(state.range(0));
  const bool serialise = state.range(1) != 0;
  std::string error;
  std::unique_ptr<EventHub> hub = EventHub::Start({.maxQueued = 1024}, &error);
  if (!hub) return state.SkipWithError(error.c_str());
  std::vector<int> ours;
  for (int i = 0; i < clients; ++i) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return state.SkipWithError("socketpair");
    ours.push_back(fds[1]);
    const int theirs = fds[0];
    if (!hub->addWebSocket(theirs, {}, [theirs] { ::close(theirs); })) return state.SkipWithError("refused");
  }
  std::atomic<bool> done{false};
  std::atomic<uint64_t> received{0};
  std::thread reader([&] {
    std::vector<pollfd> fds;
    for (int fd : ours) fds.push_back(pollfd{fd, POLLIN, 0});
    char sink[65536];
    while (!done)
      if (::poll(fds.data(), fds.size(), 20) > 0)
        for (pollfd& p : fds)
          if (p.revents & POLLIN)
            if (const ssize_t n = ::recv(p.fd, sink, sizeof sink, MSG_DONTWAIT); n > 0) received += uint64_t(n);
  });

  ControlState s;
  s.instance = 1;
  s.source = "Vora Plombix 1";
  s.output = {1920, 1080, 30000, 1001, true};
  s.picture = PictureState{"/home/operator/shows/tonight/graphics/lower-thirds/slide004-final.png", 1920, 1080};
  s.slideshow = {SlideshowMode::Auto, 1, 120, 4, 2, 5};
  const std::string json = StateJson(s);
  const uint64_t frameBytes = EventJson("picture", json, {{"trigger", "api"}}).size() + 4;  // + a 4-byte head
  uint64_t expected = 0;
  ControlState last;
  for (auto _ : state) {
    if (serialise) {
      benchmark::DoNotOptimize(s == last);
      last = s;
      hub->publish("picture", StateJson(s), {{"trigger", "api"}});
    } else {
      hub->publish("picture", json, {{"trigger", "api"}});
    }
    state.PauseTiming();
    expected += frameBytes * uint64_t(clients);
    while (received < expected && hub->dropped() == 0) std::this_thread::yield();
    state.ResumeTiming();
  }
  done = true;
  reader.join();
  state.counters["dropped"] = double(hub->dropped());
  hub.reset();
  for (int fd : ours) ::close(fd);
}
BENCHMARK(BM_EventPublish)->Args({0, 0})->Args({32, 0})->Args({32, 1})->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
