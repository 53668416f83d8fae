#include "launcher/command_line.h"

#include "platform/platform.h"
#include "platform/wildcard.h"

namespace nxo::launcher {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsWildcard(char c) { return c == '*' || c == '?'; }

void PadMarks(std::vector<std::int32_t>* marks, std::size_t length) {
  if (marks != nullptr && marks->size() < length) marks->resize(length, kNoWildcard);
}

}  // namespace

int SplitArguments(std::vector<char*>& arguments, char* text, std::vector<std::int32_t>* marks) {
  char* read = text;
  char* write = text;
  bool in_quotes = false;
  for (;;) {
    while (IsBlank(*read)) {
      *write++ = '\0';
      ++read;
    }
    if (*read == '\0') break;
    arguments.push_back(write);
    while (*read != '\0') {
      char c = *read;
      if (IsBlank(c) && !in_quotes) break;
      if (c == '"') {
        in_quotes = !in_quotes;
        ++read;
      } else if (c == '\\') {
        std::size_t run = 0;
        while (*read == '\\') {
          *write++ = *read++;
          ++run;
        }
        if (*read == '"') {
          // 2n backslashes before a quote are n backslashes and a toggle;
          // 2n+1 are n backslashes and a literal quote.
          write -= (run + 1) / 2;
          if (run % 2 == 1) *write++ = *read++;
        }
      } else {
        if (IsWildcard(c) && marks != nullptr) {
          PadMarks(marks, arguments.size());
          std::int32_t& mark = marks->back();
          if (mark != kWildcardInsideQuotes)
            mark = in_quotes ? kWildcardInsideQuotes : kWildcardOutsideQuotes;
        }
        *write++ = c;
        ++read;
      }
    }
  }
  *write = '\0';
  PadMarks(marks, arguments.size());
  return static_cast<int>(arguments.size());
}

void ArgumentVector::Clear() {
  arguments_.Clear();
  pointers_.clear();
}

void ArgumentVector::Store(std::string_view argument) { arguments_.Append(argument); }

void ArgumentVector::Seal() {
  pointers_.clear();
  pointers_.reserve(arguments_.Size() + 1);
  // The buffer belongs to this object and is not const; argv-style callers
  // expect writable strings.
  for (std::size_t i = 0; i < arguments_.Size(); ++i)
    pointers_.push_back(const_cast<char*>(arguments_.At(i)));
  pointers_.push_back(nullptr);
}

void ExpandCommandLineText(WildcardMode mode, std::string_view command_line, ArgumentVector& out) {
  std::string scratch(command_line);
  std::vector<char*> arguments;
  std::vector<std::int32_t> marks;
  SplitArguments(arguments, scratch.data(), &marks);

  out.Clear();
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    bool expand = mode != WildcardMode::kOff &&
                  (marks[i] == kWildcardOutsideQuotes ||
                   (marks[i] == kWildcardInsideQuotes && mode == WildcardMode::kAll));
    if (!expand) {
      out.Store(arguments[i]);
      continue;
    }
    StringList matches;
    platform::FindWildcardMatches(arguments[i], matches);
    if (matches.Empty()) {
      out.Store(arguments[i]);  // nothing matched: passed on literally
      continue;
    }
    for (std::size_t m = 0; m < matches.Size(); ++m) out.Store(matches.View(m));
  }
  out.Seal();
}

void ExpandCommandLine(WildcardMode mode, ArgumentVector& out) {
  ExpandCommandLineText(mode, platform::ProcessCommandLine(), out);
}

}  // namespace nxo::launcher
