#pragma once

#include <string>

#include "app/Gateway.h"
#include "diag/LogFile.h"
#include "diag/TrafficTrace.h"
#include "platform/Clock.h"
#include "platform/KeepFileIo.h"
#include "platform/UpdateTimer.h"
#include "state/Controls.h"
#include "state/ProgramState.h"
#include "ui/ConnectionListView.h"
#include "ui/DebugListView.h"
#include "ui/MenuChecks.h"
#include "ui/StatusBarView.h"

namespace tarvel {

// What differs between the places the gateway runs (the executable, the tests, the fuzzer, the
// benchmarks), owned by the caller: the clock, the controls, the views, the timer, the keep
// file's I/O and the folders.
struct GatewaySurroundings {
  const Clock& TheClock;
  const Controls& TheControls;
  ConnectionListView& ConnectionList;
  StatusBarView& StatusBar;
  DebugListView& DebugList;
  MenuChecks& Menus;
  UpdateTimer& Timer;
  std::string ProgramPath;       // the program folder, with a trailing "/"
  std::string LogFolder;         // the daily logs' folder
  KeepFileIo* KeepIo = nullptr;  // null: kept lines in memory only
};

// The gateway with what it shares with start-up and the status views (the program state, the
// daily log, the traffic trace), built the same way wherever it runs, and attached to the
// controls and the timer.
struct GatewayAssembly {
  explicit GatewayAssembly(const GatewaySurroundings& surroundings);

  ProgramState State;
  LogFile Log;
  TrafficTrace Trace;
  Gateway TheGateway;
};

}  // namespace tarvel
