#include <string>
#include <vector>

#include "app/GatewayFixture.h"

namespace tarvel {
namespace {

class OstrelTest : public GatewayFixture {
 protected:
  OstrelTest() {
    UsePort(0, PortKind::Serial, "Panel");
    state.General.WatchDogTagName = "WD";
    state.General.WatchDogInterval = 1;
  }
};

TEST_F(OstrelTest, SecondAlarmServerReplacesTheFirst) {
  ConnectOstrel("10.0.0.1", 5001);
  EXPECT_EQ(statusBar.PanelText(StatusBarView::ConnectionPanel),
            "Connected to Ostrel 10.0.0.1:5001");
  const int closesBefore = ostrelData.CloseCalls();
  ConnectOstrel("10.0.0.2", 5002);
  EXPECT_EQ(ostrelData.CloseCalls(), closesBefore + 1);
  EXPECT_EQ(ostrelData.RemoteHostIP(), "10.0.0.2");
  EXPECT_EQ(statusBar.PanelText(StatusBarView::ConnectionPanel),
            "Connected to Ostrel 10.0.0.2:5002");
  EXPECT_EQ(LogMessages(),
            (std::vector<std::string>{"Accepted Ostrel connection from 10.0.0.1:5001",
                                      "Accepted Ostrel connection from 10.0.0.2:5002"}));
}

TEST_F(OstrelTest, CloseAndErrorAreLoggedAndShown) {
  ConnectOstrel();
  ostrelData.FireClose();
  ConnectOstrel();
  ostrelData.FireError("Connection reset by peer");
  EXPECT_EQ(ostrelData.State(), SocketControl::Closed);
  EXPECT_EQ(statusBar.PanelText(StatusBarView::ConnectionPanel),
            "Waiting for Ostrel connection at port 14000");
  const std::vector<std::string> logs = LogMessages();
  ASSERT_EQ(logs.size(), 4u);
  EXPECT_EQ(logs[1], "Ostrel connection was closed");
  EXPECT_EQ(logs[3], "Ostrel connection failed (Connection reset by peer)");
}

TEST_F(OstrelTest, CountersAndStatusText) {
  ConnectOstrel();
  state.OstrelTxBytes = 65500;
  timer.Ticks(10);  // the 7-character watchdog line
  EXPECT_EQ(Sent(), "1|||WD\n");
  EXPECT_EQ(state.OstrelTxBytes, 65507);
  state.OstrelTxBytes = 65530;
  timer.Ticks(10);
  EXPECT_EQ(state.OstrelTxBytes, 0);
  ostrelData.Receive("ack\r\n");
  EXPECT_EQ(state.OstrelRxBytes, 5);
  EXPECT_EQ(statusBar.PanelText(StatusBarView::CounterPanel), "Ostrel TxBytes:0, RxBytes:5");
}

TEST_F(OstrelTest, OnlyTextThatGoesOutIsCountedAndTraced) {
  menus.SetDebugChecked(true);
  timer.Ticks(30);
  EXPECT_EQ(Sent(), "");
  EXPECT_EQ(state.OstrelTxBytes, 0);
  EXPECT_EQ(debugList.ListCount(), 0);
  EXPECT_EQ(statusBar.PanelText(StatusBarView::CounterPanel), "");
  ConnectOstrel();
  timer.Ticks(10);
  ASSERT_EQ(debugList.ListCount(), 1);
  EXPECT_TRUE(debugList.Item(0).ends_with(" Tx -> Ostrel: 1|||WD<10>")) << debugList.Item(0);
}

TEST_F(OstrelTest, ListenerThatIsNotListeningShowsTheWarning) {
  ostrelListener.Close();
  ConnectOstrel();
  EXPECT_EQ(statusBar.PanelText(StatusBarView::ConnectionPanel),
            "Warning! Ostrel connections at port 14000 is disabled!");
}

// An acceptance that fails is logged in the words of a socket error; listening goes on.
TEST_F(OstrelTest, FailedAcceptIsLoggedAsAFailure) {
  FakeNetwork otherNetwork;  // the request is not found there
  FakeSocketControl data(&otherNetwork);
  controls.WinsockOstrelData = &data;
  ConnectOstrel();
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"Ostrel connection failed (Invalid argument)"});
  EXPECT_EQ(statusBar.PanelText(StatusBarView::ConnectionPanel),
            "Waiting for Ostrel connection at port 14000");
}

}  // namespace
}  // namespace tarvel
