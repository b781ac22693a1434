// Exception classes of VELTRO. Every failure is an exception carrying a message;
// main() is the only place that turns an escaping one into the failure report,
// which names the class (ClassName) and prints the message.
#pragma once

#include <exception>
#include <string>

// The general exception class; container errors of the TopSpeed reader use it directly.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  std::string message_;
};

#define KV_DECLARE_EXCEPTION(Name, Base)                              \
  class Name : public Base {                                          \
   public:                                                            \
    using Base::Base;                                                 \
    const char* ClassName() const noexcept override { return #Name; } \
  }

// A file name that is missing or names no file.
KV_DECLARE_EXCEPTION(EKvIFileException, Exception);
// A file that is not a TopSpeed file.
KV_DECLARE_EXCEPTION(EKvIFileFormatException, Exception);
// Expression errors: tokenizing, building, evaluating.
KV_DECLARE_EXCEPTION(EKvIParseException, Exception);

// Conversion errors: "'x' is not a valid integer value", "Invalid argument to date encode", ...
KV_DECLARE_EXCEPTION(EConvertError, Exception);
// Variant errors: "Invalid variant type conversion", "Invalid variant operation".
KV_DECLARE_EXCEPTION(EVariantError, Exception);
KV_DECLARE_EXCEPTION(EVariantTypeCastError, EVariantError);
KV_DECLARE_EXCEPTION(EVariantInvalidOpError, EVariantError);
// Arithmetic errors.
KV_DECLARE_EXCEPTION(EMathError, Exception);
KV_DECLARE_EXCEPTION(EDivByZero, EMathError);   // "Division by zero"
KV_DECLARE_EXCEPTION(EZeroDivide, EMathError);  // "Floating point division by zero"
KV_DECLARE_EXCEPTION(EOverflow, EMathError);    // "Floating point overflow"
KV_DECLARE_EXCEPTION(EInvalidOp, EMathError);   // "Invalid floating point operation"
// "List index out of bounds (%d)".
KV_DECLARE_EXCEPTION(EListError, Exception);
// Stream and file errors.
KV_DECLARE_EXCEPTION(EStreamError, Exception);
KV_DECLARE_EXCEPTION(EReadError, EStreamError);     // "Stream read error"
KV_DECLARE_EXCEPTION(EFOpenError, EStreamError);    // "Cannot open file %s"
KV_DECLARE_EXCEPTION(EFCreateError, EStreamError);  // "Cannot create file %s"
KV_DECLARE_EXCEPTION(EWriteError, EStreamError);    // "Cannot write file %s"

#undef KV_DECLARE_EXCEPTION

// Throwing helpers for the messages used in several places.
[[noreturn]] void ThrowTypeCast();                  // "Invalid variant type conversion"
[[noreturn]] void ThrowInvalidVariantOp();          // "Invalid variant operation"
[[noreturn]] void ThrowListIndex(long long index);  // "List index out of bounds (%d)"

// A damaged file whose rows would take far more text than its size allows: the text
// of a run, and the cell texts a load stores, are bounded by the source's size.
inline constexpr const char* kTextLimitMessage =
    "The file is damaged: its rows would take far more text than its size allows";
