#include "config/HostAndPort.h"

#include "config/ConfigReader.h"
#include "text/TextFields.h"

namespace tarvel {

std::optional<HostAndPort> ReadRemoteAddress(std::string_view text) {
  const std::string_view host = GetFieldView(text, 0, ":");
  const std::optional<int32_t> port = PortNumberValue(GetFieldView(text, 1, ":"));
  if (TrimBlanks(host).empty() || !port || !GetFieldView(text, 2, ":").empty()) return std::nullopt;
  return HostAndPort{std::string(host), *port};
}

}  // namespace tarvel
