#include "platform/qt/QtSerialControl.h"

#include <QObject>
#include <QSerialPort>
#include <algorithm>
#include <utility>

#include "platform/qt/QtEventQueue.h"

namespace tarvel {

namespace {

constexpr int InvalidValueNumber = 380;
constexpr const char* InvalidValueText = "Invalid property value";
constexpr int PortOpenNumber = 8005;
constexpr const char* PortOpenText = "Port already open";

QSerialPort::Parity QtParity(SerialParity parity) {
  switch (parity) {
    case SerialParity::Even:
      return QSerialPort::EvenParity;
    case SerialParity::Odd:
      return QSerialPort::OddParity;
    case SerialParity::Mark:
      return QSerialPort::MarkParity;
    case SerialParity::Space:
      return QSerialPort::SpaceParity;
    case SerialParity::None:
      break;
  }
  return QSerialPort::NoParity;
}

QSerialPort::StopBits QtStopBits(SerialStopBits stopBits) {
  switch (stopBits) {
    case SerialStopBits::OneAndHalf:
      return QSerialPort::OneAndHalfStop;
    case SerialStopBits::Two:
      return QSerialPort::TwoStop;
    case SerialStopBits::One:
      break;
  }
  return QSerialPort::OneStop;
}

}  // namespace

struct QtSerialControl::LineSettings {
  SerialLineSettings Line;
  QSerialPort::FlowControl FlowControl = QSerialPort::NoFlowControl;
};

QtSerialControl::QtSerialControl(std::function<std::string(int commPort)> deviceName)
    : deviceName_(std::move(deviceName)),
      context_(std::make_unique<QObject>()),
      port_(std::make_unique<QSerialPort>()),
      settings_(std::make_unique<LineSettings>()) {
  QObject::connect(port_.get(), &QSerialPort::readyRead, context_.get(),
                   [this] { ReadAndDeliver(true); });
  QObject::connect(port_.get(), &QSerialPort::errorOccurred, context_.get(),
                   [this](QSerialPort::SerialPortError error) { OnError(error); });
}

QtSerialControl::~QtSerialControl() {
  QObject::disconnect(port_.get(), nullptr, context_.get(), nullptr);
  port_->close();
}

void QtSerialControl::SetHandlers(SerialHandlers handlers) {
  handlers_ = std::move(handlers);
}
int16_t QtSerialControl::CommPort() const {
  return commPort_;
}
bool QtSerialControl::PortOpen() const {
  return port_->isOpen();
}

SerialError QtSerialControl::SetCommPort(int16_t port) {
  if (port_->isOpen()) return {PortOpenNumber, PortOpenText};
  if (port < 1) return {InvalidValueNumber, InvalidValueText};
  commPort_ = port;
  return {};
}

SerialError QtSerialControl::SetSettings(const SerialLineSettings& settings) {
  settings_->Line = settings;
  return ApplySettings();
}

SerialError QtSerialControl::SetHandshaking(int32_t handshaking) {
  static constexpr QSerialPort::FlowControl Controls[] = {
      QSerialPort::NoFlowControl, QSerialPort::SoftwareControl, QSerialPort::HardwareControl,
      QSerialPort::HardwareControl};
  if (handshaking < 0 || handshaking > 3) return {InvalidValueNumber, InvalidValueText};
  settings_->FlowControl = Controls[handshaking];
  return ApplySettings();
}

// On a closed port Qt only stores the values and applies them when opening.
SerialError QtSerialControl::ApplySettings() {
  const SerialLineSettings& line = settings_->Line;
  if (port_->setBaudRate(line.BaudRate) && port_->setParity(QtParity(line.Parity)) &&
      port_->setDataBits(static_cast<QSerialPort::DataBits>(line.DataBits)) &&
      port_->setStopBits(QtStopBits(line.StopBits)) &&
      port_->setFlowControl(settings_->FlowControl)) {
    return {};
  }
  return DeviceError();
}

SerialError QtSerialControl::DeviceError() const {
  const int number =
      port_->error() == QSerialPort::NoError ? QSerialPort::UnknownError : port_->error();
  return {number, port_->errorString().toStdString()};
}

SerialError QtSerialControl::SetPortOpen(bool open) {
  if (!open) {
    port_->close();
    return {};
  }
  if (port_->isOpen()) return {PortOpenNumber, PortOpenText};
  const std::string device = deviceName_(commPort_);
  if (device.empty()) {
    return {QSerialPort::DeviceNotFoundError,
            "No device configured for COM" + std::to_string(commPort_)};
  }
  port_->setPortName(QString::fromLocal8Bit(device.data(), static_cast<qsizetype>(device.size())));
  if (const SerialError error = ApplySettings(); error.Failed()) return error;
  if (!port_->open(QIODevice::ReadOnly)) {
    SerialError error = DeviceError();
    error.Description = device + ": " + error.Description;
    return error;
  }
  port_->clearError();
  lost_ = false;
  return {};
}

void QtSerialControl::ReadAndDeliver(bool fromLoop) {
  if (onCommPending_ || !port_->isOpen()) return;
  const qint64 count = std::min<qint64>(port_->bytesAvailable(), ReadBufferBytes);
  if (count <= 0) return;
  std::string bytes(static_cast<size_t>(count), '\0');
  bytes.resize(static_cast<size_t>(std::max<qint64>(port_->read(bytes.data(), count), 0)));
  if (bytes.empty()) return;
  onCommPending_ = true;
  auto deliver = [this, bytes = std::move(bytes)] {
    onCommPending_ = false;
    if (handlers_.OnComm) handlers_.OnComm(bytes);
    ReadAndDeliver(false);  // Qt raises no new notification for what its buffer holds
  };
  if (fromLoop) {
    QtEventQueue::RunOrPost(context_.get(), "serial OnComm", std::move(deliver));
  } else {
    QtEventQueue::Post(context_.get(), "serial OnComm", std::move(deliver));
  }
}

void QtSerialControl::OnError(int error) {
  if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError) return;
  if (lost_) return;
  lost_ = true;
  // A read that finds the end of the line (a hang-up) leaves Qt with a stale system error text.
  const QString reason = error == QSerialPort::ResourceError
                             ? port_->errorString()
                             : QStringLiteral("reading failed, device removed or hung up");
  const std::string description = (port_->portName() + ": " + reason).toStdString();
  // Not closed here: the signal comes from inside the port's own read notification. The next
  // pass of the event loop closes it, so a failing descriptor cannot keep the loop busy.
  QMetaObject::invokeMethod(
      context_.get(), [this] { port_->close(); }, Qt::QueuedConnection);
  QtEventQueue::Post(context_.get(), "serial DeviceLost", [this, description] {
    port_->close();
    if (handlers_.DeviceLost) handlers_.DeviceLost(description);
  });
}

}  // namespace tarvel
