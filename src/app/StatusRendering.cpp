#include "app/StatusRendering.h"

#include <cstdio>

#include "text/DateTime.h"
#include "text/DecimalText.h"

namespace tarvel {
namespace {

std::string TimeText(const DateTime& value) {
  return FormatDate(value) + " " + FormatTime(value);
}

// Appends an 8-bit ISO 8859-1 text as a JSON string: UTF-8, with quotes, backslashes and
// control characters escaped.
void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else if (byte >= 0x80) {
      out += static_cast<char>(0xc0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3f));
    } else {
      out += c;
    }
  }
  out += '"';
}

// Writes one JSON object's members with commas in the right places.
class JsonObject {
 public:
  explicit JsonObject(std::string& out) : out_(out) { out_ += '{'; }
  void Text(std::string_view name, std::string_view value) {
    Name(name);
    AppendJsonString(out_, value);
  }
  void Number(std::string_view name, uint64_t value) {
    Name(name);
    out_ += std::to_string(value);
  }
  void Signed(std::string_view name, int64_t value) {
    Name(name);
    AppendDecimal(out_, value);
  }
  void Null(std::string_view name) {
    Name(name);
    out_ += "null";
  }
  void Flag(std::string_view name, bool value) {
    Name(name);
    out_ += value ? "true" : "false";
  }
  void Time(std::string_view name, const std::optional<LocalTime>& value) {
    if (value) {
      Text(name, TimeText(DateTime::FromLocalTime(*value)));
    } else {
      Null(name);
    }
  }
  // The caller writes the value (an object or array) right after.
  void Name(std::string_view name) {
    if (!first_) out_ += ',';
    first_ = false;
    AppendJsonString(out_, name);
    out_ += ':';
  }
  void Close() { out_ += '}'; }

 private:
  std::string& out_;
  bool first_ = true;
};

void AppendOstrel(std::string& out, const StatusSnapshot::Ostrel& ostrel) {
  JsonObject object(out);
  object.Text("state", ostrel.State);
  object.Flag("listening", ostrel.Listening);
  object.Signed("port", ostrel.Port);
  object.Flag("connected", ostrel.Connected);
  object.Text("peer", ostrel.Peer);
  object.Time("connectedSince", ostrel.Connected ? ostrel.Totals.ConnectedAt : std::nullopt);
  object.Number("connections", ostrel.Totals.Connections);
  object.Number("refusedConnections", ostrel.Totals.RefusedConnections);
  object.Number("linesSent", ostrel.Totals.LinesSent);
  object.Number("bytesSent", ostrel.Totals.BytesSent);
  object.Number("bytesReceived", ostrel.Totals.BytesReceived);
  object.Flag("keeping", ostrel.Keeping);
  object.Number("keptLines", ostrel.KeptLines);
  object.Number("keptBytes", ostrel.KeptBytes);
  object.Number("keptLimitBytes", ostrel.KeptLimitBytes);
  object.Number("linesDroppedAtLimit", ostrel.Totals.LinesDroppedAtLimit);
  object.Number("linesNotKept", ostrel.Totals.LinesNotKept);
  object.Close();
}

const char* SilenceState(const StatusSnapshot::Port& port) {
  if (port.PollFailTimeout <= 0) return "off";
  return port.Failed ? "failed" : "ok";
}

void AppendPort(std::string& out, const StatusSnapshot::Port& port, const LocalTime& now) {
  JsonObject object(out);
  object.Signed("port", port.Number);
  object.Text("description", port.Description);
  object.Text("kind", PortKindName(port.Kind));
  object.Text("status", port.Status);
  object.Flag("connected", port.Connected);
  object.Text("peer", port.Peer);
  object.Number("bytesReceived", port.Totals.BytesReceived);
  object.Number("linesReceived", port.Totals.LinesReceived);
  object.Number("eventsForwarded", port.Totals.EventsForwarded);
  object.Number("linesRejected", port.Totals.LinesRejected);
  object.Time("lastLine", port.Totals.LastLineAt);
  object.Text("silence", SilenceState(port));
  object.Signed("pollFailTimeout", port.PollFailTimeout);
  object.Time("failedSince", port.Failed ? port.Totals.FailedAt : std::nullopt);
  object.Time("restoredAt", port.Totals.RestoredAt);
  object.Number("silenceFailures", port.Totals.SilenceFailures);
  object.Number("reconnects", port.Totals.Reconnects);
  if (port.NextAttemptSeconds) {
    const int32_t seconds = *port.NextAttemptSeconds;
    object.Text("nextAttempt", TimeText(DateTime::FromLocalTime(now).PlusSeconds(seconds)));
    object.Signed("nextAttemptInSeconds", seconds);
  } else {
    object.Null("nextAttempt");
    object.Null("nextAttemptInSeconds");
  }
  object.Number("refusedConnections", port.Totals.RefusedConnections);
  object.Close();
}

