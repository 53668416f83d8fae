#include "support/text.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <cwchar>

namespace nxo {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithIgnoreCase(a, b);
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(text[i]);
    unsigned char y = static_cast<unsigned char>(prefix[i]);
    if (x != y && std::toupper(x) != std::toupper(y)) return false;
  }
  return true;
}

bool IsNameByte(unsigned char byte) { return byte == '_' || std::isalnum(byte); }

bool HasHighByte(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  return false;
}

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

std::string EncodeUtf8(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const char16_t unit = wide[i];
    if (IsHighSurrogate(unit) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) {
      AppendUtf8(out, 0x10000 + ((static_cast<std::uint32_t>(unit) - 0xD800) << 10) +
                          (static_cast<std::uint32_t>(wide[++i]) - 0xDC00));
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      AppendUtf8(out, kReplacement);  // half a pair is no character
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::string EncodeModifiedUtf8(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (char16_t unit : wide) {
    if (unit == 0) {
      out += "\xC0\x80";
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

namespace {

// The sequence length a lead byte starts, and the range its second byte must
// lie in so that the sequence is neither overlong, nor a surrogate, nor past
// U+10FFFF; 0 for a byte that starts no sequence.
std::size_t SequenceLength(unsigned char lead, unsigned char& low, unsigned char& high) {
  low = 0x80;
  high = 0xBF;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    return 4;
  }
  return 0;
}

}  // namespace

WideString DecodeUtf8(std::string_view utf8) {
  WideString out;
  std::size_t i = 0;
  const std::size_t n = utf8.size();
  while (i < n) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    unsigned char low, high;
    const std::size_t length = SequenceLength(lead, low, high);
    if (length == 1) {
      out.push_back(lead);
      ++i;
      continue;
    }
    if (length == 0) {
      // A stray continuation byte, or a byte that never starts a character.
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    std::uint32_t code = lead & (0x7F >> length);
    std::size_t k = 1;
    for (; k < length && i + k < n; ++k) {
      const unsigned char next = static_cast<unsigned char>(utf8[i + k]);
      if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) break;
      code = code << 6 | (next & 0x3F);
    }
    if (k < length) {
      // Cut short, by a byte that cannot continue it or by the end: one
      // replacement for the part read; the offending byte starts anew.
      out.push_back(kReplacement);
      i += k;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  std::size_t zero = out.find(u'\0');
  if (zero != WideString::npos) out.resize(zero);
  return out;
}

namespace {

bool ansi_is_utf8 = false;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Standard UTF-8, as the system's UTF-8 code page has it: four-byte sequences
// are characters beyond the 16-bit range and become surrogate pairs.
WideString DecodeSystemUtf8(std::string_view text) {
  WideString out;
  std::size_t i = 0;
  while (i < text.size() && text[i] != '\0') {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
    unsigned long code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    std::size_t k = 1;
    for (; length != 0 && k < length && i + k < text.size(); ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if (!IsContinuation(next)) break;
      code = (code << 6) | (next & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (length == 0 || k < length || overlong || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
      out.push_back(u'?');
      i += length == 0 ? 1 : k;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  return out;
}

std::string EncodeSystemUtf8(std::u16string_view wide) {
  std::string out;
  for (std::size_t i = 0; i < wide.size() && wide[i] != 0; ++i) {
    const char16_t unit = wide[i];
    const bool high = unit >= 0xD800 && unit < 0xDC00;
    if (high && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
      const unsigned long code = 0x10000 + ((static_cast<unsigned long>(unit) - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
      ++i;
    } else if (unit >= 0xD800 && unit < 0xE000) {
      out.push_back('?');  // a surrogate without its partner has no UTF-8 form
    } else {
      out += EncodeUtf8(std::u16string_view(&unit, 1));
    }
  }
  return out;
}

}  // namespace

void SetAnsiCodePageIsUtf8(bool utf8) { ansi_is_utf8 = utf8; }

bool IsWellFormedUtf16(std::u16string_view wide) {
  for (std::size_t i = 0; i < wide.size(); ++i) {
    if (IsHighSurrogate(wide[i])) {
      if (i + 1 == wide.size() || !IsLowSurrogate(wide[i + 1])) return false;
      ++i;
    } else if (IsLowSurrogate(wide[i])) {
      return false;
    }
  }
  return true;
}

bool IsWellFormedUtf8(std::string_view utf8) {
  std::size_t i = 0;
  while (i < utf8.size()) {
    unsigned char low, high;
    const std::size_t length = SequenceLength(static_cast<unsigned char>(utf8[i]), low, high);
    if (length == 0 || i + length > utf8.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(utf8[i + k]);
      if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return false;
    }
    i += length;
  }
  return true;
}

WideString AnsiToWide(std::string_view ansi) {
  if (ansi_is_utf8) return DecodeSystemUtf8(ansi);
  WideString out;
  std::mbstate_t state{};
  std::size_t i = 0;
  while (i < ansi.size() && ansi[i] != '\0') {
    wchar_t wc = 0;
    std::size_t used = std::mbrtowc(&wc, ansi.data() + i, ansi.size() - i, &state);
    if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2) || used == 0) {
      out.push_back(u'?');
      state = std::mbstate_t{};
      ++i;
      continue;
    }
    unsigned long code = static_cast<unsigned long>(wc);
    // Some C libraries decode surrogates and values past U+10FFFF, which no
    // UTF-16 text can hold: those count as undecodable too.
    if (code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
      out.push_back(u'?');
      i += used;
      continue;
    }
    if (code > 0xFFFF) {
      // Only where wchar_t is 32 bits wide: keep the 16-bit convention.
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
    i += used;
  }
  return out;
}

std::string WideToAnsi(std::u16string_view wide) {
  if (ansi_is_utf8) return EncodeSystemUtf8(wide);
  std::string out;
  std::mbstate_t state{};
  char buffer[MB_LEN_MAX > 8 ? MB_LEN_MAX : 8];
  for (std::size_t i = 0; i < wide.size() && wide[i] != 0; ++i) {
    unsigned long code = wide[i];
    if (sizeof(wchar_t) > 2 && code >= 0xD800 && code < 0xDC00 && i + 1 < wide.size() &&
        wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    }
    std::size_t written = std::wcrtomb(buffer, static_cast<wchar_t>(code), &state);
    if (written == static_cast<std::size_t>(-1)) {
      out.push_back('?');
      state = std::mbstate_t{};
      continue;
    }
    out.append(buffer, written);
  }
  std::size_t zero = out.find('\0');
  if (zero != std::string::npos) out.resize(zero);
  return out;
}

std::string Utf8ToAnsi(std::string_view text) {
  if (!HasHighByte(text) || ansi_is_utf8) return std::string(text);
  return WideToAnsi(DecodeUtf8(text));
}

std::string AnsiToUtf8(std::string_view text) {
  if (!HasHighByte(text) || ansi_is_utf8) return std::string(text);
  return EncodeUtf8(AnsiToWide(text));
}

}  // namespace nxo
