#pragma once
// The error base of the system. Messages are UTF-8; the Windows layer converts them
// to UTF-16 where they are shown.

#include <cstdarg>
#include <exception>
#include <string>

namespace ts {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// printf-style formatting into a std::string, for the "%s cannot be made" family.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The text the application-wide error report shows: the message with a full stop
// appended when it is not empty and its last character lies above '.'.
std::string ErrorReportText(const std::string& message);

}  // namespace ts
