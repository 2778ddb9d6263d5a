// The adapter list and the graph in the Qt face, offscreen, over the real
// interface table of a network namespace the test makes for itself.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <thread>

#include "netns.h"
#include "platform/qt/qt_main_window.h"

namespace quorrel::qt {
namespace {

class BandwidthGraphGuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root to make network namespaces";
    isolated_ = std::make_unique<test::PrivateNetns>();
    // No IPv6 chatter on the pair: the captions count only the test's own bytes.
    test::Sh("sysctl -w net.ipv6.conf.default.disable_ipv6=1");
    ns_ = std::make_unique<test::NetNs>("10.213.51");
    ns_->Exec("sysctl -w net.ipv6.conf." + ns_->peerIf + ".disable_ipv6=1");
    window_ = std::make_unique<MainWindow>(services_);
  }
  void TearDown() override {
    window_.reset();
    ns_.reset();
    isolated_.reset();
  }

  // `count` UDP datagrams of `payload` bytes from the namespace's end to ours,
  // taken by a socket of ours so nothing answers them.
  void SendToHost(int count, std::size_t payload) {
    int receiver = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in host{};
    host.sin_family = AF_INET;
    host.sin_port = htons(41235);
    ::inet_pton(AF_INET, ns_->hostAddr.c_str(), &host.sin_addr);
    ASSERT_EQ(::bind(receiver, reinterpret_cast<sockaddr*>(&host), sizeof host), 0);
    std::thread sender([&] {
      int nsFd = ns_->OpenFd();
      if (nsFd < 0 || ::setns(nsFd, CLONE_NEWNET) != 0) return;
      ::close(nsFd);
      int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
      const std::string data(payload, 'q');
      for (int i = 0; i < count; ++i)
        ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&host), sizeof host);
      ::close(fd);
    });
    sender.join();
    timeval timeout{2, 0};
    ::setsockopt(receiver, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char buffer[65536];
    for (int i = 0; i < count; ++i)
      ASSERT_EQ(::recv(receiver, buffer, sizeof buffer, 0), static_cast<ssize_t>(payload));
    ::close(receiver);
  }

  LinuxServices services_;
  std::unique_ptr<test::PrivateNetns> isolated_;
  std::unique_ptr<test::NetNs> ns_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(BandwidthGraphGuiTest, TheListHoldsEachInterfaceWithItsBlankAndTheFirstIsSelected) {
  auto* list = qobject_cast<QComboBox*>(window_->WidgetOf("cboConnections"));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->itemText(0), "lo ");
  EXPECT_EQ(list->itemText(1), QString::fromStdString(ns_->hostIf + " "));
  EXPECT_EQ(list->currentIndex(), 0);
}

TEST_F(BandwidthGraphGuiTest, ATickDrawsTheDownstreamLineInRedIntoTheImage) {
  Form1& form = window_->Form();
  form.cboConnections.SetListIndex(1);
  form.firstSample = -1;  // as Start leaves it
  form.tmrBandwidth_Timer();
  SendToHost(20, 1400);
  form.tmrBandwidth_Timer();

  ASSERT_GT(form.sampler.samples[0], form.sampler.samples[1]);
  const QImage& image = window_->GraphCanvas().Image();
  const auto& ds = form.sampler.Graph().graphSeries[0].points;
  ASSERT_EQ(ds[99].y, 0);  // the peak: the top row
  // Halfway along the last segment, from point 98 on the bottom edge up to the corner.
  const int midX = (ds[98].x + ds[99].x) / 2;
  const int midY = (ds[98].y + ds[99].y) / 2;
  int red = 0;
  for (int x = midX - 1; x <= midX + 1; ++x)
    for (int y = midY - 1; y <= midY + 1; ++y)
      if (image.pixel(x, y) == qRgb(255, 0, 0)) ++red;
  EXPECT_GT(red, 0) << "around " << midX << "," << midY;
  // Far from both lines the image is the window's background.
  EXPECT_EQ(image.pixel(10, 10), QGuiApplication::palette().color(QPalette::Window).rgb());

  auto* caption = qobject_cast<QLabel*>(window_->WidgetOf("lblDS"));
  ASSERT_NE(caption, nullptr);
  EXPECT_EQ(caption->text(), "Downstream: 28 KB");  // 20 frames of 1442 bytes

  form.chkMarkers.SetValue(1);
  form.tmrBandwidth_Timer();  // no traffic now: both heads on the bottom edge
  const int w = image.width(), h = image.height();
  EXPECT_EQ(image.pixel(w - 1, h - 1), qRgb(0, 0, 255));  // the blue diamond's visible corner
}

}  // namespace
}  // namespace quorrel::qt
