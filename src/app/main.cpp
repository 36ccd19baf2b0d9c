#include <cstdio>

// Placeholder until start-up is wired: prints the version.
int main() {
  std::puts("TARVEL80 Import for Ostrel Alarm Server 1.0.04");
  return 0;
}
