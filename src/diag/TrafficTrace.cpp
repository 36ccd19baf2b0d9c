#include "diag/TrafficTrace.h"

#include <cstdio>

#include "text/DateTime.h"

namespace tarvel {

namespace {

// A piece is emitted as soon as it grows past this many rendered characters, so a line carries
// 181 to 185 of them (a code token such as <196> may carry it past 181).
constexpr std::size_t PieceLimit = 180;
constexpr int MaxRows = 500;

std::string DirectionPrefix(int16_t port, int16_t direction) {
  const char* arrow = nullptr;
  if (direction == TrafficTrace::Received) arrow = " Rx <- ";
  if (direction == TrafficTrace::Sent) arrow = " Tx -> ";
  if (arrow == nullptr) return std::string();
  const std::string portName = port < 0 ? std::string("Ostrel") : std::to_string(port);
  return arrow + portName + ": ";
}

// Printable codes 32..127 stand for themselves; every other code becomes "<code>".
void AppendRendered(std::string& piece, unsigned char code) {
  if (code >= 32 && code <= 127) {
    piece += static_cast<char>(code);
    return;
  }
  char token[8];
  const int length = std::snprintf(token, sizeof token, "<%u>", static_cast<unsigned>(code));
  piece.append(token, static_cast<std::size_t>(length));
}

std::string TimeOfDay(const LocalTime& now) {
  return FormatTime(DateTime::FromLocalTime(now));
}

}  // namespace

TrafficTrace::TrafficTrace(const Clock& clock, DebugListView& list, MenuChecks& menus)
    : clock_(clock), list_(list), menus_(menus) {}

// Texts of any length are traced alike: positions are counted in size_t, so a text longer than
// 32767 characters simply yields more lines (of which the list keeps the last 500).
void TrafficTrace::Render(int16_t port, std::string_view data, int16_t direction) {
  const std::string prefix = DirectionPrefix(port, direction);
  std::string piece;
  piece.reserve(PieceLimit + 5);
  for (const char character : data) {
    AppendRendered(piece, static_cast<unsigned char>(character));
    if (piece.size() > PieceLimit) {
      AddDebugLine(TimeOfDay(clock_.Now()) + prefix + piece);
      piece.clear();
    }
  }
  if (!piece.empty()) AddDebugLine(TimeOfDay(clock_.Now()) + prefix + piece);
}

void TrafficTrace::AddDebugLine(const std::string& text) {
  if (!On()) return;
  list_.AddItem(text);
  // Normally one row goes per row added; the count check keeps a list that refuses to shrink
  // from holding the gateway in this loop.
  for (int count = list_.ListCount(); count > MaxRows; count = list_.ListCount()) {
    list_.RemoveItem(0);
    if (list_.ListCount() >= count) break;
  }
  if (menus_.ShowLastChecked()) list_.SetListIndex(list_.ListCount() - 1);
}

}  // namespace tarvel
