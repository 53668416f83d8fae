// Results of the packager's steps: success, or one line of text that names the
// culprit (a path, an entry, an option), ready to print after "nxo: ".
#pragma once

#include <string>
#include <utility>

namespace nxo::tool {

class [[nodiscard]] Status {
 public:
  static Status Ok() { return Status(); }
  static Status Error(std::string message) { return Status(std::move(message)); }

  bool ok() const { return message_.empty(); }
  const std::string& message() const { return message_; }

 private:
  Status() = default;
  explicit Status(std::string message) : message_(std::move(message)) {
    if (message_.empty()) message_ = "unknown error";
  }
  std::string message_;
};

// "'path'" with the quotes, so that names with spaces stay readable.
inline std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Ends the calling function with |expr|'s status when it failed.
#define NXO_RETURN_IF_ERROR(expr)              \
  do {                                         \
    ::nxo::tool::Status status_ = (expr);      \
    if (!status_.ok()) return status_;         \
  } while (false)

}  // namespace nxo::tool
