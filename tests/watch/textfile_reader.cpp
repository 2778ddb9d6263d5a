// Reads a metrics textfile over and over for a while, as a collector would,
// and fails on any read that is not one whole text: it must begin with the
// first family's HELP line and end with the last family's sample.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FILE SECONDS\n", argv[0]);
    return 2;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::stoi(argv[2]));
  constexpr std::string_view kFirst = "# HELP quorrel_probes_total ";
  constexpr std::string_view kLast = "quorrel_build_info{version=\"";
  long reads = 0, whole = 0, missing = 0;
  std::string text;
  char buffer[65536];
  while (std::chrono::steady_clock::now() < end) {
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      ++missing;  // before the first write only
      continue;
    }
    text.clear();
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    ::close(fd);
    ++reads;
    const std::size_t lastLine = text.rfind('\n', text.size() >= 2 ? text.size() - 2 : 0);
    const bool ok = text.rfind(kFirst, 0) == 0 && !text.empty() && text.back() == '\n' &&
                    lastLine != std::string::npos &&
                    std::string_view(text).substr(lastLine + 1).rfind(kLast, 0) == 0;
    if (!ok) {
      std::fprintf(stderr, "read %ld was not a whole text (%zu bytes):\n%s\n", reads, text.size(),
                   text.c_str());
      return 1;
    }
    ++whole;
  }
  std::printf("%ld reads, all whole; %ld before the file existed\n", whole, missing);
  return reads > 0 ? 0 : 1;
}
