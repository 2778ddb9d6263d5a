// The tray as a StatusNotifierItem host sees it: a private session bus, a
// watcher and host written here, and the real program registering its item.
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDateTime>
#include <QImage>
#include <cstdlib>
#include <map>

#include "desktop.h"
#include "window/state_pictures.h"

namespace quorrel::desktop {
namespace {

constexpr char kWatcherService[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";
constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";
constexpr char kMenuInterface[] = "com.canonical.dbusmenu";

// org.kde.StatusNotifierWatcher as a desktop's panel offers it, with one host
// (this test) registered.
class Watcher : public QDBusVirtualObject {
 public:
  explicit Watcher(QDBusConnection bus) : bus_(std::move(bus)) {}

  QStringList items;

  QString introspect(const QString&) const override {
    return R"(<interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
</interface>
)";
  }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QString member = message.member();
    if (message.interface() == "org.freedesktop.DBus.Properties") {
      const QString name = message.arguments().value(1).toString();
      QVariant value;
      if (member == "GetAll") {
        QVariantMap all{{"RegisteredStatusNotifierItems", items},
                        {"IsStatusNotifierHostRegistered", true},
                        {"ProtocolVersion", 0}};
        connection.send(message.createReply(QVariant::fromValue(all)));
        return true;
      }
      if (name == "RegisteredStatusNotifierItems") value = items;
      else if (name == "IsStatusNotifierHostRegistered") value = true;
      else if (name == "ProtocolVersion") value = 0;
      else return false;
      connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
      return true;
    }
    if (member == "RegisterStatusNotifierItem") {
      QString service = message.arguments().value(0).toString();
      // An item may name its object path instead of its service.
      if (service.startsWith('/')) service = message.service();
      items << service;
      connection.send(message.createReply());
      return true;
    }
    if (member == "RegisterStatusNotifierHost") {
      connection.send(message.createReply());
      return true;
    }
    return false;
  }

 private:
  QDBusConnection bus_;
};

struct ItemPixmap {
  int width = 0;
  int height = 0;
  QImage image;
};

QList<ItemPixmap> ReadPixmaps(const QDBusArgument& arg) {
  QList<ItemPixmap> out;
  arg.beginArray();
  while (!arg.atEnd()) {
    ItemPixmap p;
    QByteArray bytes;
    arg.beginStructure();
    arg >> p.width >> p.height >> bytes;
    arg.endStructure();
    // ARGB32 in network byte order.
    if (p.width > 0 && p.height > 0 && bytes.size() == p.width * p.height * 4) {
      p.image = QImage(p.width, p.height, QImage::Format_ARGB32);
      for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
          const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData()) +
                          (static_cast<qsizetype>(y) * p.width + x) * 4;
          p.image.setPixel(x, y, qRgba(b[1], b[2], b[3], b[0]));
        }
    }
    out << p;
  }
  arg.endArray();
  return out;
}

// True when the host received the picture the program makes for that size
// from the state picture under `key`. Qt keeps pixmaps premultiplied, so the
// colours are compared premultiplied, to the rounding of one step.
bool IsStatePicture(const ItemPixmap& p, std::string_view key) {
  const IconImage expected = StateIconAt(key, p.width);
  if (p.image.isNull() || p.width != p.height || expected.size != p.width) return false;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const QRgb got = qPremultiply(p.image.pixel(x, y));
      const QRgb want = qPremultiply(expected.argb[static_cast<std::size_t>(y) * p.width + x]);
      for (int shift : {0, 8, 16, 24})
        if (std::abs(int((got >> shift) & 0xFF) - int((want >> shift) & 0xFF)) > 1) return false;
    }
  return true;
}

struct MenuEntry {
  int id = 0;
  QString label;
  QString type;
  bool enabled = true;
};

void ReadLayout(const QDBusArgument& arg, QList<MenuEntry>& out) {
  MenuEntry entry;
  QVariantMap props;
  arg.beginStructure();
  arg >> entry.id;
  arg >> props;
  entry.label = props.value("label").toString();
  entry.type = props.value("type").toString();
  entry.enabled = props.value("enabled", true).toBool();
  if (entry.id != 0) out << entry;
  arg.beginArray();
  while (!arg.atEnd()) {
    QDBusVariant child;
    arg >> child;
    ReadLayout(child.variant().value<QDBusArgument>(), out);
  }
  arg.endArray();
  arg.endStructure();
}

class SniTrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static const char* const kTools[] = {"Xvfb", "dbus-daemon", "xdotool", "ip", "nft"};
    std::string missing;
    if (!HaveTools(kTools, std::size(kTools), &missing)) GTEST_SKIP() << "needs " << missing;
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for the network namespace";
    display_ = std::make_unique<VirtualDisplay>();
    bus_ = std::make_unique<SessionBus>();
    host_ = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(bus_->Address(), "quorrel-sni-host"));
    ASSERT_TRUE(host_->isConnected()) << host_->lastError().message().toStdString();
    watcher_ = std::make_unique<Watcher>(*host_);
    ASSERT_TRUE(host_->registerVirtualObject(kWatcherPath, watcher_.get()));
    ASSERT_TRUE(host_->registerService(kWatcherService));
    netns_ = std::make_unique<LoopbackNamespace>();
    PrepareSettings(folder_);
  }
  void TearDown() override {
    program_.reset();
    if (host_) {
      host_->unregisterObject(kWatcherPath);
      QDBusConnection::disconnectFromBus("quorrel-sni-host");
    }
    host_.reset();
    watcher_.reset();
    bus_.reset();
    display_.reset();
    netns_.reset();
  }

  void StartProgram(const QStringList& env = {}) {
    program_ = std::make_unique<Program>(
        folder_, *display_,
        QStringList{"DBUS_SESSION_BUS_ADDRESS=" + bus_->Address(),
                    "QT_LOGGING_RULES=qt.qpa.tray*=true"} +
            env,
        netns_->Name());
    ASSERT_FALSE(program_->WaitWindow().empty()) << program_->Process().Output().toStdString();
  }

  // The item the program registered last, once the program has sent it.
  QString WaitItem(qsizetype count) {
    WaitFor([&] { return watcher_->items.size() >= count; }, 10000);
    return watcher_->items.size() >= count ? watcher_->items.back() : QString();
  }

  bool Registered(const QString& service) {
    return host_->interface()->isServiceRegistered(service).value();
  }

  QVariant Property(const QString& service, const char* path, const char* iface,
                    const char* name) {
    QDBusMessage get = QDBusMessage::createMethodCall(service, path,
                                                      "org.freedesktop.DBus.Properties", "Get");
    get << QString(iface) << QString(name);
    QDBusMessage reply = host_->call(get, QDBus::BlockWithGui, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return reply.arguments().at(0).value<QDBusVariant>().variant();
  }

  QString ToolTip(const QString& item) {
    QVariant v = Property(item, "/StatusNotifierItem", kItemInterface, "ToolTip");
    if (!v.canConvert<QDBusArgument>()) return {};
    const QDBusArgument arg = v.value<QDBusArgument>();
    QString iconName, title, text;
    arg.beginStructure();
    arg >> iconName;
    ReadPixmaps(arg);
    arg >> title >> text;
    arg.endStructure();
    return title.isEmpty() ? text : title;
  }

  QList<ItemPixmap> Icon(const QString& item) {
    QVariant v = Property(item, "/StatusNotifierItem", kItemInterface, "IconPixmap");
    if (!v.canConvert<QDBusArgument>()) return {};
    return ReadPixmaps(v.value<QDBusArgument>());
  }

  QString MenuPath(const QString& item) {
    QVariant v = Property(item, "/StatusNotifierItem", kItemInterface, "Menu");
    return v.value<QDBusObjectPath>().path();
  }

  QList<MenuEntry> Menu(const QString& item) {
    QDBusMessage call = QDBusMessage::createMethodCall(item, MenuPath(item), kMenuInterface,
                                                       "GetLayout");
    call << 0 << -1 << QStringList();
    QDBusMessage reply = host_->call(call, QDBus::BlockWithGui, 5000);
    QList<MenuEntry> entries;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
      return entries;
    ReadLayout(reply.arguments().at(1).value<QDBusArgument>(), entries);
    return entries;
  }

  static int IdOf(const QList<MenuEntry>& menu, const QString& label) {
    for (const MenuEntry& e : menu)
      if (e.label == label) return e.id;
    return -1;
  }

  void Click(const QString& item, int id) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(item, MenuPath(item), kMenuInterface, "Event");
    call << id << QString("clicked") << QVariant::fromValue(QDBusVariant(0))
         << static_cast<uint>(QDateTime::currentSecsSinceEpoch());
    host_->call(call, QDBus::BlockWithGui, 5000);
  }

  void Activate(const QString& item) {
    QDBusMessage call = QDBusMessage::createMethodCall(item, "/StatusNotifierItem",
                                                       kItemInterface, "Activate");
    call << 10 << 10;
    host_->call(call, QDBus::BlockWithGui, 5000);
  }

  // Send to System Tray, then the item that registers.
  QString SendToTray() {
    const qsizetype before = watcher_->items.size();
    program_->ClickControl("cmdSysTray");
    QString item = WaitItem(before + 1);
    EXPECT_FALSE(item.isEmpty()) << "no item registered: "
                                 << program_->Process().Output().toStdString();
    EXPECT_TRUE(WaitFor([&] { return !program_->WindowVisible(); }, 5000)) << "window still up";
    return item;
  }

  TempDir folder_;
  std::unique_ptr<VirtualDisplay> display_;
  std::unique_ptr<SessionBus> bus_;
  std::unique_ptr<QDBusConnection> host_;
  std::unique_ptr<Watcher> watcher_;
  std::unique_ptr<LoopbackNamespace> netns_;
  std::unique_ptr<Program> program_;
};

