#pragma once

// A backlog of kept lines drained by a slow alarm server while the gateway is killed or stopped
// again and again: which lines never arrive, and which arrive twice. Shared by
// tools/keep_drain.cpp (the figures) and the integration tests (the promise, at a smaller size).

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ToolSupport.h"

namespace tarvel::tools {

struct KeepDrainOptions {
  int Lines = 200000;  // of 100 bytes each as the alarm server gets them
  // One round per signal: the alarm server reads slowly for RoundMs, then the gateway gets
  // the signal (SIGKILL or SIGTERM) and is started again.
  std::vector<int> Signals;
  int BytesPerSecond = 1 << 20;  // the slow alarm server's reading rate
  int RoundMs = 2000;
};

struct KeepDrainResult {
  size_t Lines = 0;
  size_t Received = 0;     // whole lines the alarm server got, doubles counted
  size_t Lost = 0;         // lines that never arrived
  size_t Doubled = 0;      // extra copies of lines that arrived more than once
  size_t LeftAtStops = 0;  // stop log lines saying what was left for the next start
  bool Ok = true;          // every start and every backlog came up
  std::string Problem;
};

// The alarm server's line of backlog line n (100 bytes with its line feed).
inline std::string KeepDrainLine(int n) {
  std::string tag = std::to_string(1000000 + n);
  std::string line = "1|2017-06-07|10:20:30|D" + tag + "||||";
  line.resize(99, 'x');
  return line + "\n";
}

// start() starts the gateway in folder with an INI that keeps lines in a keep file and has one
// TCP server port at inputPort, and returns it; ostrelPort is its alarm-server port.
inline KeepDrainResult DrainKeptLinesWithInterruptions(
    const TempFolder& folder, int ostrelPort, int inputPort,
    const std::function<std::unique_ptr<ChildProcess>()>& start, const KeepDrainOptions& options) {
  KeepDrainResult result;
  result.Lines = static_cast<size_t>(options.Lines);
  size_t starts = 0;
  auto startGateway = [&] {
    auto gateway = start();
    if (!WaitUntil([&] { return folder.CountMessages("Running: ") > starts; }, 60000ms)) {
      result.Ok = false;
      result.Problem = "the gateway did not start: " + gateway->Output();
    }
    ++starts;
    return gateway;
  };
  auto gateway = startGateway();
  if (!result.Ok) return result;
  {
    std::string input;
    for (int n = 0; n < options.Lines; ++n) {
      // The equipment's message whose event line is KeepDrainLine(n).
      const std::string line = KeepDrainLine(n);
      const size_t tagEnd = line.find("||||");
      std::string tag = line.substr(22, tagEnd - 22);
      tag.resize(18, ' ');
      input += "ALARM 07-06-2017 10:20:30 " + tag +
               line.substr(tagEnd + 4, line.size() - tagEnd - 5) + "\r\n";
    }
    Client equipment(inputPort);
    equipment.Send(input);
  }
  // Kept once the file has stopped growing (its layout is the gateway's business).
  uint64_t size = 0;
  int still = 0;
  for (int waited = 0; still < 10 && waited < 1200; ++waited) {
    std::this_thread::sleep_for(100ms);
    std::error_code missing;
    const uint64_t now = std::filesystem::file_size(folder.Path() + "kept.dat", missing);
    still =
        !missing && now == size && now > static_cast<uint64_t>(options.Lines) * 100 ? still + 1 : 0;
    size = missing ? 0 : now;
  }
  if (still < 10) {
    result.Ok = false;
    result.Problem = "the backlog was not kept in the file";
    return result;
  }

  std::map<std::string, size_t> seen;
  auto takeWholeLines = [&](std::string text) {
    const size_t end = text.rfind('\n');
    text.resize(end == std::string::npos ? 0 : end + 1);
    for (size_t at = 0; at < text.size();) {
      const size_t next = text.find('\n', at);
      // A line cut by a kill can be followed at once by the next connection's: only lines of
      // the right shape count.
      const std::string line = text.substr(at, next + 1 - at);
      if (line.size() == 100 && line.starts_with("1|")) {
        ++seen[line];
        ++result.Received;
      }
      at = next + 1;
    }
  };
  for (const int signalNumber : options.Signals) {
    Client alarmServer(ostrelPort);
    alarmServer.ShrinkReceiveBuffer(64 * 1024);
    const auto roundEnd = SteadyClock::now() + std::chrono::milliseconds(options.RoundMs);
    const size_t perTenMs = static_cast<size_t>(options.BytesPerSecond / 100);
    while (SteadyClock::now() < roundEnd) {
      std::this_thread::sleep_for(10ms);
      alarmServer.ReadAtMost(perTenMs);
    }
    gateway->Signal(signalNumber);
    gateway->WaitForExit(60s);
    // What the gateway's kernel holds still arrives; then the connection ends.
    alarmServer.WaitForClose(10000ms);
    takeWholeLines(alarmServer.Received());
    gateway = startGateway();
    if (!result.Ok) return result;
  }
  Client alarmServer(ostrelPort);
  const std::string last = KeepDrainLine(options.Lines - 1);
  std::string received;
  for (size_t before = SIZE_MAX; received.size() != before;) {
    before = received.size();
    received = alarmServer.ReadUntil(last, 5000ms);
    if (received.find(last) != std::string::npos) break;
  }
  takeWholeLines(received);
  for (int n = 0; n < options.Lines; ++n) {
    const auto found = seen.find(KeepDrainLine(n));
    if (found == seen.end()) {
      ++result.Lost;
    } else {
      result.Doubled += found->second - 1;
    }
  }
  for (const std::string& message : folder.Messages())
    result.LeftAtStops += message.find(" left for the next start") != std::string::npos;
  return result;
}

}  // namespace tarvel::tools
