// Error kinds shared by every module, the formatted trace of the `exception`
// log field, and the request to end the process with a given status.
//
// Library code throws; only a program's main() turns errors into exit
// statuses (see util/program.hpp).
#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

namespace meterops::util {

// Base of every error this package raises on purpose. `kind()` is the short
// type name shown in traces and error lines ("ValueError", ...).
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  virtual const char* kind() const noexcept { return "Error"; }
};

#define METEROPS_ERROR_KIND(Name, Base)                            \
  class Name : public Base {                                       \
   public:                                                         \
    using Base::Base;                                              \
    const char* kind() const noexcept override { return #Name; }   \
  };

// A bad value given to a function.
METEROPS_ERROR_KIND(ValueError, Error)
// A bad command-line value; the option parser reports it as a usage error.
METEROPS_ERROR_KIND(ArgumentTypeError, ValueError)
// A failed precondition or a service failure other than "cannot connect".
METEROPS_ERROR_KIND(GeneralError, Error)
// The database (or another HTTP service) cannot be reached.
METEROPS_ERROR_KIND(ConnectError, Error)
// A lookup that found nothing (for example the first row of an empty result).
METEROPS_ERROR_KIND(LookupError, Error)
// A value of the wrong shape (for example a JSON field of the wrong type).
METEROPS_ERROR_KIND(TypeError, Error)
// Retries ran out; the last attempt's error is nested.
METEROPS_ERROR_KIND(RetryError, Error)
// A malformed or incomplete configuration file.
METEROPS_ERROR_KIND(ConfigException, Error)
// Bytes that do not decode as the frame codec expects.
METEROPS_ERROR_KIND(CodecError, ValueError)
// A socket transport failure (refused, time-out, short answer).
METEROPS_ERROR_KIND(TransportError, Error)

#undef METEROPS_ERROR_KIND

// Thrown by library code that must end the process with `status`; caught in
// main() by run_program. Not derived from std::exception on purpose, so that
// generic handlers never swallow it.
struct ExitRequest {
  int status;
};

// The kind of any exception: Error::kind(), or a generic name for standard
// exceptions.
std::string exception_kind(const std::exception& e);

// "Kind: message".
std::string describe_exception(const std::exception& e);

// The `exception` log field: one line per error, outermost first, following
// std::nested_exception causes ("Kind: message", then "caused by Kind: ...").
std::vector<std::string> format_exception(const std::exception& e);
std::vector<std::string> format_exception(std::exception_ptr e);

}  // namespace meterops::util
