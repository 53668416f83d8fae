#include "support/trail.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace nxo::trail {

namespace detail {
bool on = false;
}  // namespace detail

namespace {

Clock clock = nullptr;

std::FILE* sink = nullptr;
bool sink_is_file = false;
bool environment_read = false;

// Lines up to this size are formatted on the stack.
constexpr std::size_t kLineBuffer = 512;

void WriteWhole(const char* text, std::size_t length) {
  // One write per line: the stream's own lock keeps lines from different
  // threads apart.
  std::fwrite(text, 1, length, sink);
  std::fflush(sink);
}

}  // namespace

void UseClock(Clock microseconds_since_start) { clock = microseconds_since_start; }

unsigned long long MicrosecondsSinceStart() { return clock != nullptr ? clock() : 0; }

bool OpenDestination(const char* destination) {
  Close();
  if (std::strcmp(destination, "-") == 0) {
    sink = stderr;
  } else {
    // Binary, so every target writes the same "\n" line ends.
    sink = std::fopen(destination, "ab");
    if (sink == nullptr) return false;
    sink_is_file = true;
  }
  detail::on = true;
  return true;
}

void OpenFromEnvironment() {
  if (environment_read) return;
  environment_read = true;
  const char* destination = std::getenv(kVariable);
  if (destination == nullptr || destination[0] == '\0') return;
  OpenDestination(destination);
}

void Line(const char* area, const char* format, ...) {
  if (!detail::on) return;
  char prefix[64];
  const int prefix_length =
      Format(prefix, sizeof prefix, "%8llu %s: ", MicrosecondsSinceStart(), area);
  if (prefix_length < 0) return;

  char stack_line[kLineBuffer];
  std::va_list arguments;
  va_start(arguments, format);
  std::va_list measure;
  va_copy(measure, arguments);
  const int text_length = FormatV(nullptr, 0, format, measure);
  va_end(measure);
  if (text_length < 0) {
    va_end(arguments);
    return;
  }
  const std::size_t prefix_size =
      std::strlen(prefix);  // the area may have been cut to fit the prefix buffer
  const std::size_t total = prefix_size + static_cast<std::size_t>(text_length) + 1;
  std::string heap_line;
  char* line = stack_line;
  if (total + 1 > sizeof stack_line) {
    heap_line.resize(total + 1);
    line = heap_line.data();
  }
  std::memcpy(line, prefix, prefix_size);
  FormatV(line + prefix_size, static_cast<std::size_t>(text_length) + 1, format, arguments);
  va_end(arguments);
  line[total - 1] = '\n';
  WriteWhole(line, total);
}

void Close() {
  detail::on = false;
  if (sink != nullptr && sink_is_file) std::fclose(sink);
  sink = nullptr;
  sink_is_file = false;
}

}  // namespace nxo::trail
