#include "app/Gateway.h"

#include <vector>

#include "app/MainWindowStatus.h"
#include "app/StatusSnapshot.h"
#include "app/SupervisionTimer.h"
#include "diag/RefusalLogLimiter.h"
#include "diag/RejectedLineLog.h"
#include "input/InputPort.h"
#include "output/AlarmServerLink.h"

namespace tarvel {

// The pieces of the gateway, built in the order in which they need each other.
struct Gateway::Parts {
  explicit Parts(const GatewayContext& context)
      : State(context.State),
        Windows(context.ConnectionList, context.StatusBar),
        Link(
            context.State, context.TheClock, context.TheControls, context.Log, context.Trace,
            [this] { ShowStatus(); }, [this](bool hold) { HoldInput(hold); }, context.KeepIo),
        Rejected(context.TheClock, context.Log),
        ConnectionLog(context.TheClock, context.Log, RejectedLineLog::ConnectionEvents),
        Refusals(context.TheClock),
        PortSurroundings{
            context.TheClock, context.State.General,   Rejected, context.Trace, Link, ConnectionLog,
            Refusals,         [this] { ShowStatus(); }},
        Ports(MakePorts(context)),
        Timer(Ports, context.Timer, Link),
        TheTimer(context.Timer) {}

  std::vector<InputPort> MakePorts(const GatewayContext& context) {
    std::vector<InputPort> ports;
    ports.reserve(PortCount);
    for (int16_t n = 0; n < PortCount; ++n) {
      const Controls& controls = context.TheControls;
      ports.emplace_back(
          n, PortTransport{controls.WinsockConnect[n], controls.WinsockData[n], controls.MSComm[n]},
          PortSurroundings);
    }
    return ports;
  }

  StatusSources Sources() const { return {State, Ports, Link, Timer.Ticks()}; }
  void ShowStatus() { Windows.Show(TakeStatusSnapshot(Sources())); }

  // The alarm server's push-back: every input port stops or starts reading.
  void HoldInput(bool hold) {
    for (InputPort& port : Ports) port.HoldReceiving(hold);
  }

  const ProgramState& State;
  MainWindowStatus Windows;
  AlarmServerLink Link;
  RejectedLineLog Rejected;  // every log line written here is about a rejected line
  RejectedLineLog ConnectionLog;
  RefusalLogLimiter Refusals;  // keyed by port number and peer address
  InputPortSurroundings PortSurroundings;
  std::vector<InputPort> Ports;  // one per configured port, in port order
  SupervisionTimer Timer;
  UpdateTimer& TheTimer;
};

Gateway::Gateway(const GatewayContext& context) : parts_(std::make_unique<Parts>(context)) {}

Gateway::~Gateway() = default;

void Gateway::Attach() {
  parts_->Link.Attach();
  for (InputPort& port : parts_->Ports) port.Attach();
  parts_->TheTimer.SetHandler([this] { TimerUpdateTimer(); });
}

PortEntry& Gateway::PortSettings(int16_t port) {
  return parts_->Ports.at(static_cast<size_t>(port)).SettingsToFill();
}

bool Gateway::OpenSerialPort(int16_t port, std::string* reason) {
  if (port < 0 || port >= PortCount) return false;
  return parts_->Ports[port].OpenSerial(reason);
}

StatusSources Gateway::Sources() const {
  return parts_->Sources();
}

std::string Gateway::OpenKeptLines() {
  return parts_->Link.OpenKeptLines();
}

void Gateway::LeaveForNextStart() {
  parts_->Link.LeaveForNextStart();
}

void Gateway::ShowStatus() {
  parts_->ShowStatus();
}

void Gateway::ProcessReceivedData(int16_t port, std::string_view data) {
  if (port < 0 || port >= PortCount) return;
  parts_->Ports[port].Receive(data);
}

void Gateway::TimerUpdateTimer() {
  parts_->Timer.TimerUpdateTimer();
  parts_->Rejected.WriteHeldBackCounts();
  parts_->ConnectionLog.WriteHeldBackCounts();
  parts_->ShowStatus();
}

}  // namespace tarvel
