#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "app/StatusSnapshot.h"
#include "diag/LogFile.h"
#include "diag/TrafficTrace.h"
#include "input/InputPort.h"
#include "output/AlarmServerLink.h"
#include "platform/Clock.h"
#include "platform/KeepFileIo.h"
#include "platform/UpdateTimer.h"
#include "state/Controls.h"
#include "state/ProgramState.h"
#include "ui/ConnectionListView.h"
#include "ui/StatusBarView.h"

namespace tarvel {

// Everything the gateway's event handling needs from outside, owned by the caller.
struct GatewayContext {
  const ProgramState& State;  // filled in by start-up, read here
  const Clock& TheClock;
  LogFile& Log;
  TrafficTrace& Trace;
  const Controls& TheControls;
  ConnectionListView& ConnectionList;
  StatusBarView& StatusBar;
  UpdateTimer& Timer;
  KeepFileIo* KeepIo = nullptr;  // the keep file's I/O; null: kept lines in memory only
};

// The running gateway: the input ports, the event pipeline, the alarm-server link and
// the supervision tick, wired to the controls' events. Start-up configures the ports and
// calls into it; afterwards only events drive it.
class Gateway {
 public:
  explicit Gateway(const GatewayContext& context);
  ~Gateway();
  Gateway(const Gateway&) = delete;
  Gateway& operator=(const Gateway&) = delete;

  // Sets the handlers of every control and of the timer. Call once, before the event loop.
  void Attach();

  // Port n's settings, which start-up fills in; read only once it has ended.
  PortEntry& PortSettings(int16_t port);

  // Opens port n as a serial port from its ComSetting (CommPort, Settings, Handshaking,
  // PortOpen); false when any step failed or the port did not open, with the first failed
  // step's reason in reason when given.
  bool OpenSerialPort(int16_t port, std::string* reason = nullptr);

  // Shows the status model in the main window's connection list and status bar; the tick and
  // every connection change call it too.
  void ShowStatus();
  // What the status model reads: the input ports in port order, the alarm-server link, the
  // supervision ticks.
  StatusSources Sources() const;
  // Takes up the kept lines at start-up; the error text when the keep file must not be used.
  std::string OpenKeptLines();
  // Before the process ends on a stop: unsent lines back to the kept lines, the file synced.
  void LeaveForNextStart();

  // Entry points of the event handling, public so that tests and tools can drive them.
  void ProcessReceivedData(int16_t port, std::string_view data);
  void TimerUpdateTimer();

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace tarvel
