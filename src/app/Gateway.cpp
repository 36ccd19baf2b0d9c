#include "app/Gateway.h"

#include "app/MainWindowStatus.h"
#include "app/StatusSnapshot.h"
#include "input/ReceivedDataProcessor.h"
#include "input/SerialInputPorts.h"
#include "input/TcpInputPorts.h"
#include "output/AlarmServerLink.h"
#include "output/EventReporter.h"
#include "output/SupervisionTimer.h"

namespace tarvel {

// The pieces of the gateway, built in the order in which they need each other.
struct Gateway::Parts {
  explicit Parts(const GatewayContext& context)
      : State(context.State),
        TheControls(context.TheControls),
        Windows(context.ConnectionList, context.StatusBar),
        Link(
            context.State, context.TheClock, context.TheControls, context.Log, context.Trace,
            [this] { ShowStatus(); }, [this](bool hold) { HoldInput(hold); }, context.KeepIo),
        Reporter(context.State, context.TheClock, Link),
        Processor(context.State, context.TheClock, context.Log, context.Trace, Reporter),
        Tcp(
            context.State, context.TheClock, context.TheControls, context.Log,
            [this] { ShowStatus(); }, Processor),
        Serial(context.State, context.TheControls, context.Log, Processor),
        Timer(context.State, context.TheControls, context.Timer, Reporter, Link, &context.Log),
        TheTimer(context.Timer) {}

  void ShowStatus() { Windows.Show(TakeStatusSnapshot(State, TheControls, Link)); }

  // The alarm server's push-back: every TCP input port stops or starts reading.
  void HoldInput(bool hold) {
    for (SocketControl* data : TheControls.WinsockData) {
      if (data != nullptr) data->SetReceivePaused(hold);
    }
  }

  const ProgramState& State;
  const Controls& TheControls;
  MainWindowStatus Windows;
  AlarmServerLink Link;
  EventReporter Reporter;
  ReceivedDataProcessor Processor;
  TcpInputPorts Tcp;
  SerialInputPorts Serial;
  SupervisionTimer Timer;
  UpdateTimer& TheTimer;
};

Gateway::Gateway(const GatewayContext& context) : parts_(std::make_unique<Parts>(context)) {}

Gateway::~Gateway() = default;

void Gateway::Attach() {
  parts_->Link.Attach();
  parts_->Tcp.Attach();
  parts_->Serial.Attach();
  parts_->TheTimer.SetHandler([this] { TimerUpdateTimer(); });
}

bool Gateway::OpenSerialPort(int16_t port, std::string* reason) {
  return parts_->Serial.OpenSerialPort(port, reason);
}

const AlarmServerLink& Gateway::Link() const {
  return parts_->Link;
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
  parts_->Processor.ProcessReceivedData(port, data);
}

void Gateway::TimerUpdateTimer() {
  parts_->Timer.TimerUpdateTimer();
  parts_->Processor.WriteHeldBackCounts();
  parts_->Tcp.WriteHeldBackCounts();
  parts_->ShowStatus();
}

}  // namespace tarvel
