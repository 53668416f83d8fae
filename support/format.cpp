#include "support/format.h"

namespace nxo {

int Format(char* buffer, std::size_t size, const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  const int length = FormatV(buffer, size, format, arguments);
  va_end(arguments);
  return length;
}

std::string FormatText(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::va_list measure;
  va_copy(measure, arguments);
  const int length = FormatV(nullptr, 0, format, measure);
  va_end(measure);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<std::size_t>(length));
    // The string's own terminator takes the formatter's zero.
    FormatV(text.data(), text.size() + 1, format, arguments);
  }
  va_end(arguments);
  return text;
}

}  // namespace nxo
