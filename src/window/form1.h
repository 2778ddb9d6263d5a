#pragma once
// Form1: the program's one window as a model. It owns every control, all the
// monitoring state, and the handlers the faces call.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ping/mod_ping.h"
#include "platform/canvas.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/icmp.h"
#include "platform/iphlpapi.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/shell.h"
#include "platform/toolkit.h"
#include "platform/winsock.h"
#include "quality/link_quality.h"
#include "settings/mod_general.h"
#include "tray/mod_sys_tray.h"
#include "window/bandwidth.h"
#include "window/controls.h"
#include "window/event_log.h"
#include "window/layout.h"

namespace quorrel {

// Every platform service the window reaches, one port each.
struct Services {
  Toolkit& toolkit;
  Clock& clock;
  FileSystem& files;
  CodePage& codePage;
  ProfileApi& profile;
  WinsockApi& winsock;
  IcmpApi& icmp;
  IpHelperApi& ipHelper;
  ShellApi& shell;
  ProcessApi& process;
  Canvas& graphCanvas;
};

enum class WindowState { kNormal = 0, kMinimised = 1 };

// The window itself: caption, icon, visibility and state.
class FormWindow : public Control {
 public:
  FormWindow();
  const std::string& Caption() const { return text_; }
  const std::string& IconKey() const { return iconKey_; }
  void SetIconKey(const std::string& key) { Set(iconKey_, key, Property::kIcon); }
  WindowState State() const { return state_; }
  void SetState(WindowState state) { Set(state_, state, Property::kWindowState); }

 private:
  std::string iconKey_;
  WindowState state_ = WindowState::kNormal;
};

inline constexpr char kLogFileName[] = "pinglog.txt";
inline constexpr std::int16_t kMaxPingInterval = 32766;  // the tick count may reach interval + 1

class Form1 {
 public:
  explicit Form1(const Services& services);
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  // Controls, in their order on the window.
  CommandButton cmdRunFix;
  TextBox txtFix;
  CheckBox chkSaveLog;
  CheckBox chkMarkers;
  PictureBox picGraph;
  Timer tmrBandwidth;
  ComboBox cboConnections;
  ProgressBar pbTime;
  ImageList imglstIcons;
  CommandButton cmdSysTray;
  CheckBox chkChanges;
  TextBox txtIP;
  Timer tmrPing;
  CommandButton cmdToggle;
  TextBox txtOut;
  TextBox txtInterval;
  Label Label6;
  Label lblUS;
  Label lblDS;
  Label Label5;
  Label Label4;
  Label Label3;
  Shape shpResult;
  Shape shpPing;
  Label Label2;
  Label Label1;
  // The tray menu.
  MenuItem mnSysTray;
  MenuItem mnRestore;
  MenuItem mnSep1;
  MenuItem mnToggle;
  MenuItem mnSep2;
  MenuItem mnClose;

  FormWindow window;

  // Controls in table order, and the menu entries in menu order.
  std::vector<Control*> Controls();
  std::vector<MenuItem*> MenuItems();

  // The handler a face calls when `control` is clicked (a button or a menu
  // entry) or fires (a timer); null for controls that raise no such event.
  using Handler = void (Form1::*)();
  Handler EventHandlerOf(const Control& control) const;

  // Window fields.
  std::string appFolder;
  std::string settingsPath;      // where the settings are saved
  std::string settingsLoadPath;  // where they were read: settingsPath, or the
                                 // program's own file while the per-user one is new
  std::string logFilePath;
  std::string outagesFilePath;  // outages.csv, beside pinglog.txt
  std::int16_t pingInterval = 0;
  std::int16_t tickCount = 0;
  std::int32_t pingState = 0;  // 0 none, 1 passed, 2 failed
  std::int32_t lastPingState = 0;
  std::string lastGoodStats;
  std::string trayTip;
  std::int16_t firstSample = 0;  // 16-bit Boolean, true is -1

