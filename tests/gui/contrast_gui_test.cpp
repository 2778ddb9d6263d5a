// The Qt face under a light and a dark palette, offscreen: every text and line
// measured on the grabbed pixels against the background it is drawn on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPalette>
#include <QPlainTextEdit>
#include <QStyle>
#include <cmath>

#include "graph/mod_graph.h"
#include "platform/qt/qt_main_window.h"

namespace quorrel::qt {
namespace {

Colour ToColour(QRgb c) {
  return static_cast<Colour>(qRed(c)) | static_cast<Colour>(qGreen(c)) << 8 |
         static_cast<Colour>(qBlue(c)) << 16;
}

// The best contrast any pixel of `area` in `image` has against `background`:
// a glyph's or a line's core pixels carry its colour whole.
double BestContrast(const QImage& image, QRect area, QRgb background) {
  double best = 1;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      best = std::max(best, ContrastRatio(ToColour(image.pixel(x, y)), ToColour(background)));
  return best;
}

QPalette Dark() {
  QPalette p;
  p.setColor(QPalette::Window, QColor(0x2D, 0x2D, 0x2D));
  p.setColor(QPalette::WindowText, Qt::white);
  p.setColor(QPalette::Base, QColor(0x1E, 0x1E, 0x1E));
  p.setColor(QPalette::AlternateBase, QColor(0x35, 0x35, 0x35));
  p.setColor(QPalette::Text, Qt::white);
  p.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
  p.setColor(QPalette::ButtonText, Qt::white);
  p.setColor(QPalette::Light, QColor(0x50, 0x50, 0x50));
  p.setColor(QPalette::Midlight, QColor(0x40, 0x40, 0x40));
  p.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x18));
  p.setColor(QPalette::Shadow, Qt::black);
  return p;
}

QPalette Light() {
  QPalette p = QApplication::style()->standardPalette();
  p.setColor(QPalette::Window, Qt::white);  // where plain red is too faint for text
  return p;
}

struct Scheme {
  const char* name;
  QPalette (*palette)();
};

class ContrastTest : public ::testing::TestWithParam<Scheme> {
 protected:
  void SetUp() override {
    Clean();
    saved_ = QApplication::palette();
    QApplication::setPalette(GetParam().palette());
  }
  void TearDown() override {
    QApplication::setPalette(saved_);
    Clean();
  }
  // The window keeps its files beside the test binary.
  static void Clean() {
    const QDir folder(QString::fromStdString(posix::PosixFileSystem().ExecutableFolder()));
    for (const char* file : {"Settings.ini", "pinglog.txt", "outages.csv"})
      QFile::remove(folder.filePath(file));
  }

  // With QUORREL_SHOTS naming a folder, the grabbed window is kept there.
  static void Keep(QWidget& window, const char* scheme) {
    const QString folder = qEnvironmentVariable("QUORREL_SHOTS");
    if (folder.isEmpty()) return;
    const QString scale = QString::number(window.devicePixelRatioF());
    window.grab().save(QDir(folder).filePath(QString("quorrel-%1-%2x.png").arg(scheme, scale)));
  }

 private:
  QPalette saved_;
};

TEST_P(ContrastTest, TheLogTheCaptionsTheLinesAndTheLampsStandOut) {
  LinuxServices services;
  MainWindow window(services);
  window.show();
  Form1& form = window.Form();
  form.cmdToggle_Click();  // a log line, and the lamps coloured by Start
  form.cmdToggle_Click();
  form.lblDS.SetCaption("Downstream: 1,234 KB");
  form.lblUS.SetCaption("Upstream: 567 KB");

  // Both series flat across the middle of the area, drawn by the face's canvas.
  ModGraph graph(services.codePage);
  const Colour colours[] = {kRed, kBlue};
  graph.SetupGraph(window.GraphCanvas(), colours);
  const float samples[] = {70, 30};
  for (int i = 0; i < kGraphPoints; ++i) graph.DrawGraph(samples, window.GraphCanvas(), true);
  Keep(window, GetParam().name);

  auto* log = qobject_cast<QPlainTextEdit*>(window.WidgetOf("txtOut"));
  ASSERT_NE(log, nullptr);
  ASSERT_FALSE(log->toPlainText().isEmpty());
  const QImage logImage = log->viewport()->grab().toImage();
  const qreal ratio = logImage.devicePixelRatio();
  const QRgb logPaper = logImage.pixel(logImage.width() - 2, logImage.height() - 2);
  EXPECT_GE(BestContrast(logImage, logImage.rect(), logPaper), kTextContrast);

  for (const char* name : {"lblDS", "lblUS"}) {
    // Large enough that the glyphs' stems have pixels of the whole colour,
    // which the fitted small captions' smoothed edges never reach.
    QWidget* label = window.WidgetOf(name);
    QFont large = label->font();
    large.setPixelSize(40);
    label->setFont(large);
    label->resize(label->sizeHint());
    const QImage caption = label->grab().toImage();
    const QRgb paper = window.palette().color(QPalette::Window).rgb();
    EXPECT_GE(BestContrast(caption, caption.rect(), paper), kTextContrast) << name;
    // A fixed hue still: the caption's inked pixels are not the window's grey.
    bool coloured = false;
    for (int y = 0; y < caption.height(); ++y)
      for (int x = 0; x < caption.width(); ++x)
        coloured |= qRed(caption.pixel(x, y)) != qBlue(caption.pixel(x, y));
    EXPECT_TRUE(coloured) << name;
  }

  QWidget* view = window.WidgetOf("picGraph");
  const QImage area = view->grab().toImage();
  const QRgb paper = area.pixel(area.width() / 2, area.height() / 2);  // between the lines
  for (float sample : samples) {
    // The line's row, in device pixels, inside the 2-pixel edge.
    const double y = (100 - sample) * graph.graphYScale;
    const QRect row(static_cast<int>(20 * ratio), static_cast<int>((y + 2 - 1) * ratio),
                    static_cast<int>(40 * ratio), static_cast<int>(3 * ratio));
    EXPECT_GE(BestContrast(area, row, paper), kLineContrast) << "the line at " << sample;
  }

  for (const char* name : {"shpResult", "shpPing"}) {
    QWidget* lamp = window.WidgetOf(name);
    const QImage shown = lamp->grab().toImage();
    const QRgb fill = shown.pixel(shown.width() / 2, shown.height() / 2);
    EXPECT_GE(
        ContrastRatio(ToColour(fill), ToColour(window.palette().color(QPalette::Window).rgb())),
        kLineContrast)
        << name;
  }
  window.Shutdown(false);
}

INSTANTIATE_TEST_SUITE_P(Schemes, ContrastTest,
                         ::testing::Values(Scheme{"light", &Light}, Scheme{"dark", &Dark}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorrel::qt
