// msvcrt.dll's formatter, given C99's contract. Its _vsnprintf neither
// terminates a text that fills the buffer exactly or overflows it, nor says
// how long the text is then (it returns -1); _vscprintf measures.
#include <cstdio>

#include "support/format.h"

namespace nxo {

int FormatV(char* buffer, std::size_t size, const char* format, std::va_list arguments) {
  if (size == 0) return _vscprintf(format, arguments);
  std::va_list measure;
  va_copy(measure, arguments);
  int length = _vsnprintf(buffer, size, format, arguments);
  if (length < 0 || static_cast<std::size_t>(length) == size) {
    buffer[size - 1] = '\0';
    length = _vscprintf(format, measure);
  }
  va_end(measure);
  return length;
}

}  // namespace nxo
