#pragma once

#include "integration/GatewayProcess.h"

namespace tarvel::integration {

using tools::Listener;
using tools::PseudoTerminal;
using tools::SecondsSince;
using tools::SendInPieces;

}  // namespace tarvel::integration
