// Errors of the system. Every error is raised as an exception that carries a
// message in CP1252 and a stable class name; the window's default error
// report shows the message, and some operations show the class name too.
#pragma once

#include <exception>
#include <string>

namespace cg {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  // The message as CP1252 bytes.
  const std::string& message() const noexcept { return message_; }
  // The stable class name shown to the user ("EDBEngineError", ...).
  virtual const char* className() const noexcept { return "Exception"; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

#define CG_DECLARE_ERROR(Name, Base)                                  \
  class Name : public Base {                                          \
   public:                                                            \
    using Base::Base;                                                 \
    const char* className() const noexcept override { return #Name; } \
  }

// File-system failures (create, write, read a file).
CG_DECLARE_ERROR(EInOutError, Exception);
// Text that does not convert to a number or a date-time.
CG_DECLARE_ERROR(EConvertError, Exception);
// A path the platform cannot map (another drive, a relative path).
CG_DECLARE_ERROR(EPathError, Exception);

}  // namespace cg
