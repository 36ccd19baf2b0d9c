#include "app/GatewayAssembly.h"

namespace tarvel {

GatewayAssembly::GatewayAssembly(const GatewaySurroundings& surroundings)
    : Log(surroundings.TheClock, surroundings.LogFolder),
      Trace(surroundings.TheClock, surroundings.DebugList, surroundings.Menus),
      TheGateway(GatewayContext{State, surroundings.TheClock, Log, Trace, surroundings.TheControls,
                                surroundings.ConnectionList, surroundings.StatusBar,
                                surroundings.Timer, surroundings.KeepIo}) {
  State.ProgramPath = surroundings.ProgramPath;
  TheGateway.Attach();
}

}  // namespace tarvel
