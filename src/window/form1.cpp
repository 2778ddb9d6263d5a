#include "window/form1.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "common/number.h"
#include "quality/quality_text.h"
#include "window/event_log.h"

namespace quorrel {
namespace {

const ControlLayout kFormSpec{"Form1",
                              ControlKind::kLabel,
                              kWindowCaption,
                              {0, 0, kClientWidthTwips, kClientHeightTwips},
                              -1};

constexpr char kMsgStarted[] = "Monitoring started";
constexpr char kMsgStopped[] = "Monitoring stopped";
constexpr char kMsgRunningFix[] = "Running connection refresh";
constexpr char kMsgNoTray[] =
    "No notification area on this desktop: the window is minimised instead of hidden";
constexpr char kMsgSettingsMovedTo[] = "Settings are saved in ";
constexpr char kMsgBadDestination[] =
    " is not a dotted IPv4 address (such as 192.168.1.1): no echo can be sent to it";
constexpr char kMsgNowhereToSave[] =
    "Settings and the log cannot be saved: neither the program's folder nor a per-user folder "
    "can be written";
// A save that finds the file replaced by another instance's is made again
// over theirs; more than this many in a row is not a race any more.
constexpr int kSaveAttempts = 3;
// Runs' outage rows kept for the close beyond this are dropped, oldest run
// last: a window left running for years must not grow without bound.
constexpr std::size_t kMaxOutageRows = 1 << 20;
constexpr int kTrayDoubleClick = 0x203;  // WM_LBUTTONDBLCLK
constexpr int kTrayRightUp = 0x205;      // WM_RBUTTONUP

}  // namespace

FormWindow::FormWindow() : Control(kFormSpec) {}

std::string AddBackslash(const std::string& path, char separator) {
  if (!path.empty() && path.back() == separator) return path;
  return path + separator;
}

int CheckBoxValueFromText(const std::string& text) {
  double v = RoundHalfEven(Val(text));
  return (v == 0 || v == 1 || v == 2) ? static_cast<int>(v) : 0;
}

std::int16_t IntervalFromText(const std::string& text) {
  return static_cast<std::int16_t>(RoundClamped(Val(text), -32768, kMaxPingInterval));
}

#define QUORREL_CONTROL(name) name(LayoutOf(#name))

Form1::Form1(const Services& services)
    : QUORREL_CONTROL(cmdRunFix),
      QUORREL_CONTROL(txtFix),
      QUORREL_CONTROL(chkSaveLog),
      QUORREL_CONTROL(chkMarkers),
      QUORREL_CONTROL(picGraph),
      QUORREL_CONTROL(tmrBandwidth),
      QUORREL_CONTROL(cboConnections),
      QUORREL_CONTROL(pbTime),
      QUORREL_CONTROL(imglstIcons),
      QUORREL_CONTROL(cmdSysTray),
      QUORREL_CONTROL(chkChanges),
      QUORREL_CONTROL(txtIP),
      QUORREL_CONTROL(tmrPing),
      QUORREL_CONTROL(cmdToggle),
      QUORREL_CONTROL(txtOut),
      QUORREL_CONTROL(txtInterval),
      QUORREL_CONTROL(Label6),
      QUORREL_CONTROL(lblUS),
      QUORREL_CONTROL(lblDS),
      QUORREL_CONTROL(Label5),
      QUORREL_CONTROL(Label4),
      QUORREL_CONTROL(Label3),
      QUORREL_CONTROL(shpResult),
      QUORREL_CONTROL(shpPing),
      QUORREL_CONTROL(Label2),
      QUORREL_CONTROL(Label1),
      QUORREL_CONTROL(mnSysTray),
      QUORREL_CONTROL(mnRestore),
      QUORREL_CONTROL(mnSep1),
      QUORREL_CONTROL(mnToggle),
      QUORREL_CONTROL(mnSep2),
      QUORREL_CONTROL(mnClose),
      sampler(services.clock, services.codePage),
      sysTray(services.shell, services.toolkit, services.codePage),
      services_(services),
      modGeneral_(services.profile, services.codePage),
      modPing_(services.winsock, services.icmp, services.toolkit, services.codePage) {
  cmdRunFix.SetEnabled(false);
  pbTime.SetVisible(false);
  txtInterval.SetChangeHandler([this] { txtInterval_Change(); });
}

#undef QUORREL_CONTROL

std::vector<Control*> Form1::Controls() {
  return {&cmdRunFix,      &txtFix,    &chkSaveLog,  &chkMarkers,  &picGraph,   &tmrBandwidth,
          &cboConnections, &pbTime,    &imglstIcons, &cmdSysTray,  &chkChanges, &txtIP,
          &tmrPing,        &cmdToggle, &txtOut,      &txtInterval, &Label6,     &lblUS,
          &lblDS,          &Label5,    &Label4,      &Label3,      &shpResult,  &shpPing,
          &Label2,         &Label1};
}

std::vector<MenuItem*> Form1::MenuItems() {
  return {&mnSysTray, &mnRestore, &mnSep1, &mnToggle, &mnSep2, &mnClose};
}

Form1::Handler Form1::EventHandlerOf(const Control& control) const {
  if (&control == &cmdToggle) return &Form1::cmdToggle_Click;
  if (&control == &cmdRunFix) return &Form1::cmdRunFix_Click;
  if (&control == &cmdSysTray) return &Form1::cmdSysTray_Click;
  if (&control == &tmrPing) return &Form1::tmrPing_Timer;
  if (&control == &tmrBandwidth) return &Form1::tmrBandwidth_Timer;
  if (&control == &mnRestore) return &Form1::mnRestore_Click;
  if (&control == &mnToggle) return &Form1::mnToggle_Click;
  if (&control == &mnClose) return &Form1::mnClose_Click;
  return nullptr;
}

// Where Settings.ini and pinglog.txt live: beside the program, or in the
// per-user folder when the program is installed for all users, its folder
// cannot be written, or the Settings.ini there is not this user's to replace
// (root's, left by a run as root). Empty when there is no such folder: then
// nothing is written anywhere, rather than into someone else's files.
std::string Form1::DataFolder() {
  FileSystem& files = services_.files;
  if (!files.IsInstalledProgramFolder(appFolder) && files.IsFolderWritable(appFolder) &&
      files.MayReplace(appFolder + kSettingsFileName))
    return appFolder;
  std::string user = files.UserDataFolder();
  return user.empty() ? std::string() : AddBackslash(user, files.PathSeparator());
}

void Form1::Form_Load() {
  const char sep = services_.files.PathSeparator();
  appFolder = AddBackslash(services_.files.ExecutableFolder(), sep);
  const std::string dataFolder = DataFolder();
  settingsPath = dataFolder.empty() ? std::string() : dataFolder + kSettingsFileName;
  settingsLoadPath = settingsPath;
  if (dataFolder.empty()) {
    settingsLoadPath = appFolder + kSettingsFileName;
    pendingNote_ = kMsgNowhereToSave;
  }
  // A program folder that cannot be written (an installed program) may still
  // hold the user's Settings.ini from before: it is read until the per-user
  // file exists, and the first close writes the per-user one. Nothing is
  // logged at load, so the move is told with the log's first line.
  if (!dataFolder.empty() && dataFolder != appFolder &&
      !services_.files.IsExistingFile(settingsPath)) {
    const std::string besideProgram = appFolder + kSettingsFileName;
    if (services_.files.IsExistingFile(besideProgram)) {
      settingsLoadPath = besideProgram;
      std::string folder = dataFolder;
      folder.pop_back();  // the separator AddBackslash put there
      pendingNote_ = std::string(kMsgSettingsMovedTo) + folder;
    }
  }
  LoadSettings();
  trayTip = std::string(kAppTitle) + " - OFF";
  SetFormIcon("grey");
  txtInterval_Change();
  sampler.Setup(services_.ipHelper, cboConnections);
  lblDS.SetForeColour(kRed);
  lblUS.SetForeColour(kBlue);
  sampler.SetupGraph(services_.graphCanvas);
  logFilePath = dataFolder.empty() ? std::string() : dataFolder + kLogFileName;
  outagesFilePath = dataFolder.empty() ? std::string() : dataFolder + kOutagesFileName;
}

void Form1::LoadSettings() {
  auto read = [&](const char* key, std::string* cut = nullptr) {
    bool full = false;
    std::string value = modGeneral_.ReadIniValue(kOptionsSection, key, settingsLoadPath, &full);
    if (cut != nullptr) *cut = full ? value : std::string();
    return value;
  };
  txtFix.SetText(read(kKeyFixPath, &cutFix_));
  txtIP.SetText(read(kKeyIp, &cutIp_));
  txtInterval.SetText(read(kKeyInterval, &cutInterval_));
  chkChanges.SetValue(CheckBoxValueFromText(read(kKeyChangesOnly)));
  chkSaveLog.SetValue(CheckBoxValueFromText(read(kKeySaveLogOnExit)));
}

// The five writes go, in their order, into a copy of the file; only the
// copy's replacing the file is seen by anyone else, so a kill at any moment
// leaves the old five values or the new five, and of two instances closing
// together one instance's five stand whole.
Form1::SaveOutcome Form1::SaveSettingsOnce() {
  FileSystem& files = services_.files;
  // While the per-user file is new, the copy starts from the file the
  // settings were read from, so its other lines and its long values carry over.
  const FileReplacement copy = files.BeginReplace(settingsPath, settingsLoadPath);
  if (copy.copy.empty()) return SaveOutcome::kFailed;
  bool written = true;
  auto write = [&](const char* key, const std::string& value, const std::string* cut = nullptr) {
    // A value the read buffer cut is written back only when the user changed
    // it; the file keeps the whole of it otherwise.
    if (cut != nullptr && !cut->empty() && value == *cut) return;
    written = modGeneral_.WriteIniValue(kOptionsSection, key, value, copy.copy) != 0 && written;
  };
  write(kKeyFixPath, txtFix.Text(), &cutFix_);
  write(kKeyIp, txtIP.Text(), &cutIp_);
  write(kKeyInterval, txtInterval.Text(), &cutInterval_);
  write(kKeyChangesOnly, std::to_string(chkChanges.Value()));
  write(kKeySaveLogOnExit, std::to_string(chkSaveLog.Value()));
  if (!written) {
    files.AbandonReplace(copy);
    return SaveOutcome::kFailed;
  }
  return files.CommitReplace(copy, settingsPath) ? SaveOutcome::kSaved : SaveOutcome::kNotCommitted;
}

bool Form1::SaveSettings() {
  if (settingsPath.empty()) return false;
  for (int attempt = 0; attempt < kSaveAttempts; ++attempt) {
    const SaveOutcome outcome = SaveSettingsOnce();
    if (outcome != SaveOutcome::kNotCommitted) return outcome == SaveOutcome::kSaved;
  }
  return false;
}

namespace {

// The last `count` lines of a log whose lines all end in CR LF (the whole
// log when it holds fewer).
std::string LastLines(const std::string& text, std::uint64_t count) {
  std::size_t from = text.size();
  for (; count > 0 && from >= 3; --count) {
    // `from` starts a line (or is the end); the line before it ends at from - 2.
    std::size_t crlf = text.rfind("\r\n", from - 3);
    from = crlf == std::string::npos ? 0 : crlf + 2;
  }
  return count > 0 ? text : text.substr(from);
}

}  // namespace

void Form1::SaveAndReportLog() {
  FileSystem& files = services_.files;
  if (logFilePath.empty()) {
    files.ReportUnsaved("the log was not saved: no folder for pinglog.txt can be written");
    return;
  }
  // After a session save only the lines logged since then are new to the file.
  if (sessionSaved_ && linesLogged_ == linesSaved_) return;
  const std::string block =
      sessionSaved_ ? LastLines(txtOut.Text(), linesLogged_ - linesSaved_) : txtOut.Text();
  if (SaveLogFile(block))
    linesSaved_ = linesLogged_;
  else
    files.ReportUnsaved("the log could not be appended to " + logFilePath);
}

void Form1::SaveAndReportSettings() {
  FileSystem& files = services_.files;
  if (settingsPath.empty())
    files.ReportUnsaved("the settings were not saved: no folder for Settings.ini can be written");
  else if (!SaveSettings())
    files.ReportUnsaved("the settings could not be saved to " + settingsPath);
}

void Form1::SaveSession() {
  if (unloaded_) return;
  if (chkSaveLog.Value() == 1) {
    SaveAndReportLog();
    SaveAndReportOutages();
    sessionSaved_ = true;
  }
  SaveAndReportSettings();
}

void Form1::txtInterval_Change() {
  pingInterval = IntervalFromText(txtInterval.Text());
  if (pingInterval > 0) pbTime.SetMax(pingInterval);
}

void Form1::cmdToggle_Click() {
  if (!tmrPing.Enabled())
    StartMonitoring();
  else
    StopMonitoring();
}

void Form1::mnToggle_Click() { cmdToggle_Click(); }

void Form1::StartMonitoring() {
  txtInterval.SetEnabled(false);
  cmdToggle.SetCaption("&Stop");
  mnToggle.SetCaption("Stop Pings");
  trayTip = std::string(kAppTitle) + " - ON";
  SetFormIcon("green");
  // The tray must not go on telling the last run's result.
  sysTray.ModifyTrayIcon(trayTip);
  shpPing.SetFillColour(kSilver);
  shpResult.SetFillColour(kSilver);
  AddLogLine(kMsgStarted);
  quality.Reset(services_.clock.Now());
  pbTime.SetValue(0);
  pbTime.SetVisible(true);
  firstSample = -1;
  firstPingOfRun_ = true;
  badDestinationNoted_ = false;
  cboConnections.SetEnabled(false);
  tmrBandwidth.SetEnabled(true);
  tmrPing.SetEnabled(true);
}

void Form1::StopMonitoring() {
  tmrBandwidth.SetEnabled(false);
  tmrPing.SetEnabled(false);
  pbTime.SetVisible(false);
  cmdToggle.SetCaption("&Start");
  mnToggle.SetCaption("Start Pings");
  pingState = 0;
  EndQualityRun();
  trayTip = std::string(kAppTitle) + " - OFF";
  AddLogLine(kMsgStopped);
  SetFormIcon("grey");
  // Left alone, the tray would say "Passed" of a link nobody watches.
  sysTray.ModifyTrayIcon(trayTip);
  txtInterval.SetEnabled(true);
  cboConnections.SetEnabled(true);
}

void Form1::Form_QueryUnload() {
  // Runs once; each step goes on whatever the one before managed.
  if (unloaded_) return;
  unloaded_ = true;
  tmrBandwidth.SetEnabled(false);
  tmrPing.SetEnabled(false);
  EndQualityRun();
  if (chkSaveLog.Value() == 1) {
    SaveAndReportLog();
    SaveAndReportOutages();
  }
  sysTray.DeleteTrayIcon();
  sampler.ReleaseIpHelper();
  SaveAndReportSettings();
}

void Form1::mnClose_Click() {
  services_.toolkit.UnloadWindow();
  Form_QueryUnload();  // in case the face could not close the window itself
  services_.toolkit.EndProgram();
}

void Form1::tmrPing_Timer() {
  // A message box of the probe runs its own message loop; a tick arriving
  // meanwhile must not start a second ping inside the first.
  if (pingInProgress_) return;
  ++tickCount;
  if (tickCount > pingInterval) {
    tickCount = 0;
    shpPing.SetFillColour(shpPing.FillColour() == kYellow ? kBlue : kYellow);
    lastPingState = pingState;
    pingInProgress_ = true;
    const std::string destination = txtIP.Text();
    const PingOutcome outcome = modPing_.PingHostTimed(destination);
    const bool passed = outcome.passed;
    pingInProgress_ = false;
    quality.Add({passed, services_.clock.Now(),
                 static_cast<std::int64_t>(outcome.rttMicros.value_or(0)), outcome.wholeMillis});
    if (passed) {
      pingState = 1;
      cmdRunFix.SetEnabled(false);
      lastGoodStats = BandwidthSummary();
      ShowResult("Ping " + destination + " passed : " + lastGoodStats);
    } else {
      pingState = 2;
      cmdRunFix.SetEnabled(true);
      ShowResult("Ping " + destination + " failed : " + BandwidthSummary());
      if (pingState != lastPingState) AddLogLine("Last 'good' stats: " + lastGoodStats);
      // Without this a typing slip looks exactly like a dead link.
      if (!badDestinationNoted_ && !IsDottedIpv4(destination)) {
        badDestinationNoted_ = true;
        AddLogLine("The destination \"" + destination + "\"" + kMsgBadDestination);
      }
    }
    // Once a run is enough: the same line at every ping would bury the results.
    if (std::exchange(firstPingOfRun_, false)) {
      const std::string blocked = services_.icmp.SendBlockedReason();
      if (!blocked.empty()) AddLogLine(blocked);
    }
  }
  pbTime.SetValue(tickCount);
}

void Form1::ShowResult(const std::string& message) {
  if (chkChanges.Value() == 1 && pingState == lastPingState) return;
  if (pingState == 1) {
    SetFormIcon("green");
    trayTip = std::string(kAppTitle) + " - Passed";
    shpResult.SetFillColour(kGreen);
  } else if (pingState == 2) {
    SetFormIcon("red");
    trayTip = std::string(kAppTitle) + " - Failed";
    shpResult.SetFillColour(kRed);
  }
  sysTray.ModifyTrayIcon(trayTip);
  AddLogLine(message);
}

void Form1::SetFormIcon(const std::string& key) { window.SetIconKey(key); }

void Form1::AddLogLine(const std::string& message) {
  Clock& clock = services_.clock;
  std::string stamp = FormatLogStamp(clock.Now(), clock.DateSeparator(), clock.TimeSeparator());
  // Only AddLogLine writes the log; should anything else have set the box,
  // its text is taken as it stands.
  if (txtOut.Text() != log_.Text()) log_.Assign(txtOut.Text());
  log_.Append(stamp, message);
  ++linesLogged_;
  if (!pendingNote_.empty()) {
    log_.Append(stamp, std::exchange(pendingNote_, {}));
    ++linesLogged_;
  }
  txtOut.SetText(log_.Text());
}

bool Form1::SaveLogFile(const std::string& text) {
  if (logFilePath.empty()) return false;
  return services_.files.AppendToFile(logFilePath, services_.codePage.ToAnsi(text + "\r\n"));
}

std::string Form1::BandwidthSummary() { return sampler.BandwidthSummary(); }

std::string Form1::PingResultTip() const {
  return quorrel::PingResultTip(quality, services_.clock);
}

std::string Form1::GraphTipAt(int x) const {
  // The drawing's points: point j shows the sample taken 99 - j seconds
  // before the newest, at x = step * j, the newest at the right edge.
  const double step = services_.graphCanvas.Width() / 100.0;
  if (step <= 0 || samplesTaken_ == 0) return {};
  const int point = std::clamp(static_cast<int>(std::lround(x / step)), 0, kHistorySlots - 1);
  const int age = kHistorySlots - 1 - point;
  if (age >= samplesTaken_) return {};
  const int slot = ((sampler.sampleSlot - 1 - age) % kHistorySlots + kHistorySlots) % kHistorySlots;
  return GraphPointTip(sampleTimes_[static_cast<std::size_t>(slot)], sampler.historyDS[slot],
                       sampler.historyUS[slot], services_.clock);
}

void Form1::EndQualityRun() {
  if (!quality.Running()) return;
  quality.Stop(services_.clock.Now());
  if (outageRows_.size() < kMaxOutageRows)
    outageRows_ += OutagesCsvBlock(quality, txtIP.Text(), false);
}

void Form1::SaveAndReportOutages() {
  if (outageRows_.empty()) return;
  FileSystem& files = services_.files;
  if (outagesFilePath.empty()) {
    files.ReportUnsaved("the outages were not saved: no folder for outages.csv can be written");
    return;
  }
  const std::string header =
      files.IsExistingFile(outagesFilePath) ? "" : std::string(kOutagesCsvHeader) + "\r\n";
  if (files.AppendToFile(outagesFilePath, services_.codePage.ToAnsi(header + outageRows_)))
    outageRows_.clear();
  else
    files.ReportUnsaved("the outages could not be appended to " + outagesFilePath);
}

void Form1::tmrBandwidth_Timer() {
  sampler.Tick(firstSample, cboConnections.ListIndex(), lblDS, lblUS, chkMarkers.Value() == 1);
  sampleTimes_[static_cast<std::size_t>(sampler.sampleSlot - 1)] = services_.clock.Now();
  samplesTaken_ = std::min(samplesTaken_ + 1, kHistorySlots);
}

void Form1::cmdRunFix_Click() {
  AddLogLine(kMsgRunningFix);
  std::string error;
  if (!services_.process.StartDetached(txtFix.Text(), kSwShowNormal, error))
    AddLogLine("Run Fix could not start the command: " + error);
}

void Form1::cmdSysTray_Click() {
  if (sysTray.trayIconShown) return;
  if (!services_.toolkit.TrayAvailable()) {
    // Hiding without an icon to come back by would strand the user.
    if (!noTrayNoted_) AddLogLine(kMsgNoTray);
    noTrayNoted_ = true;
    window.SetState(WindowState::kMinimised);
    return;
  }
  sysTray.AddTrayIcon(trayTip);
  window.SetVisible(false);
  window.SetState(WindowState::kMinimised);
}

void Form1::mnRestore_Click() {
  window.SetVisible(true);
  window.SetState(WindowState::kNormal);
  sysTray.DeleteTrayIcon();
  window.SetVisible(true);
  services_.toolkit.FocusWindow();
}

void Form1::Form_Resize(WindowState shown) { window.SetState(shown); }

void Form1::Form_MouseMove(int /*button*/, int /*shift*/, double x, double /*y*/) {
  if (!sysTray.trayIconShown) return;
  const auto code = static_cast<int>(RoundHalfEven(x / services_.toolkit.TwipsPerPixelX()));
  if (code == kTrayDoubleClick)
    mnRestore_Click();
  else if (code == kTrayRightUp)
    services_.toolkit.ShowTrayMenu();
}

}  // namespace quorrel
