// The C library's own formatter is C99's.
#include <cstdio>

#include "support/format.h"

namespace nxo {

int FormatV(char* buffer, std::size_t size, const char* format, std::va_list arguments) {
  return std::vsnprintf(buffer, size, format, arguments);
}

}  // namespace nxo
