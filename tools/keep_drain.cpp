// A backlog of kept lines drained by a slow alarm server while the gateway is killed (SIGKILL)
// and stopped (SIGTERM) again and again: prints the lines lost and doubled.
//
//   keep_drain [--lines N] [--kills K] [--stops S] [--rate BYTES_PER_S] [--round-ms MS]
//              [--gateway PATH]
#include <cstdio>
#include <cstring>

#include "KeepDrain.h"

int main(int argc, char** argv) {
  using namespace tarvel::tools;
  KeepDrainOptions options;
  int kills = 20, stops = 5;
  const char* gatewayPath = nullptr;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (name == "--lines")
      options.Lines = value;
    else if (name == "--kills")
      kills = value;
    else if (name == "--stops")
      stops = value;
    else if (name == "--rate")
      options.BytesPerSecond = value;
    else if (name == "--round-ms")
      options.RoundMs = value;
    else if (name == "--gateway")
      gatewayPath = argv[i + 1];
    else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  const std::string gateway = GatewayBesideTools(gatewayPath);
  // The stops among the kills, spread evenly.
  for (int n = 0; n < kills + stops; ++n)
    options.Signals.push_back(stops > 0 && n % ((kills + stops) / stops) == 0 &&
                                      static_cast<int>(std::count(options.Signals.begin(),
                                                                  options.Signals.end(), SIGTERM)) <
                                          stops
                                  ? SIGTERM
                                  : SIGKILL);
  TempFolder folder("tarvel-drain");
  if (std::getenv("KEEP_DRAIN_FOLDER") != nullptr) folder.Keep();  // to read its log after
  const int ostrelPort = FreePort();
  const int inputPort = FreePort();
  folder.Write("TARVEL80Import.ini",
               "[General]\nOstrelPort=" + std::to_string(ostrelPort) +
                   "\nWatchDogInterval=0\nKeepFile=kept.dat\nKeepLimit=1000000000\n"
                   "[TARVEL80_Port_0]\nPortType=TCPS\nListenPort=" +
                   std::to_string(inputPort) + "\n");
  const KeepDrainResult result = DrainKeptLinesWithInterruptions(
      folder, ostrelPort, inputPort,
      [&] {
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{gateway, "--headless", "--dir", folder.Path()},
            folder.Path() + "stderr.txt");
      },
      options);
  if (!result.Ok) {
    std::fprintf(stderr, "keep_drain: %s\n", result.Problem.c_str());
    return 1;
  }
  std::printf(
      "backlog %zu lines (%.1f MB), %d kills, %d stops, alarm server reading %.2f MB/s, "
      "rounds of %d ms\nlost %zu, doubled %zu, received %zu; stops that logged what they left: "
      "%zu\n",
      result.Lines, static_cast<double>(result.Lines) * 100 / 1e6, kills, stops,
      options.BytesPerSecond / 1e6, options.RoundMs, result.Lost, result.Doubled, result.Received,
      result.LeftAtStops);
  return result.Lost == 0 ? 0 : 1;
}
