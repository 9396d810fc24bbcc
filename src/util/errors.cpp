#include "util/errors.hpp"

#include <new>
#include <system_error>
#include <typeinfo>

namespace meterops::util {

std::string exception_kind(const std::exception& e) {
  if (auto* err = dynamic_cast<const Error*>(&e)) return err->kind();
  if (dynamic_cast<const std::invalid_argument*>(&e)) return "ValueError";
  if (dynamic_cast<const std::out_of_range*>(&e)) return "LookupError";
  if (dynamic_cast<const std::bad_alloc*>(&e)) return "MemoryError";
  if (dynamic_cast<const std::system_error*>(&e)) return "OSError";
  return "RuntimeError";
}

std::string describe_exception(const std::exception& e) {
  return exception_kind(e) + ": " + e.what();
}

namespace {
void collect(const std::exception& e, std::vector<std::string>& out, bool first) {
  out.push_back((first ? "" : "caused by ") + describe_exception(e));
  try {
    std::rethrow_if_nested(e);
  } catch (const std::exception& inner) {
    collect(inner, out, false);
  } catch (...) {
    out.push_back("caused by an unknown error");
  }
}
}  // namespace

std::vector<std::string> format_exception(const std::exception& e) {
  std::vector<std::string> out;
  collect(e, out, true);
  return out;
}

std::vector<std::string> format_exception(std::exception_ptr e) {
  try {
    if (e) std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return format_exception(ex);
  } catch (const ExitRequest& x) {
    return {"ExitRequest: status " + std::to_string(x.status)};
  } catch (...) {
    return {"unknown error"};
  }
  return {};
}

}  // namespace meterops::util
