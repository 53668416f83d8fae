// The text decoders: UTF-8, the configuration-source decoder (marks, UTF-16,
// ANSI) and the round trip of the unit-by-unit encoder.
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/launch_config.h"
#include "support/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool locale_set = std::setlocale(LC_ALL, "C.UTF-8") != nullptr;
  (void)locale_set;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  nxo::WideString wide = nxo::DecodeUtf8(bytes);
  if (wide.find(u'\0') != nxo::WideString::npos) std::abort();
  // Every decoder gives well-formed text, whatever it is fed.
  if (!nxo::IsWellFormedUtf16(wide)) std::abort();
  const std::string encoded = nxo::EncodeUtf8(wide);
  if (!nxo::IsWellFormedUtf8(encoded)) std::abort();
  // Valid UTF-8 (without a zero byte, where decoding ends) survives a round
  // trip unchanged: no character is lost or changed on the way.
  if (nxo::IsWellFormedUtf8(bytes) && bytes.find('\0') == std::string::npos && encoded != bytes)
    std::abort();
  // Whatever the decoder gives, encoding it and decoding again is stable.
  if (nxo::DecodeUtf8(encoded) != wide) std::abort();
  std::string text = nxo::config::DecodeConfigText(bytes);
  if (text.find('\0') != std::string::npos) std::abort();
  if (!nxo::IsWellFormedUtf8(text)) std::abort();
  if (!nxo::IsWellFormedUtf16(nxo::AnsiToWide(bytes))) std::abort();
  if (!nxo::IsWellFormedUtf8(nxo::AnsiToUtf8(bytes)) && nxo::HasHighByte(bytes)) std::abort();
  nxo::Utf8ToAnsi(bytes);
  nxo::WideToAnsi(nxo::AnsiToWide(bytes));
  return 0;
}
