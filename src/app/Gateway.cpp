#include "app/Gateway.h"

#include <utility>

#include "app/MainWindowStatus.h"
#include "app/StatusSnapshot.h"
#include "input/ReceivedDataProcessor.h"
#include "input/SerialInputPorts.h"
#include "input/TcpInputPorts.h"
#include "output/EventReporter.h"
#include "output/OstrelConnection.h"
#include "output/SupervisionTimer.h"

namespace tarvel {

// The pieces of the gateway, built in the order in which they need each other.
struct Gateway::Parts {
  explicit Parts(const GatewayContext& context)
      : State(context.State),
        TheControls(context.TheControls),
        Windows(context.ConnectionList, context.StatusBar),
        Ostrel(
            context.State, context.TheClock, context.TheControls, context.Log, context.Trace,
            [this] { ShowStatus(); }, context.KeepIo),
        Reporter(context.State, context.TheClock, Ostrel),
        Processor(context.State, context.TheClock, context.Log, context.Trace, Reporter),
        Tcp(
            context.State, context.TheClock, context.TheControls, context.Log,
            [this] { ShowStatus(); }, Processor),
        Serial(context.State, context.TheControls, context.Log, Processor),
        Timer(context.State, context.TheControls, context.Timer, Reporter, Ostrel, &context.Log),
        TheTimer(context.Timer) {}

  void ShowStatus() {
    Windows.Show(TakeStatusSnapshot(State, TheControls, std::as_const(Ostrel).Kept()));
  }

  const ProgramState& State;
  const Controls& TheControls;
  MainWindowStatus Windows;
  OstrelConnection Ostrel;
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
  parts_->Ostrel.Attach();
  parts_->Tcp.Attach();
  parts_->Serial.Attach();
  parts_->TheTimer.SetHandler([this] { TimerUpdateTimer(); });
}

bool Gateway::OpenSerialPort(int16_t port, std::string* reason) {
  return parts_->Serial.OpenSerialPort(port, reason);
}

const KeptLines& Gateway::Kept() const {
  // The const view: the non-const one opens the keep file, which waits until start-up has
  // read the settings.
  return std::as_const(parts_->Ostrel).Kept();
}

std::string Gateway::OpenKeptLines() {
  return parts_->Ostrel.OpenKeptLines();
}

void Gateway::LeaveForNextStart() {
  parts_->Ostrel.LeaveForNextStart();
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
