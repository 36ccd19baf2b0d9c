// The whole event pipeline behind fakes, driven by the input bytes:
//   bytes 0-7  port n: bits 0-1 PortKind, bit 2 Swedish7BitASCII2ISOLatin1, bit 3
//              DOSASCII2ISOLatin1, bit 4 ForceOldParsing, bits 5-6 PollFailTimeout (0-3 s),
//              bit 7 PollFailRemindTime 2 s (else 0)
//   byte 8     bit 0 BufferIfOstrelNotConnected, bit 1 alarm server connected at the start,
//              bits 2-3 WatchDogInterval (0-3 s)
//   then steps, each an operation byte: the top three bits the kind, the low three the port
//     0-3  a reception: a length byte, then that many bytes (fewer at the end of the input)
//     4    (low five bits + 1) timer ticks
//     5    the alarm server connects (bit 0 clear) or closes its connection (bit 0 set)
//     6    a TCP server port's peer closes (bit 3 set) or a new peer connects (bit 3 clear)
//     7    a long reception: length byte, repeat byte, then the bytes, received (repeat + 1) * 64
//          times in one piece (bit 3 clear) or one by one (bit 3 set, at most 4096 receptions),
//          at most 40000 bytes
// After every step the alarm server's lines and the kept lines are checked, and no event line of
// a ForceOldParsing port received while the alarm server is connected may be missing.

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "app/GatewayAssembly.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeSerialControl.h"
#include "fakes/FakeSocketControl.h"
#include "fakes/FakeUpdateTimer.h"
#include "input/InputPort.h"
#include "state/PortControls.h"
#include "ui/InMemoryViews.h"

// The harness's own checks are left out of the coverage the fuzzer steers by: traced, every byte
// they compare costs a call, and their branches say nothing about the gateway.
#if defined(__clang__)
#define UNTRACED __attribute__((no_sanitize("coverage")))
#else
#define UNTRACED
#endif

namespace tarvel {
namespace {

constexpr std::size_t SetupBytes = PortCount + 1;
constexpr std::size_t LongReceptionLimit = 40000;
// Enough for pieces of 8 bytes to pass the longest line; more would only slow the fuzzer.
constexpr std::size_t MaxReceptionsOneByOne = 4096;
const std::string WatchDogTag = "WATCHDOG";

// Reads the input from the front; past the end it gives zeros and empty texts.
class InputReader {
 public:
  InputReader(const uint8_t* data, std::size_t size)
      : text_(reinterpret_cast<const char*>(data), size) {}
  bool AtEnd() const { return position_ >= text_.size(); }
  uint8_t Byte() { return AtEnd() ? 0 : static_cast<uint8_t>(text_[position_++]); }
  std::string_view Bytes(std::size_t count) {
    const std::string_view taken = text_.substr(std::min(position_, text_.size()), count);
    position_ += taken.size();
    return taken;
  }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
};

UNTRACED bool IsDigits(std::string_view text, std::string_view layout) {
  if (text.size() != layout.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (layout[i] == '9' ? !digit : text[i] != layout[i]) return false;
  }
  return true;
}

// One alarm-server line without its line feed: the watchdog "1|||" + tag, or an event
// "StateCode|EventDate|EventTime|Tag||||Text" with the date and time either both empty
// (supervision events) or "YYYY-MM-DD" and "HH:NN:SS".
UNTRACED void CheckAlarmServerLine(std::string_view line) {
  Require(line.size() >= 2 && line[0] >= '0' && line[0] <= '2' && line[1] == '|',
          "an alarm-server line starts with a state code and |");
  if (line == "1|||" + WatchDogTag) return;
  std::string_view rest = line.substr(2);
  if (rest.substr(0, 2) == "||") {
    rest.remove_prefix(2);
  } else {
    Require(rest.size() >= 20 && IsDigits(rest.substr(0, 20), "9999-99-99|99:99:99|"),
            "an event line has |YYYY-MM-DD|HH:NN:SS|");
    rest.remove_prefix(20);
  }
  Require(rest.find("||||") != std::string_view::npos, "an event line has |||| after the tag");
}

// Every line ends with exactly one line feed: no empty line, nothing after the last feed.
// Gives the number of lines that carry a received event (those with a date).
UNTRACED std::size_t CheckAlarmServerText(std::string_view text) {
  Require(text.empty() || text.back() == '\n', "alarm-server text ends with a line feed");
  std::size_t events = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    CheckAlarmServerLine(line);
    if (line.size() > 2 && line[2] != '|') ++events;
    text.remove_prefix(end + 1);
  }
  return events;
}

UNTRACED std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

UNTRACED bool IsEventType(std::string_view word) {
  std::string upper(word);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper == "NORMAL" || upper == "ALARM" || upper == "DELAY" || upper == "ACKNOW";
}

// A line of the single-line format that must become one event line: a known event type, then
// after the date and time (19 characters from the first non-blank after the type) an
// 18-character tag and a text, neither empty.
UNTRACED bool IsSingleLineEvent(std::string_view rawLine) {
  const std::string_view line = Trimmed(rawLine);
  if (line.size() > InputPort::MaxLineLength) return false;
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos || !IsEventType(line.substr(0, blank))) return false;
  const std::string_view fields = Trimmed(line.substr(blank));
  if (fields.size() <= 19) return false;
  const std::string_view rest = Trimmed(fields.substr(19));
  return !Trimmed(rest.substr(0, 18)).empty() && rest.size() > 18 &&
         !Trimmed(rest.substr(18)).empty();
}

