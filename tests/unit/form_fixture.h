#pragma once
// A Form1 wired to fakes, as the tests drive it.
#include <gtest/gtest.h>

#include "fakes/fakes.h"
#include "window/form1.h"
#include "window/state_pictures.h"

namespace quorrel::fakes {

struct FakeServices {
  FakeToolkit toolkit;
  FakeClock clock;
  FakeFileSystem files;
  IdentityCodePage codePage;
  FakeProfile profile;
  FakeWinsock winsock;
  FakeIcmp icmp;
  FakeIfTable ifTable;
  FakeShell shell;
  FakeProcess process;
  RecordingCanvas canvas;

  Services Ports() {
    files.profile = &profile;
    return Services{toolkit, clock, files, codePage, profile, winsock,
                    icmp,    ifTable, shell, process, canvas};
  }
};

class FormTest : public ::testing::Test {
 protected:
  FakeServices fake;
  std::unique_ptr<Form1> form;

  // Builds the window; call after scripting the fakes' start-up state.
  Form1& Load() {
    form = std::make_unique<Form1>(fake.Ports());
    fake.toolkit.iconSource = [this] {
      return static_cast<std::uint32_t>(IconIndex(form->window.IconKey()));
    };
    fake.toolkit.onUnload = [this] { form->Form_QueryUnload(); };
    form->Form_Load();
    return *form;
  }
  void SetOption(const std::string& key, const std::string& value) {
    fake.profile.sections["Options"][key] = value;
  }
  void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) form->tmrPing_Timer();
  }
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    const std::string& text = form->txtOut.Text();
    std::size_t start = 0;
    for (std::size_t crlf; (crlf = text.find("\r\n", start)) != std::string::npos; start = crlf + 2)
      lines.push_back(text.substr(start, crlf - start));
    return lines;
  }
  // Log lines without their time stamp.
  std::vector<std::string> LogMessages() const {
    std::vector<std::string> out;
    for (const auto& line : LogLines()) out.push_back(line.substr(line.find(" - ") + 3));
    return out;
  }
};

}  // namespace quorrel::fakes
