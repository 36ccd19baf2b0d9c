#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/StatusSnapshot.h"

namespace tarvel {

// The status server's answers, made from a snapshot in plain C++; the HTTP layer only sends
// them. Texts of the gateway are 8-bit ISO 8859-1; the answers are UTF-8.

// GET /status.json: the snapshot as one JSON object (the README lists its fields).
std::string RenderStatusJson(const StatusSnapshot& snapshot);

// GET /metrics: Prometheus text exposition format 0.0.4.
std::string RenderMetrics(const StatusSnapshot& snapshot);

// GET /: the page, its style and its script; it fills itself from /status.json.
std::string_view StatusPageHtml();

struct StatusAnswer {
  int Code = 200;
  std::string ContentType;
  std::string Body;      // its size is the Content-Length, also when it is not sent
  bool SendBody = true;  // false for HEAD: the head that GET gets, without the body
};

// What the status server answers to one request. Only GET and HEAD on the four paths; the
// snapshot is taken only for the paths that show it. msSinceTick: how long ago the supervision tick
// was last seen to run.
struct StatusRequestContext {
  std::function<StatusSnapshot()> Snapshot;
  bool OstrelListening = false;
  int32_t OstrelPort = 0;
  int64_t MsSinceTick = 0;
};
StatusAnswer AnswerStatusRequest(std::string_view method, std::string_view path,
                                 const StatusRequestContext& context);

// The methods answered, for the Allow header of a 405.
inline constexpr const char* AllowedStatusMethods = "GET, HEAD";

// The longest tick gap that /healthz accepts.
inline constexpr int64_t HealthyTickGapMs = 5000;

}  // namespace tarvel