// The framing of one port as the operator expects it: CR and FF dropped, lines ended by LF,
// unfinished text beyond the longest line dropped up to the next LF. Works on whole pieces
// between line feeds, so it costs no more than the gateway's own framing.
class FramingModel {
 public:
  // The number of event lines that the data completes.
  UNTRACED std::size_t Receive(std::string_view data) {
    std::size_t events = 0;
    for (;;) {
      const std::size_t lineFeed = data.find('\n');
      if (!skipping_) Keep(data.substr(0, lineFeed));
      if (lineFeed == std::string_view::npos) break;
      if (!skipping_ && IsSingleLineEvent(buffer_)) ++events;
      skipping_ = false;
      buffer_.clear();
      data.remove_prefix(lineFeed + 1);
    }
    if (buffer_.size() > InputPort::MaxLineLength) {
      buffer_.clear();
      skipping_ = true;
    }
    return events;
  }
  void Clear() {
    buffer_.clear();
    skipping_ = false;
  }

 private:
  UNTRACED void Keep(std::string_view piece) {
    for (;;) {
      const std::size_t dropped = piece.find_first_of("\r\f");
      buffer_.append(piece.substr(0, dropped));
      if (dropped == std::string_view::npos) return;
      piece.remove_prefix(dropped + 1);
    }
  }

  std::string buffer_;
  bool skipping_ = false;
};

// Every log line is checked; the log folder does not exist, so a line costs one failed open.
UNTRACED void CheckLogLine(const std::string& line) {
  Require(line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0,
          "a log line ends with CR LF");
  for (std::size_t i = 0; i + 2 < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    Require(c >= 32 && c != 127, "a log line holds no control byte");
  }
}

class Pipeline {
 public:
  explicit Pipeline(InputReader& input) {
    assembly_.Log.SetObserver(CheckLogLine);
    for (int16_t port = 0; port < PortCount; ++port) SetUpPort(port, input.Byte());
    const uint8_t general = input.Byte();
    state_.General.BufferIfOstrelNotConnected = (general & 0x01) != 0;
    state_.General.WatchDogInterval = (general >> 2) & 0x03;
    state_.General.WatchDogTagName = WatchDogTag;
    state_.General.ReconnectInterval = 2;
    ostrelListener_.Listen();
    if (general & 0x02) ConnectOstrel();
  }

  void Step(InputReader& input) {
    const uint8_t op = input.Byte();
    const auto port = static_cast<int16_t>(op & 0x07);
    switch (op >> 5) {
      case 0:
      case 1:
      case 2:
      case 3:
        Receive(port, std::string(input.Bytes(input.Byte())));
        break;
      case 4:
        timer_.Ticks((op & 0x1F) + 1);
        break;
      case 5:
        if (op & 0x01) {
          ostrelData_.FireClose();
        } else {
          ConnectOstrel();
        }
        break;
      case 6:
        if (gateway_.PortSettings(port).Kind != PortKind::TcpServer) break;
        if (op & 0x08) {
          ports_.WinsockData(port).FireClose();
        } else {
          const bool wasConnected = ports_.WinsockData(port).State() == SocketControl::Connected;
          ports_.WinsockConnect(port).RequestConnection("192.0.2.7", 4000 + port);
          // A new peer starts afresh.
          if (!wasConnected) models_[port].Clear();
        }
        break;
      default:
        LongReception(input, port, (op & 0x08) != 0);
        break;
    }
    CheckState();
  }