  BandwidthSampler sampler;
  ModSysTray sysTray;
  // Round trips, loss and outages of the run, beyond the lamps' pass/fail.
  LinkQuality quality;

  // Event handlers.
  void Form_Load();
  void txtInterval_Change();
  void cmdToggle_Click();
  void mnToggle_Click();
  void Form_QueryUnload();
  void mnClose_Click();
  void tmrPing_Timer();
  void tmrBandwidth_Timer();
  void cmdRunFix_Click();
  void cmdSysTray_Click();
  void mnRestore_Click();
  // x is in twips; for the tray callback it carries the mouse message code.
  void Form_MouseMove(int button, int shift, double x, double y);
  // The face tells what the user made of the window outside the program
  // (minimised by its title bar, restored from the task bar), so that the
  // next "Send to System Tray" starts from the window as it is.
  void Form_Resize(WindowState shown);

  // Window procedures used by the handlers.
  void AddLogLine(const std::string& message);
  // False when the text could not be appended (nothing of it is then in the file).
  bool SaveLogFile(const std::string& text);
  void SetFormIcon(const std::string& key);
  void ShowResult(const std::string& message);
  std::string BandwidthSummary();
  // The result lamp's tooltip: the link's quality since Start, or "Stopped".
  std::string PingResultTip() const;
  // The graph area's tooltip at `x` pixels from the drawing's left edge: the
  // time and the figures of the second drawn there; empty where no second
  // has been drawn yet.
  std::string GraphTipAt(int x) const;

  // True once the shutdown has run.
  bool Unloaded() const { return unloaded_; }

  // What a session manager's save request keeps: the settings and, when
  // "Save log on exit" is set, the log so far; the program goes on running.
  void SaveSession();

 private:
  void StartMonitoring();
  void StopMonitoring();
  void LoadSettings();
  // The five keys written into a copy of Settings.ini that then replaces the
  // file in one step; false when the file could not be replaced.
  bool SaveSettings();
  // kNotCommitted: most often another instance replaced the file meanwhile,
  // and the save is made again over theirs.
  enum class SaveOutcome { kSaved, kFailed, kNotCommitted };
  SaveOutcome SaveSettingsOnce();
  // The close's two saves, each saying on the diagnostic channel what could
  // not be saved.
  void SaveAndReportLog();
  void SaveAndReportSettings();
  void SaveAndReportOutages();
  // Closes the run's quality figures and keeps its outages.csv rows.
  void EndQualityRun();
  std::string DataFolder();

  Services services_;
  ModGeneral modGeneral_;
  ModPing modPing_;
  bool unloaded_ = false;
  bool pingInProgress_ = false;
  bool noTrayNoted_ = false;
  bool firstPingOfRun_ = false;
  bool badDestinationNoted_ = false;  // once a run
  // The text boxes' values as loaded when the file held more than the read
  // buffer takes: written back only when the user changed them.
  std::string cutFix_, cutIp_, cutInterval_;
  // Lines the log has received, and how many of them a session save has
  // appended already: the close appends only the rest.
  std::uint64_t linesLogged_ = 0;
  std::uint64_t linesSaved_ = 0;
  bool sessionSaved_ = false;
  // When each slot of the bandwidth history was taken, and how many are.
  std::array<LocalTime, kHistorySlots> sampleTimes_{};
  int samplesTaken_ = 0;
  // The ended runs' rows for outages.csv, appended at the close.
  std::string outageRows_;
  LogText log_;              // what txtOut holds, with its UTF-16 length
  std::string pendingNote_;  // told with the first line the log receives
};

// The path with "\" (or `separator`) appended unless it already ends with one.
std::string AddBackslash(const std::string& path, char separator = '\\');

// Check box value read from settings text; anything but 0, 1 or 2 clears it.
int CheckBoxValueFromText(const std::string& text);

// The interval box's number, bounded so the 16-bit tick count cannot overflow.
std::int16_t IntervalFromText(const std::string& text);

}  // namespace quorrel