constexpr std::string_view MetricPrefix = "tarvel80import_";

// One metric family: its HELP and TYPE lines, then its samples.
class MetricWriter {
 public:
  explicit MetricWriter(std::string& out) : out_(out) {}
  // name: without the prefix, unless `prefixed` is false (the names every exporter shares).
  void Family(std::string_view name, std::string_view type, std::string_view help,
              bool prefixed = true) {
    name_ = prefixed ? MetricPrefix : "";
    name_ += name;
    out_.append("# HELP ").append(name_).append(" ").append(help).append("\n");
    out_.append("# TYPE ").append(name_).append(" ").append(type).append("\n");
  }
  void Sample(uint64_t value) {
    out_.append(name_).append(" ").append(std::to_string(value) + "\n");
  }
  // Label values here are the program's own texts, which need no escaping.
  void Sample(std::string_view label, std::string_view labelValue, uint64_t value) {
    out_.append(name_).append("{").append(label).append("=\"").append(labelValue).append("\"} ");
    out_.append(std::to_string(value)).append("\n");
  }
  void Sample(const StatusSnapshot::Port& port, uint64_t value) {
    out_.append(name_).append("{port=\"").append(std::to_string(port.Number));
    out_.append("\",kind=\"").append(PortKindName(port.Kind)).append("\"} ");
    out_.append(std::to_string(value)).append("\n");
  }

 private:
  std::string& out_;
  std::string name_;
};

}  // namespace

std::string RenderStatusJson(const StatusSnapshot& snapshot) {
  std::string out;
  JsonObject root(out);
  root.Text("version", snapshot.Version);
  root.Time("started", snapshot.StartedAt);
  root.Time("now", snapshot.Now);
  root.Name("ostrel");
  AppendOstrel(out, snapshot.TheOstrel);
  root.Name("watchdog");
  {
    JsonObject watchDog(out);
    watchDog.Text("tag", snapshot.TheWatchDog.TagName);
    watchDog.Signed("intervalSeconds", snapshot.TheWatchDog.IntervalSeconds);
    watchDog.Signed("secondsSinceLast", snapshot.TheWatchDog.SecondsSinceLast);
    watchDog.Close();
  }
  root.Name("ports");
  out += '[';
  for (size_t i = 0; i < snapshot.Ports.size(); ++i) {
    if (i > 0) out += ',';
    AppendPort(out, snapshot.Ports[i], snapshot.Now);
  }
  out += ']';
  root.Name("log");
  out += '[';
  for (size_t i = 0; i < snapshot.LogLines.size(); ++i) {
    if (i > 0) out += ',';
    AppendJsonString(out, snapshot.LogLines[i]);
  }
  out += ']';
  root.Close();
  out += '\n';
  return out;
}