  UNTRACED void CheckState() {
    const bool connected = ostrelData_.State() == SocketControl::Connected;
    const std::string sent = ostrelData_.TakeSent();
    Require(connected || sent.empty(), "nothing is sent while no alarm server is connected");
    // Every received event needs a line of its own at least: none is sent twice.
    eventsSent_ += CheckAlarmServerText(sent);
    Require(eventsSent_ <= lineFeedsReceived_, "no more events sent than lines received");
    Require(eventsSent_ >= eventsExpected_, "every single-line event reaches the alarm server");
  }

  // Kept lines go to a newly connected alarm server within a tick, and are checked there.
  void Finish() {
    ConnectOstrel();
    timer_.Tick();
    CheckState();
  }

 private:
  void SetUpPort(int16_t port, uint8_t setup) {
    PortEntry& entry = gateway_.PortSettings(port);
    entry.Kind = static_cast<PortKind>(setup & 0x03);
    entry.Swedish7BitASCII2ISOLatin1 = (setup & 0x04) != 0;
    entry.DOSASCII2ISOLatin1 = (setup & 0x08) != 0;
    entry.ForceOldParsing = (setup & 0x10) != 0;
    entry.PollFailTimeout = (setup >> 5) & 0x03;
    entry.PollFailRemindTime = (setup & 0x80) ? 2 : 0;
    if (entry.Kind == PortKind::NotUsed) return;
    entry.Description = "Panel " + std::to_string(port);
    entry.ConnectionListItem = connectionList_.AddRow(entry.Description);
    if (entry.Kind == PortKind::TcpServer) ports_.WinsockConnect(port).Listen();
  }

  void ConnectOstrel() { ostrelListener_.RequestConnection("192.0.2.1", 5000); }

  UNTRACED void LongReception(InputReader& input, int16_t port, bool oneByOne) {
    const std::size_t length = input.Byte();
    const std::size_t wanted = (std::size_t{input.Byte()} + 1) * 64;
    const std::string piece(input.Bytes(length));
    if (piece.empty()) return;
    std::size_t repeats = std::min(wanted, LongReceptionLimit / piece.size());
    if (oneByOne) {
      repeats = std::min(repeats, MaxReceptionsOneByOne);
      for (std::size_t i = 0; i < repeats; ++i) Receive(port, piece);
      return;
    }
    std::string data;
    data.reserve(piece.size() * repeats);
    for (std::size_t i = 0; i < repeats; ++i) data += piece;
    Receive(port, data);
  }

  UNTRACED void Receive(int16_t port, const std::string& data) {
    lineFeedsReceived_ += static_cast<std::size_t>(std::count(data.begin(), data.end(), '\n'));
    const std::size_t events = models_[port].Receive(data);
    if (gateway_.PortSettings(port).ForceOldParsing &&
        ostrelData_.State() == SocketControl::Connected) {
      eventsExpected_ += events;
    }
    gateway_.ProcessReceivedData(port, data);
  }

  FakeClock clock_;
  FakeNetwork network_;
  InMemoryDebugList debugList_;
  InMemoryMenuChecks menus_;
  InMemoryConnectionList connectionList_;
  InMemoryStatusBar statusBar_;
  FakeUpdateTimer timer_;
  PortControls<FakeSocketControl, FakeSerialControl> ports_{
      [this] { return std::make_unique<FakeSocketControl>(&network_); },
      [] { return std::make_unique<FakeSerialControl>(); }};
  FakeSocketControl& ostrelListener_ = ports_.WinsockOstrelConnect();
  FakeSocketControl& ostrelData_ = ports_.WinsockOstrelData();
  GatewayAssembly assembly_{GatewaySurroundings{clock_, ports_.Wired(), connectionList_, statusBar_,
                                                debugList_, menus_, timer_, "", "/nowhere/"}};
  ProgramState& state_ = assembly_.State;
  Gateway& gateway_ = assembly_.TheGateway;
  std::size_t lineFeedsReceived_ = 0;
  std::size_t eventsSent_ = 0;
  std::array<FramingModel, PortCount> models_;
  std::size_t eventsExpected_ = 0;
};

}  // namespace
}  // namespace tarvel

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < tarvel::SetupBytes) return 0;
  tarvel::InputReader input(data, size);
  tarvel::Pipeline pipeline(input);
  while (!input.AtEnd()) pipeline.Step(input);
  pipeline.Finish();
  return 0;
}
