#include "launcher/messages.h"

#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

#include "config/launch_config.h"
#include "platform/platform.h"
#include "splash/splash.h"
#include "support/string_list.h"
#include "support/text.h"
#include "support/trail.h"

namespace nxo::launcher {

namespace {

struct BuiltInText {
  unsigned number;
  const char* text;
};

// Keep in step with messages.rc, which carries the same texts for Windows.
constexpr BuiltInText kBuiltInTexts[] = {
    {1, "Java Runtime Environment not found."},
    {2, "Java Runtime Environment not valid."},
    {3, "Java Virtual Machine initialize failed."},
    {4, "Java Virtual Machine starts failed."},
    {5, "Can not get the virtual machine version."},
    {6, "Java virtual machine version %s is too low, require %s or higher."},
    {7, "The main startup class could not be found."},
    {8, "The main startup class is not valid, main method missing."},
    {9, "The exe can not be modified after it generated."},
    {10, "Error"},
    {12, "Java virtual machine version %s is too high, version between %s and %s is required."},
    {13, "There is already an instance of this program running."},
};

}  // namespace

void MessageCatalogue::ReadOverrides() const {
  read_ = true;
  if (config_ == nullptr) return;
  StringList values;
  config_->CollectValues("message", values, config::LookupScope::kWholeText, config::ValueForm::kAnsi);
  for (std::size_t i = 0; i < values.Size(); ++i) {
    std::string_view value = values.View(i);
    std::string_view::size_type equals = value.find('=');
    if (equals == std::string_view::npos) continue;
    int number = std::atoi(std::string(value.substr(0, equals)).c_str());
    if (number <= 0) continue;
    overrides_.emplace_back(static_cast<unsigned>(number), pool_.Size());
    pool_.Append(UnescapeMessage(value.substr(equals + 1)));
  }
}

const char* BuiltInMessageText(unsigned number) {
  for (const BuiltInText& entry : kBuiltInTexts)
    if (entry.number == number) return entry.text;
  return "";
}

namespace {

// The executable's own text for |number|, ignoring overrides.
std::string DefaultMessageText(unsigned number) {
  std::u16string wide;
  if (platform::LoadStringResource(number, wide)) return WideToAnsi(wide);
  // Platforms without string tables carry the texts in the program itself.
  return BuiltInMessageText(number);
}

}  // namespace

std::optional<std::string> MessageCatalogue::Override(unsigned number) const {
  if (!read_) ReadOverrides();
  for (const auto& [overridden, index] : overrides_)
    if (overridden == number) return std::string(pool_.View(index));
  return std::nullopt;
}

std::string MessageCatalogue::Text(unsigned number) const {
  if (std::optional<std::string> text = Override(number)) return *text;
  return DefaultMessageText(number);
}

std::string MessageCatalogue::FormatText(unsigned number) const {
  std::string built_in = DefaultMessageText(number);
  std::optional<std::string> text = Override(number);
  if (!text) return built_in;
  // An override is written by whoever can write beside the executable; used
  // as a format, an extra "%s" or a "%n" would read or write through
  // arguments that are not there. Only an override that asks for exactly the
  // arguments of the executable's own text, in order, is used.
  bool override_ok = false, built_in_ok = false;
  std::vector<std::string> wanted = FormatConversions(*text, override_ok);
  std::vector<std::string> given = FormatConversions(built_in, built_in_ok);
  return override_ok && built_in_ok && wanted == given ? *text : built_in;
}

std::vector<std::string> FormatConversions(std::string_view format, bool& well_formed) {
  std::vector<std::string> conversions;
  well_formed = true;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    if (i + 1 < format.size() && format[i + 1] == '%') {
      ++i;  // a literal percent sign takes no argument
      continue;
    }
    // Flags, width, precision and length up to the conversion letter.
    std::size_t end = i + 1;
    while (end < format.size() && std::string_view("-+ #0123456789.*hlLqjztI").find(format[end]) !=
                                      std::string_view::npos)
      ++end;
    if (end == format.size()) {
      well_formed = false;  // a "%" that ends the text
      break;
    }
    conversions.emplace_back(format.substr(i, end + 1 - i));
    i = end;
  }
  return conversions;
}

std::string UnescapeMessage(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out.push_back(text[i]);
      continue;
    }
    if (++i == text.size()) break;  // a trailing backslash is dropped
    switch (text[i]) {
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      default: out.push_back(text[i]); break;
    }
  }
  return out;
}

std::string FormatMessageText(const char* format, ...) {
  char buffer[1032];
  va_list arguments;
  va_start(arguments, format);
  int written = FormatV(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  if (written < 0) return std::string();
  return std::string(buffer, static_cast<std::size_t>(written) < sizeof buffer
                                 ? static_cast<std::size_t>(written)
                                 : sizeof buffer - 1);
}

void ShowMessage(const MessageCatalogue& messages, const std::string& text) {
  // A close the launch already scheduled is held while the box is up: the
  // box belongs to the splash window, and closing its owner would take the
  // box away (or leave it ownerless) before it was read.
  splash::RequestSplashClose(-1);
  platform::ShowWarningBox(text, messages.Text(kCaptionMessage), splash::SplashWindowHandle());
  splash::RequestSplashClose(100);
}

void FailWithMessage(const MessageCatalogue& messages, unsigned number, int exit_code) {
  NXO_TRAIL("exit", "message %u, exit code %d", number, exit_code);
  ShowMessage(messages, messages.Text(number));
  std::exit(exit_code);
}

}  // namespace nxo::launcher
