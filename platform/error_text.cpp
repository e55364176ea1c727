// Portable part of the system error text: the category of the system's error numbers.
#include "platform/error_text.h"

#include <string>

namespace chron::platform {
namespace {

class SystemErrorCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "chron-system"; }
  std::string message(int code) const override {
    std::string text;
    if (code < 0 || !SystemErrorMessage(code, &text)) {
      text = "Der Text für Systemfehlermeldung " + std::to_string(code) + " ist nicht zu finden !";
    }
    return text;
  }
  std::error_condition default_error_condition(int code) const noexcept override {
    return std::system_category().default_error_condition(code);
  }
};

}  // namespace

const std::error_category& SystemCategory() {
  static const SystemErrorCategory category;
  return category;
}

}  // namespace chron::platform