TEST_F(SniTrayTest, HostReadsStateRestoresAndUsesTheWholeMenu) {
  StartProgram();
  program_->ClickControl("cmdToggle");
  QString item = SendToTray();
  ASSERT_FALSE(item.isEmpty());

  // A passed ping to 127.0.0.1: green, "Passed".
  EXPECT_TRUE(WaitFor([&] { return ToolTip(item) == "Quorrel - Passed"; }, 10000))
      << ToolTip(item).toStdString();
  QList<ItemPixmap> icon = Icon(item);
  QList<int> sizes;
  for (const ItemPixmap& p : icon) sizes << p.width;
  for (int size : {16, 22, 24, 32, 48, 64}) EXPECT_TRUE(sizes.contains(size)) << size;
  for (const ItemPixmap& p : icon) {
    if (qEnvironmentVariableIsSet("QUORREL_SCREENS"))
      p.image.save(qEnvironmentVariable("QUORREL_SCREENS") + QString("/sni-passed-%1.png").arg(p.width));
    EXPECT_TRUE(IsStatePicture(p, "green")) << "passed shows green at " << p.width;
  }

  // Echoes dropped in the program's namespace: the next ping fails.
  netns_->DropEchoes();
  EXPECT_TRUE(WaitFor([&] { return ToolTip(item) == "Quorrel - Failed"; }, 10000))
      << ToolTip(item).toStdString();
  icon = Icon(item);
  EXPECT_EQ(icon.size(), sizes.size());
  for (const ItemPixmap& p : icon)
    EXPECT_TRUE(IsStatePicture(p, "red")) << "failed shows red at " << p.width;

  // The menu over dbusmenu, in its order, separators included.
  QList<MenuEntry> menu = Menu(item);
  QStringList shape;
  for (const MenuEntry& e : menu) shape << (e.type == "separator" ? "-" : e.label);
  EXPECT_EQ(shape, (QStringList{"Restore", "-", "Stop Pings", "-", "Close Quorrel"}))
      << shape.join('|').toStdString();

  // The toggle stops monitoring; its caption follows.
  Click(item, IdOf(menu, "Stop Pings"));
  EXPECT_TRUE(WaitFor([&] { return IdOf(Menu(item), "Start Pings") > 0; }, 5000));
  // The tray is told at once: it no longer speaks of the last result.
  EXPECT_TRUE(WaitFor([&] { return ToolTip(item) == "Quorrel - OFF"; }, 5000))
      << ToolTip(item).toStdString();
  for (const ItemPixmap& p : Icon(item))
    EXPECT_TRUE(IsStatePicture(p, "grey")) << "stopped shows grey at " << p.width;

  // Restore brings the window back and takes the item away.
  Click(item, IdOf(Menu(item), "Restore"));
  EXPECT_TRUE(WaitFor([&] { return program_->WindowVisible(); }, 5000));
  EXPECT_TRUE(WaitFor([&] { return !Registered(item); }, 5000));

  // The host's primary click (Activate) restores as well.
  item = SendToTray();
  ASSERT_FALSE(item.isEmpty());
  EXPECT_EQ(ToolTip(item), "Quorrel - OFF") << "a new icon takes the state afresh";
  Activate(item);
  EXPECT_TRUE(WaitFor([&] { return program_->WindowVisible(); }, 5000));
  EXPECT_TRUE(WaitFor([&] { return !Registered(item); }, 5000));

  // Close Quorrel ends the program through its shutdown.
  item = SendToTray();
  ASSERT_FALSE(item.isEmpty());
  Click(item, IdOf(Menu(item), "Close Quorrel"));
  EXPECT_EQ(program_->Process().WaitExit(10000), 0);
  const QByteArray log = ReadFile(folder_.File("pinglog.txt"));
  EXPECT_TRUE(log.contains(" - Ping 127.0.0.1 passed : ")) << log.toStdString();
  EXPECT_TRUE(log.contains(" - Ping 127.0.0.1 failed : "));
  EXPECT_TRUE(log.endsWith(" - Monitoring stopped\r\n\r\n"));
  EXPECT_TRUE(ReadFile(folder_.File("Settings.ini")).contains("Changes only=0"));
}

}  // namespace
}  // namespace quorrel::desktop
