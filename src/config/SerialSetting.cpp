#include "config/SerialSetting.h"

#include "text/NumericValue.h"
#include "text/TextFields.h"

namespace tarvel {
namespace {

std::optional<int16_t> ComNumber(std::string_view portName) {
  const std::string_view name = TrimBlanks(portName);
  if (name.size() < 4 || KeywordValue(name.substr(0, 3)) != "COM" || !AllDigits(name.substr(3)))
    return std::nullopt;
  const std::optional<int16_t> number = IntegerValue(name.substr(3));
  if (!number || *number < 1) return std::nullopt;
  return number;
}

ComSettingReading Refused(std::string problem) {
  return {std::nullopt, std::move(problem)};
}

std::optional<SerialParity> ParityOf(std::string_view letter) {
  if (letter.size() != 1) return std::nullopt;
  switch (UpperCaseChar(letter[0])) {
    case 'N':
      return SerialParity::None;
    case 'E':
      return SerialParity::Even;
    case 'O':
      return SerialParity::Odd;
    case 'M':
      return SerialParity::Mark;
    case 'S':
      return SerialParity::Space;
    default:
      return std::nullopt;
  }
}

std::optional<SerialStopBits> StopBitsOf(std::string_view text) {
  if (text == "1") return SerialStopBits::One;
  if (text == "1.5") return SerialStopBits::OneAndHalf;
  if (text == "2") return SerialStopBits::Two;
  return std::nullopt;
}

}  // namespace

ComSettingReading ReadComSetting(std::string_view text) {
  if (TrimBlanks(text).empty()) return Refused("missing (expected e.g. COM1,9600,N,8,1,0)");
  auto field = [&](int index) { return TrimBlanks(GetFieldView(text, index, ",")); };
  auto quoted = [](std::string_view value) { return "\"" + std::string(value) + "\""; };
  SerialSetting setting;
  setting.PortName = GetFieldView(text, 0, ",");
  const std::optional<int16_t> comNumber = ComNumber(field(0));
  if (!comNumber)
    return Refused("port name " + quoted(field(0)) + " is not COM and a number from 1");
  setting.ComNumber = *comNumber;
  const std::string_view baudRate = field(1);
  if (!AllDigits(baudRate) || baudRate.size() > 9 || NumericValue(baudRate) == 0)
    return Refused("baud rate " + quoted(baudRate) + " is not a whole number");
  setting.Line.BaudRate = static_cast<int32_t>(NumericValue(baudRate));
  const std::string_view parity = field(2);
  const std::optional<SerialParity> parityValue = ParityOf(parity);
  if (!parityValue) return Refused("parity " + quoted(parity) + " is not N, E, O, M or S");
  setting.Line.Parity = *parityValue;
  const std::string_view dataBits = field(3);
  if (dataBits.size() != 1 || dataBits[0] < '5' || dataBits[0] > '8')
    return Refused("data bits " + quoted(dataBits) + " are not 5, 6, 7 or 8");
  setting.Line.DataBits = static_cast<SerialDataBits>(dataBits[0] - '0');
  const std::string_view stopBits = field(4);
  const std::optional<SerialStopBits> stopBitsValue = StopBitsOf(stopBits);
  if (!stopBitsValue) return Refused("stop bits " + quoted(stopBits) + " are not 1, 1.5 or 2");
  setting.Line.StopBits = *stopBitsValue;
  setting.LineText = std::to_string(setting.Line.BaudRate) + "," + std::string(parity) + "," +
                     std::string(dataBits) + "," + std::string(stopBits);
  const std::string_view handshaking = field(5);
  if (!handshaking.empty() &&
      (handshaking.size() != 1 || handshaking[0] < '0' || handshaking[0] > '3'))
    return Refused("handshaking " + quoted(handshaking) + " is not 0, 1, 2 or 3");
  if (!handshaking.empty()) setting.Handshaking = static_cast<int16_t>(handshaking[0] - '0');
  size_t commas = 0;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] == ',' && ++commas == 6)
      return Refused(quoted(text.substr(at)) + " follows the handshaking (expected nothing more)");
  }
  return {std::move(setting), ""};
}

std::string SerialDevices::DeviceOf(int comNumber) const {
  const auto found = named_.find(comNumber);
  return found != named_.end() ? found->second : "/dev/ttyS" + std::to_string(comNumber - 1);
}

}  // namespace tarvel
