// The exposition texts: what Prometheus' parsers and node_exporter hold a
// target to, beyond what promtool checks on a served text.
#include "watch/metrics.h"

#include <gtest/gtest.h>

#include <string>

namespace quorrel::watch {
namespace {

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(WatchMetrics, LabelValuesAreEscapedInBothFormats) {
  WatchMetrics metrics("10.0.0.1", "we\"ird\\if\nname", "1.0.0");
  metrics.SetTraffic(1, 2);
  for (auto format : {ExpositionFormat::kText004, ExpositionFormat::kOpenMetrics}) {
    const std::string text = metrics.Render(format);
    EXPECT_NE(text.find(R"(interface="we\"ird\\if\nname")"), std::string::npos) << text;
    // No raw line feed inside a label: every line is a comment or a sample.
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string line = text.substr(start, end - start);
      EXPECT_TRUE(line.rfind("# ", 0) == 0 || line.rfind("quorrel_", 0) == 0) << line;
    }
  }
}

TEST(WatchMetrics, HistogramIsCumulativeAndCountsOnlyAnsweredPings) {
  WatchMetrics metrics("10.0.0.1", "eth0", "1.0.0");
  metrics.RecordProbe(true, 0.0001);  // on the first bound: inside it
  metrics.RecordProbe(true, 0.003);   // between 2.5 ms and 5 ms
  metrics.RecordProbe(true, 2.0);     // past 1 s: only +Inf
  metrics.RecordProbe(false, std::nullopt);
  const std::string text = metrics.Render(ExpositionFormat::kText004);
  const std::string labels = R"(destination="10.0.0.1",interface="eth0")";
  EXPECT_NE(text.find("quorrel_round_trip_seconds_bucket{" + labels + R"(,le="0.0001"} 1)"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("quorrel_round_trip_seconds_bucket{" + labels + R"(,le="0.0025"} 1)"),
            std::string::npos);
  EXPECT_NE(text.find("quorrel_round_trip_seconds_bucket{" + labels + R"(,le="0.005"} 2)"),
            std::string::npos);
  EXPECT_NE(text.find("quorrel_round_trip_seconds_bucket{" + labels + R"(,le="1.0"} 2)"),
            std::string::npos);
  EXPECT_NE(text.find("quorrel_round_trip_seconds_bucket{" + labels + R"(,le="+Inf"} 3)"),
            std::string::npos);
  EXPECT_NE(text.find("quorrel_round_trip_seconds_count{" + labels + "} 3"), std::string::npos);
  EXPECT_NE(text.find("quorrel_round_trip_seconds_sum{" + labels + "} 2.0031"), std::string::npos);
  EXPECT_NE(text.find("quorrel_probes_total{" + labels + R"(,result="passed"} 3)"),
            std::string::npos);
  EXPECT_NE(text.find("quorrel_probes_total{" + labels + R"(,result="failed"} 1)"),
            std::string::npos);
  EXPECT_NE(text.find("quorrel_up{" + labels + "} 0"), std::string::npos);
}

TEST(WatchMetrics, FormatsDifferAsTheirGrammarsDo) {
  WatchMetrics metrics("10.0.0.1", "eth0", "1.0.0");
  metrics.SetTraffic(5'000'000'000ULL, 7);  // past 32 bits
  metrics.SetOutages(2, 12.5);
  const std::string text = metrics.Render(ExpositionFormat::kText004);
  const std::string open = metrics.Render(ExpositionFormat::kOpenMetrics);
  // 0.0.4 names a counter's family with its _total; OpenMetrics without,
  // with units declared, an info family, and the closing # EOF.
  EXPECT_NE(text.find("# TYPE quorrel_probes_total counter\n"), std::string::npos);
  EXPECT_NE(open.find("# TYPE quorrel_probes counter\n"), std::string::npos);
  EXPECT_NE(open.find("# UNIT quorrel_round_trip_seconds seconds\n"), std::string::npos);
  EXPECT_NE(open.find("# UNIT quorrel_receive_bytes bytes\n"), std::string::npos);
  EXPECT_NE(open.find("# TYPE quorrel_build info\n"), std::string::npos);
  EXPECT_NE(text.find("# TYPE quorrel_build_info gauge\n"), std::string::npos);
  EXPECT_EQ(Count(text, "# UNIT"), 0u);
  EXPECT_EQ(Count(text, "# EOF"), 0u);
  ASSERT_GE(open.size(), 6u);
  EXPECT_EQ(open.substr(open.size() - 6), "# EOF\n");
  EXPECT_EQ(Count(open, "# EOF"), 1u);
  for (const std::string* t : {&text, &open}) {
    EXPECT_NE(t->find(R"(quorrel_receive_bytes_total{interface="eth0"} 5000000000)"),
              std::string::npos);
    EXPECT_NE(t->find("quorrel_outage_seconds_total{destination=\"10.0.0.1\",interface=\"eth0\"} "
                      "12.5\n"),
              std::string::npos);
  }
}

TEST(WatchMetrics, AcceptHeaderPicksTheFormat) {
  struct Case {
    const char* accept;
    ExpositionFormat expected;
  };
  const Case cases[] = {
      {"", ExpositionFormat::kText004},
      {"*/*", ExpositionFormat::kText004},
      {"text/plain;version=0.0.4", ExpositionFormat::kText004},
      // What Prometheus 2.x sends.
      {"application/openmetrics-text;version=1.0.0,application/openmetrics-text;version=0.0.1;"
       "q=0.75,text/plain;version=0.0.4;q=0.5,*/*;q=0.1",
       ExpositionFormat::kOpenMetrics},
      {"application/openmetrics-text", ExpositionFormat::kOpenMetrics},
      {"Application/OpenMetrics-Text; Version=1.0.0", ExpositionFormat::kOpenMetrics},
      {"text/plain;q=0.9, application/openmetrics-text;q=0.5", ExpositionFormat::kText004},
      {"application/openmetrics-text;q=0", ExpositionFormat::kText004},
      {"application/openmetrics-text;version=0.0.1", ExpositionFormat::kText004},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatFor(c.accept), c.expected) << c.accept;
}

TEST(WatchMetrics, SampleValuesIgnoreTheLocaleAndReadBack) {
  EXPECT_EQ(FormatSampleValue(0.00025), "0.00025");
  EXPECT_EQ(FormatSampleValue(1), "1.0");
  EXPECT_EQ(FormatSampleValue(6.4e-05), "0.000064");
  EXPECT_EQ(FormatSampleValue(1e300).find('e') != std::string::npos, true);
  for (double v : {0.1, 0.0031, 123456.789, 1e-7})
    EXPECT_EQ(std::stod(FormatSampleValue(v)), v) << v;
}

}  // namespace
}  // namespace quorrel::watch