std::string RenderMetrics(const StatusSnapshot& snapshot) {
  std::string out;
  MetricWriter metric(out);
  const StatusSnapshot::Ostrel& ostrel = snapshot.TheOstrel;
  const auto& totals = ostrel.Totals;

  struct Family {
    const char* Name;
    const char* Type;
    const char* Help;
    uint64_t Value;
  };
  // As Prometheus exporters have them: the version as a label of a constant 1, and the start
  // time under the name every process exporter uses.
  metric.Family("build_info", "gauge", "The running gateway's version, as a label; always 1.");
  metric.Sample("version", snapshot.Version, 1);
  metric.Family("process_start_time_seconds", "gauge",
                "Start time of the process since unix epoch in seconds.", false);
  metric.Sample(static_cast<uint64_t>(snapshot.StartedAtEpochSeconds));

  const Family families[] = {
      // Kept under its earlier name too: dashboards may read it so.
      {"start_time_seconds", "gauge", "Start time of the process since the Unix epoch.",
       static_cast<uint64_t>(snapshot.StartedAtEpochSeconds)},
      {"supervision_ticks_total", "counter", "Supervision ticks run.", snapshot.Ticks},
      {"ostrel_listening", "gauge", "1 while the alarm-server listener listens.", ostrel.Listening},
      {"ostrel_connected", "gauge", "1 while an alarm server is connected.", ostrel.Connected},
      {"ostrel_connections_total", "counter", "Alarm-server connections accepted.",
       totals.Connections},
      {"ostrel_refused_connections_total", "counter",
       "Alarm-server connections refused by OstrelAllowedHosts.", totals.RefusedConnections},
      {"ostrel_sent_lines_total", "counter", "Lines sent to the alarm server.", totals.LinesSent},
      {"ostrel_sent_bytes_total", "counter", "Bytes sent to the alarm server.", totals.BytesSent},
      {"ostrel_received_bytes_total", "counter", "Bytes received from the alarm server.",
       totals.BytesReceived},
      {"kept_lines", "gauge", "Event lines kept while no alarm server is connected.",
       ostrel.KeptLines},
      {"kept_bytes", "gauge", "Bytes of the kept event lines.", ostrel.KeptBytes},
      {"kept_limit_bytes", "gauge", "Kept text size at which further lines are dropped.",
       ostrel.KeptLimitBytes},
      {"kept_lines_dropped_total", "counter", "Event lines dropped because the kept text was full.",
       totals.LinesDroppedAtLimit},
      {"lines_not_kept_total", "counter",
       "Event lines dropped while no alarm server was connected and keeping is off.",
       totals.LinesNotKept},
  };
  for (const Family& family : families) {
    metric.Family(family.Name, family.Type, family.Help);
    metric.Sample(family.Value);
  }

  struct PortFamily {
    const char* Name;
    const char* Type;
    const char* Help;
    uint64_t (*Value)(const StatusSnapshot::Port&);
  };
  static constexpr PortFamily PortFamilies[] = {
      {"port_connected", "gauge", "1 while the input port is connected (a serial port: open).",
       [](const StatusSnapshot::Port& p) -> uint64_t { return p.Connected; }},
      {"port_silence_failed", "gauge", "1 while the input port is reported failed for silence.",
       [](const StatusSnapshot::Port& p) -> uint64_t { return p.Failed; }},
      {"received_bytes_total", "counter", "Bytes received on the input port.",
       [](const StatusSnapshot::Port& p) { return p.Totals.BytesReceived; }},
      {"received_lines_total", "counter", "Line-feed-ended lines received on the input port.",
       [](const StatusSnapshot::Port& p) { return p.Totals.LinesReceived; }},
      {"forwarded_events_total", "counter", "Event lines made from the input port's input.",
       [](const StatusSnapshot::Port& p) { return p.Totals.EventsForwarded; }},
      {"rejected_lines_total", "counter", "Input lines rejected as unreadable.",
       [](const StatusSnapshot::Port& p) { return p.Totals.LinesRejected; }},
      {"silence_failures_total", "counter", "Times the input port was reported failed for silence.",
       [](const StatusSnapshot::Port& p) { return p.Totals.SilenceFailures; }},
      {"reconnects_total", "counter", "Connection attempts of a TCP client port.",
       [](const StatusSnapshot::Port& p) { return p.Totals.Reconnects; }},
      {"refused_connections_total", "counter", "Connections refused on a TCP server port.",
       [](const StatusSnapshot::Port& p) { return p.Totals.RefusedConnections; }},
  };
  for (const PortFamily& family : PortFamilies) {
    metric.Family(family.Name, family.Type, family.Help);
    for (const StatusSnapshot::Port& port : snapshot.Ports) metric.Sample(port, family.Value(port));
  }
  return out;
}

namespace {

StatusAnswer AnswerGet(std::string_view path, const StatusRequestContext& context) {
  if (path == "/") return {200, "text/html; charset=utf-8", std::string(StatusPageHtml())};
  if (path == "/status.json")
    return {200, "application/json", RenderStatusJson(context.Snapshot())};
  if (path == "/metrics")
    return {200, "text/plain; version=0.0.4; charset=utf-8", RenderMetrics(context.Snapshot())};
  const std::string port = std::to_string(context.OstrelPort);
  if (!context.OstrelListening)
    return {503, "text/plain; charset=utf-8",
            "unhealthy: the alarm-server listener on port " + port + " is not listening\n"};
  if (context.MsSinceTick > HealthyTickGapMs)
    return {503, "text/plain; charset=utf-8",
            "unhealthy: the supervision tick has not run for " +
                std::to_string(context.MsSinceTick / 1000) + " s\n"};
  return {200, "text/plain; charset=utf-8",
          "ok: event loop running, alarm-server listener on port " + port + " listening\n"};
}

}  // namespace

StatusAnswer AnswerStatusRequest(std::string_view method, std::string_view path,
                                 const StatusRequestContext& context) {
  const bool known =
      path == "/" || path == "/status.json" || path == "/metrics" || path == "/healthz";
  const bool head = method == "HEAD";
  StatusAnswer answer;
  if (!known) {
    answer = {404, "text/plain; charset=utf-8", "Not found\n"};
  } else if (method != "GET" && !head) {
    return {405, "text/plain; charset=utf-8", "Method not allowed\n"};
  } else {
    answer = AnswerGet(path, context);
  }
  answer.SendBody = !head;
  return answer;
}

}  // namespace tarvel
