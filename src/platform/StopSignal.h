#pragma once

namespace tarvel {

// The requests to stop that reach the program from outside, named by their POSIX signals.
enum class StopSignal { Terminate, HangUp, Interrupt };

}  // namespace tarvel
