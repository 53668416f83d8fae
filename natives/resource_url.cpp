#include "natives/resource_url.h"

#include <algorithm>
#include <cstdint>

#include "support/text.h"

namespace nxo::natives {
namespace {

constexpr std::size_t kClassSuffixLength = 6;  // ".class"
constexpr std::size_t kMaxNameBytes = 0xFFFF;  // the UTF-8 entry's length field

template <typename Char>
void ReplaceAll(std::basic_string<Char>& text, Char from, Char to) {
  std::replace(text.begin(), text.end(), from, to);
}

template <typename Char>
std::basic_string<Char> Ascii(std::string_view ascii) {
  return std::basic_string<Char>(ascii.begin(), ascii.end());
}

template <typename Char>
void NormalizePath(std::basic_string<Char>& text) {
  const std::basic_string<Char> dot_step = Ascii<Char>("\\.\\");
  for (auto at = text.find(dot_step); at != text.npos; at = text.find(dot_step)) {
    text.erase(at + 1, 2);
  }
  const std::basic_string<Char> up_step = Ascii<Char>("\\..\\");
  const std::basic_string<Char> segment_ends = Ascii<Char>("\\:!");
  for (auto at = text.find(up_step); at != text.npos; at = text.find(up_step)) {
    std::size_t segment_start = 0;
    if (at > 0) {
      const auto bound = text.find_last_of(segment_ends, at - 1);
      if (bound != text.npos) segment_start = bound + 1;
    }
    text.erase(segment_start, at + up_step.size() - segment_start);
  }
}

// The URL with "/" turned into "\" and its path normalised, as every later
// step reads it.
template <typename Char>
std::basic_string<Char> EntryPath(std::basic_string<Char> text) {
  ReplaceAll(text, Char('/'), Char('\\'));
  NormalizePath(text);
  return text;
}

// The class name in a normalised class URL: after the last "!" or ":" and
// one leading separator, without ".class", with "/" between package parts.
template <typename Char>
std::basic_string<Char> ClassNameOf(const std::basic_string<Char>& path) {
  std::size_t start = 0;
  const auto bound = path.find_last_of(Ascii<Char>("!:"));
  if (bound != path.npos) start = bound + 1;
  if (start < path.size() && (path[start] == Char('/') || path[start] == Char('\\'))) ++start;
  const std::size_t end = path.size() >= kClassSuffixLength ? path.size() - kClassSuffixLength : 0;
  std::basic_string<Char> name = path.substr(start, end > start ? end - start : 0);
  ReplaceAll(name, Char('\\'), Char('/'));
  return name;
}

std::u16string UpToFirstZero(std::u16string_view text) {
  return std::u16string(text.substr(0, text.find(u'\0')));
}

void PutU8(std::string& out, unsigned value) { out.push_back(static_cast<char>(value & 0xFF)); }

void PutU16(std::string& out, unsigned value) {
  PutU8(out, value >> 8);
  PutU8(out, value);
}

void PutUtf8Entry(std::string& out, std::string_view bytes) {
  PutU8(out, 1);  // CONSTANT_Utf8
  PutU16(out, static_cast<unsigned>(bytes.size()));
  out.append(bytes);
}

}  // namespace

void NormalizeEntryPath(std::string& text) { NormalizePath(text); }
void NormalizeEntryPath(std::u16string& text) { NormalizePath(text); }

std::string FakeClassBytes(std::string_view name) {
  if (name.size() > kMaxNameBytes) return {};
  std::string out;
  out.reserve(name.size() + 115);
  PutU16(out, 0xCAFE);
  PutU16(out, 0xBABE);
  PutU16(out, 0);   // minor version
  PutU16(out, 46);  // major version
  PutU16(out, 10);  // constant-pool count: entries 1 to 9
  PutU8(out, 10);   // 1: method reference Object.<init>()V
  PutU16(out, 3);
  PutU16(out, 7);
  PutU8(out, 7);  // 2: this class
  PutU16(out, 8);
  PutU8(out, 7);  // 3: superclass
  PutU16(out, 9);
  PutUtf8Entry(out, "<init>");  // 4
  PutUtf8Entry(out, "()V");     // 5
  PutUtf8Entry(out, "Code");    // 6
  PutU8(out, 12);               // 7: name and type <init> ()V
  PutU16(out, 4);
  PutU16(out, 5);
  PutUtf8Entry(out, name);                // 8
  PutUtf8Entry(out, "java/lang/Object");  // 9
  PutU16(out, 0x0021);  // public, super
  PutU16(out, 2);       // this class
  PutU16(out, 3);       // superclass
  PutU16(out, 0);       // interfaces
  PutU16(out, 0);       // fields
  PutU16(out, 1);       // methods
  PutU16(out, 0x0001);  // the constructor: public
  PutU16(out, 4);
  PutU16(out, 5);
  PutU16(out, 1);  // one attribute: Code
  PutU16(out, 6);
  PutU16(out, 0);
  PutU16(out, 17);  // attribute length
  PutU16(out, 1);   // max stack
  PutU16(out, 1);   // max locals
  PutU16(out, 0);
  PutU16(out, 5);  // code length
  for (unsigned byte : {0x2A, 0xB7, 0x00, 0x01, 0xB1}) PutU8(out, byte);  // aload_0; invokespecial #1; return
  PutU16(out, 0);  // exception table
  PutU16(out, 0);  // code attributes
  PutU16(out, 0);  // class attributes
  return out;
}

std::optional<std::string> ResourceData(std::u16string_view url, const ResourceSwitches& switches) {
  const std::u16string units = UpToFirstZero(url);
  // The decisions read the ANSI form, as every other path of the launcher.
  const std::string path = EntryPath(WideToAnsi(units));
  if (!StartsWithIgnoreCase(path, "nxo:")) return std::nullopt;
  if (switches.compatible()) return std::string();
  const bool names_class = path.size() >= kClassSuffixLength &&
                           EqualsIgnoreCase(std::string_view(path).substr(path.size() - kClassSuffixLength),
                                            ".class");
  if (!names_class || switches.fake_class_bytes_off()) return std::string();
  // The name itself comes from the UTF-16 text, encoded as the JVM spells
  // names in class files (modified UTF-8: every unit on its own, and the text
  // holds no zero unit), so a class with a non-ASCII name can be defined.
  return FakeClassBytes(EncodeModifiedUtf8(ClassNameOf(EntryPath(units))));
}

}  // namespace nxo::natives
