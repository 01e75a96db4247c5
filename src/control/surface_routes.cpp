#include "surface_routes.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "as_run_log.h"
#include "state_json.h"
#include "websocket.h"

namespace plombix::control {
namespace {

constexpr size_t kDefaultAsRunLimit = 100;
constexpr size_t kMaxAsRunLimit = 1000;

MHD_Result QueueText(MHD_Connection* connection, unsigned status, const std::string& body,
                     const char* extraName = nullptr, const char* extraValue = nullptr) {
  MHD_Response* response =
      MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", "application/json; charset=utf-8");
  MHD_add_response_header(response, "Cache-Control", "no-store");
  // A refused event client (often one retrying in a loop) is not kept waiting on the connection.
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  if (extraName) MHD_add_response_header(response, extraName, extraValue);
  const MHD_Result rc = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return rc;
}

void Upgraded(void* cls, MHD_Connection*, void*, const char* extra, size_t extraSize, MHD_socket sock,
              MHD_UpgradeResponseHandle* handle) {
  auto close = [handle] { MHD_upgrade_action(handle, MHD_UPGRADE_ACTION_CLOSE); };
  static_cast<HubSlot*>(cls)->with([&](EventHub* hub) {
    if (!hub) return close();
    (void)hub->addWebSocket(sock, std::string_view(extra ? extra : "", extra ? extraSize : 0), close);
  });
}

// One Server-Sent Events client: the stream and the connection it parks.
struct SseClient {
  std::shared_ptr<EventStream> stream;
  MHD_Connection* connection;
};

ssize_t SseRead(void* cls, uint64_t, char* buffer, size_t max) {
  auto* client = static_cast<SseClient*>(cls);
  MHD_Connection* connection = client->connection;
  const ssize_t n = client->stream->read(buffer, max, [connection] { MHD_suspend_connection(connection); });
  return n < 0 ? ssize_t(MHD_CONTENT_READER_END_OF_STREAM) : n;
}

void SseFree(void* cls) { delete static_cast<SseClient*>(cls); }

MHD_Result QueueWebSocket(MHD_Connection* connection, const WebSocketHeaders& headers, HubSlot& slot) {
  const HandshakeAnswer answer = CheckHandshake(headers);
  if (answer.status != 101)
    return QueueText(connection, unsigned(answer.status), ErrorJson(answer.error),
                     answer.status == 426 ? "Sec-WebSocket-Version" : nullptr, "13");
  const bool room = slot.with([](EventHub* hub) { return hub && hub->hasRoom(); });
  if (!room) return QueueText(connection, 503, ErrorJson("too many event clients"));
  MHD_Response* response = MHD_create_response_for_upgrade(&Upgraded, &slot);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_UPGRADE, "websocket");
  MHD_add_response_header(response, "Sec-WebSocket-Accept", answer.accept.c_str());
  const MHD_Result rc = MHD_queue_response(connection, MHD_HTTP_SWITCHING_PROTOCOLS, response);
  MHD_destroy_response(response);
  return rc;
}

}  // namespace

void HubSlot::set(std::unique_ptr<EventHub> hub) {
  std::lock_guard<std::mutex> lock(mutex_);
  hub_ = std::move(hub);
}

std::unique_ptr<EventHub> HubSlot::take() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::move(hub_);
}

MHD_Result QueueEvents(MHD_Connection* connection, HubSlot& slot) {
  auto header = [connection](const char* name) {
    return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  };
  const WebSocketHeaders ws{header("Upgrade"), header("Connection"), header("Sec-WebSocket-Version"),
                            header("Sec-WebSocket-Key")};
  if (AsksForWebSocket(ws)) return QueueWebSocket(connection, ws, slot);

  std::shared_ptr<EventStream> stream = slot.with([connection](EventHub* hub) {
    return hub ? hub->addStream([connection] { MHD_resume_connection(connection); }) : nullptr;
  });
  if (!stream) return QueueText(connection, 503, ErrorJson("too many event clients"));
  auto* client = new SseClient{std::move(stream), connection};
  MHD_Response* response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, &SseRead, client, &SseFree);
  if (!response) {
    delete client;
    return MHD_NO;
  }
  MHD_add_response_header(response, "Content-Type", "text/event-stream; charset=utf-8");
  MHD_add_response_header(response, "Cache-Control", "no-store");
  MHD_add_response_header(response, "X-Accel-Buffering", "no");
  // The connection ends with the stream: it never becomes an idle one kept alive.
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  // A stream stays open while nothing happens: the hub's keep-alive lines,
  // not the idle time-out, notice a client that has gone.
  MHD_set_connection_option(connection, MHD_CONNECTION_OPTION_TIMEOUT, 0u);
  const MHD_Result rc = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);
  return rc;
}

SurfaceAnswer AsRunAnswer(const std::string& file, const char* since, const char* limit) {
  if (file.empty()) return {404, ErrorJson("the as-run log is off")};
  std::optional<AsRunClock::time_point> from;
  if (since && *since) {
    from = ParseAsRunTime(since);
    if (!from) return {400, ErrorJson("\"since\" must be a UTC time like 2026-12-07T10:00:00.000Z")};
  }
  size_t count = kDefaultAsRunLimit;
  if (limit && *limit) {
    char* end = nullptr;
    const long value = std::strtol(limit, &end, 10);
    if (*end || value < 1 || size_t(value) > kMaxAsRunLimit)
      return {400, ErrorJson("\"limit\" must be from 1 to " + std::to_string(kMaxAsRunLimit))};
    count = size_t(value);
  }
  std::vector<std::string> lines;
  if (!ReadAsRun(file, from, count, &lines)) return {500, ErrorJson("the as-run log cannot be read")};
  std::string body = "{\"entries\":[";
  for (size_t i = 0; i < lines.size(); ++i) (body += i ? "," : "") += lines[i];
  body += "]}";
  return {200, body};
}

}  // namespace plombix::control
