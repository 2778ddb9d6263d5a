#include "window/layout.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace quorrel {
namespace {

using K = ControlKind;

constexpr ControlLayout kControls[] = {
    {"cmdRunFix", K::kCommandButton, "Run Fix", {120, 6240, 1695, 375}, 11},
    {"txtFix", K::kTextBox, "C:\\Quorrel\\quick_opt.bat", {960, 5880, 6855, 285}, 10},
    {"chkSaveLog", K::kCheckBox, "Save log on exit", {5280, 480, 1575, 195}, 9},
    {"chkMarkers", K::kCheckBox, "Use plot markers", {6240, 5600, 1575, 255}, 8},
    {"picGraph", K::kPictureBox, "", {120, 4560, 7695, 975}, 7},
    {"tmrBandwidth", K::kTimer, "", {}, -1},
    {"cboConnections", K::kComboBox, "", {120, 720, 7695, 315}, 6},
    {"pbTime", K::kProgressBar, "", {1080, 4320, 4815, 135}, -1},
    {"imglstIcons", K::kImageList, "", {}, -1},
    {"cmdSysTray", K::kCommandButton, "Send to System &Tray", {6120, 6240, 1695, 375}, 5},
    {"chkChanges", K::kCheckBox, "Log changes only", {5280, 120, 1575, 255}, 4},
    {"txtIP", K::kTextBox, "192.168.25.0", {1200, 120, 1575, 285}, 3},
    {"tmrPing", K::kTimer, "", {}, -1},
    {"cmdToggle", K::kCommandButton, "&Start", {6960, 120, 855, 375}, 2},
    {"txtOut", K::kTextBox, "", {120, 1200, 7695, 3015}, 1},
    {"txtInterval", K::kTextBox, "15", {4320, 120, 735, 285}, 0},
    {"Label6", K::kLabel, "Fix location:", {120, 5880, 975, 255}, -1},
    // The rate captions reach "Downstream: 1,220,703 KB" at 10 Gbit/s, more
    // than 1575 twips hold: each keeps its left edge and takes the free width
    // of the row up to its neighbour (lblUS, chkMarkers).
    {"lblUS", K::kLabel, "Upstream:", {1920, 5600, 4320, 255}, -1},
    {"lblDS", K::kLabel, "Downstream:", {120, 5600, 1800, 255}, -1},
    {"Label5", K::kLabel, "Adaptor:", {120, 480, 1575, 255}, -1},
    {"Label4", K::kLabel, "Ping Status:", {120, 4320, 855, 255}, -1},
    {"Label3", K::kLabel, "Ping Result:", {6480, 4320, 855, 255}, -1},
    {"shpResult", K::kShape, "", {7440, 4320, 375, 165}, -1},
    {"shpPing", K::kShape, "", {6000, 4320, 375, 165}, -1},
    {"Label2", K::kLabel, "Destination IP", {120, 120, 1095, 255}, -1},
    {"Label1", K::kLabel, "Interval in seconds:", {2880, 120, 1455, 375}, -1},
};

constexpr ControlLayout kMenu[] = {
    {"mnSysTray", K::kMenuItem, "System Tray", {}, -1},
    {"mnRestore", K::kMenuItem, "Restore", {}, -1},
    {"mnSep1", K::kMenuItem, "-", {}, -1},
    {"mnToggle", K::kMenuItem, "Start Pings", {}, -1},
    {"mnSep2", K::kMenuItem, "-", {}, -1},
    {"mnClose", K::kMenuItem, "Close Quorrel", {}, -1},
};

}  // namespace

std::span<const ControlLayout> ControlTable() { return kControls; }
std::span<const ControlLayout> MenuTable() { return kMenu; }

const ControlLayout& LayoutOf(const char* name) {
  for (const auto& s : kControls)
    if (std::strcmp(s.name, name) == 0) return s;
  for (const auto& s : kMenu)
    if (std::strcmp(s.name, name) == 0) return s;
  throw std::out_of_range(std::string("no control named ") + name);
}

}  // namespace quorrel
