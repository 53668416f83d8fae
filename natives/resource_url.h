// What the "nxo:" URL scheme answers for a URL text, apart from the JNI
// plumbing: null for other schemes, an empty resource for anything that is
// not a class file, or a minimal class file synthesised for the class that
// the URL names.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nxo::natives {

// The configuration switches, asked only when the answer depends on them:
// each is read at the first call that needs it (see remembered_keys.h).
struct ResourceSwitches {
  bool (*compatible)();            // never synthesise a class file
  bool (*fake_class_bytes_off)();  // a class URL yields an empty resource
};

// The bytes behind |url| (UTF-16 units; the text ends at the first zero
// unit), or nullopt when the URL is not of the "nxo" scheme.
std::optional<std::string> ResourceData(std::u16string_view url, const ResourceSwitches& switches);

// A class file of version 46.0 for a public class |name| (internal form,
// "/" between package parts, modified UTF-8) that extends java.lang.Object
// and has only a public constructor without arguments; name.size() + 115
// bytes. Empty when the name does not fit the 16-bit length field.
std::string FakeClassBytes(std::string_view name);

// Removes "\.\" steps and "\..\" steps together with the segment before
// them; the segment starts after the nearest "\", ":" or "!" (a URL's scheme
// and a jar's "!" bound it) or at the start of the text. A text that itself
// begins with "\..\" loses just those four characters: there is no segment
// before them to remove.
void NormalizeEntryPath(std::string& text);
void NormalizeEntryPath(std::u16string& text);

}  // namespace nxo::natives
