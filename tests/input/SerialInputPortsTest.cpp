#include <iterator>
#include <optional>

#include "app/GatewayFixture.h"

namespace tarvel {
namespace {

class SerialPortTest : public GatewayFixture {
 protected:
  // As start-up reads the port's section.
  void SetComSetting(int16_t port, const std::string& setting) {
    gateway.PortSettings(port).ComSetting = setting;
    gateway.PortSettings(port).Serial = ReadComSetting(setting).Setting;
  }
};

TEST_F(SerialPortTest, OpeningFromTheComSetting) {
  struct Row {
    const char* setting;
    bool opens;
    int16_t commPort;
    std::optional<SerialLineSettings> settings;
    int32_t handshaking;
  };
  using enum SerialParity;
  using enum SerialDataBits;
  using enum SerialStopBits;
  // A setting the check refuses reaches no control: the control keeps its defaults.
  const Row rows[] = {
      {"COM3,9600,N,8,1,0", true, 3, SerialLineSettings{9600, None, Eight, One}, 0},
      {"COM12,19200,S,7,2", true, 12, SerialLineSettings{19200, Space, Seven, Two}, 0},
      {"com7,300,m,6,1,2", true, 7, SerialLineSettings{300, Mark, Six, One}, 2},
      {" COM5 , 09600 ,o, 5 ,1.5, 3", true, 5, SerialLineSettings{9600, Odd, Five, OneAndHalf}, 3},
      {"XYZ7,9600,N,8,1,2", false, 1, std::nullopt, 0},
      {"COM4,9600,N,8,1,1.5", false, 1, std::nullopt, 0},
      {"COM99999,9600,N,8,1,0", false, 1, std::nullopt, 0},
      {"COM5,9600,N,8,1,99999999999", false, 1, std::nullopt, 0},
  };
  static_assert(std::size(rows) <= PortCount);  // each row on a port of its own
  for (int16_t port = 0; port < static_cast<int16_t>(std::size(rows)); ++port) {
    const Row& row = rows[port];
    SCOPED_TRACE(row.setting);
    const FakeSerialControl& serial = *serialPorts[port];
    SetComSetting(port, row.setting);
    EXPECT_EQ(gateway.OpenSerialPort(port), row.opens);
    EXPECT_EQ(serial.CommPort(), row.commPort);
    EXPECT_EQ(serial.Settings, row.settings);
    EXPECT_EQ(serial.Handshaking, row.handshaking);
  }
}

// An open port shows its setting and counts what it receives, and a lost device is logged; a
// failing step fails the opening.
TEST_F(SerialPortTest, OpenPortCountsWhatItReceivesUntilItsDeviceIsLost) {
  UsePort(1, PortKind::Serial, "Serial");
  SetComSetting(1, "COM3,9600,N,8,1,0");
  ASSERT_TRUE(gateway.OpenSerialPort(1));
  gateway.ShowStatus();
  EXPECT_EQ(RowText(1, ConnectionListView::StatusColumn), "Connected to COM3 (COM3,9600,N,8,1,0)");
  serialPorts[1]->Receive(std::string("\x00\x0D\x7F\x80\xFF", 5));
  timer.Ticks(1);  // the count shows on the tick
  EXPECT_EQ(RowText(1, ConnectionListView::RxBytesColumn), "5");
  serialPorts[1]->LoseDevice("No such device");
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"Connection (1) failed (No such device)"});

  SetComSetting(2, "COM3,9600,N,8,1,0");
  serialPorts[2]->FailSettings("Invalid property value");
  EXPECT_FALSE(gateway.OpenSerialPort(2));
  EXPECT_TRUE(serialPorts[2]->PortOpen()) << "the later steps still run";
  serialPorts[3]->FailOpen("Port already open");
  SetComSetting(3, "COM4,9600,N,8,1,0");
  EXPECT_FALSE(gateway.OpenSerialPort(3));
}

}  // namespace
}  // namespace tarvel
