#include "mediator/api_core.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include <fmt/format.h>

#include "mediator/channel.hpp"
#include "util/errors.hpp"

namespace meterops::mediator {

namespace {

const util::Logger& logger() {
  static const util::Logger log = util::get_logger("mediator.api_core", __FILE__);
  return log;
}

// One CSV field: quoted when it holds a separator, quote or line break.
std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string csv_text(const PolyphaseSeriesResult& r, bool include_statuses) {
  std::string out = "timestamp";
  for (const auto& c : r.channels) out += "," + csv_field(c);
  if (include_statuses) out += ",status";
  out += "\n";
  for (const auto& iv : r.intervals) {
    out += csv_field(iv.timestamp);
    for (double v : iv.values) out += fmt::format(",{}", v);
    if (include_statuses) out += fmt::format(",{}", iv.status);
    out += "\n";
  }
  return out;
}

// Writes beside the target and renames into place, so readers never see a
// half-written file and a failure leaves the target as it was.
void write_file_atomically(const std::string& target, const std::string& text) {
  namespace fs = std::filesystem;
  fs::path path(target);
  if (path.filename().empty()) throw util::ValueError("polyphase_series: csv must name a file, got '" + target + "'");
  std::random_device rd;
  fs::path tmp = path.parent_path() / fmt::format(".{}.tmp-{:08x}", path.filename().string(), rd());
  std::error_code ec;
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) throw util::GeneralError("cannot write the CSV file " + target + ": cannot create " + tmp.string());
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) {
      out.close();
      fs::remove(tmp, ec);
      throw util::GeneralError("cannot write the CSV file " + target);
    }
  }
  fs::rename(tmp, path, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(tmp, ignored);
    throw util::GeneralError("cannot move the CSV file into place at " + target + ": " + ec.message());
  }
}

}  // namespace

VantorMediatorAPI::VantorMediatorAPI(const std::string& mediator_address, std::optional<util::Level> logging_level)
    : address_(mediator_address), channel_(std::make_unique<detail::Channel>(mediator_address, logging_level)) {}
VantorMediatorAPI::~VantorMediatorAPI() = default;
VantorMediatorAPI::VantorMediatorAPI(VantorMediatorAPI&&) noexcept = default;
VantorMediatorAPI& VantorMediatorAPI::operator=(VantorMediatorAPI&&) noexcept = default;

namespace {
ElementTotals read_element(detail::Channel& ch, const std::string& serial, const char* element, const char* op) {
  v1::ElementRequest req;
  req.set_serial(serial);
  req.set_element(element);
  v1::ElementTotals rep;
  ch.call(op, serial, [&](grpc::ClientContext& ctx) { return ch.mediator->ReadElement(&ctx, req, &rep); });
  return {rep.import_active(), rep.export_active()};
}
}  // namespace

ElementTotals VantorMediatorAPI::read_element_a(const std::string& serial) {
  return read_element(*channel_, serial, "a", "read_element_a");
}

ElementTotals VantorMediatorAPI::read_element_b(const std::string& serial) {
  return read_element(*channel_, serial, "b", "read_element_b");
}

ThreePhaseTotals VantorMediatorAPI::three_phase_read(const std::string& serial,
                                                     const std::optional<std::string>& hardware) {
  v1::ThreePhaseRequest req;
  req.set_serial(serial);
  if (hardware) req.set_hardware(*hardware);
  v1::ThreePhaseTotals rep;
  channel_->call("three_phase_read", serial,
               [&](grpc::ClientContext& ctx) { return channel_->mediator->ThreePhaseRead(&ctx, req, &rep); });
  return {rep.active_import(), rep.active_export()};
}

std::optional<std::string> VantorMediatorAPI::hardware(const std::string& serial) {
  v1::SerialRequest req;
  req.set_serial(serial);
  v1::TextReply rep;
  channel_->call("hardware", serial, [&](grpc::ClientContext& ctx) { return channel_->mediator->Hardware(&ctx, req, &rep); });
  if (!rep.has_value()) return std::nullopt;
  return rep.value();
}

std::optional<std::string> VantorMediatorAPI::firmware_version(const std::string& serial) {
  v1::SerialRequest req;
  req.set_serial(serial);
  v1::TextReply rep;
  channel_->call("firmware_version", serial,
               [&](grpc::ClientContext& ctx) { return channel_->mediator->FirmwareVersion(&ctx, req, &rep); });
  if (!rep.has_value()) return std::nullopt;
  return rep.value();
}

bool VantorMediatorAPI::prepay_enabled(const std::string& serial) {
  v1::SerialRequest req;
  req.set_serial(serial);
  v1::FlagReply rep;
  channel_->call("prepay_enabled", serial,
               [&](grpc::ClientContext& ctx) { return channel_->mediator->PrepayEnabled(&ctx, req, &rep); });
  return rep.enabled();
}

nlohmann::ordered_json VantorMediatorAPI::tariffs_active_read(const std::string& serial) {
  v1::SerialRequest req;
  req.set_serial(serial);
  v1::JsonReply rep;
  channel_->call("tariffs_active_read", serial,
               [&](grpc::ClientContext& ctx) { return channel_->mediator->TariffsActiveRead(&ctx, req, &rep); });
  auto parsed = nlohmann::ordered_json::parse(rep.json(), nullptr, false);
  if (parsed.is_discarded()) {
    throw MediatorClientException("DATA_LOSS", "tariffs_active_read for meter " + serial + ": the answer is not JSON");
  }
  return parsed;
}

EventLogPage VantorMediatorAPI::event_log(const std::string& serial, int log_idx) {
  if (log_idx < 0 || log_idx > 9) {
    throw util::ValueError("Invalid log_idx " + std::to_string(log_idx) + ". Must be in range 0-9.");
  }
  v1::EventLogRequest req;
  req.set_serial(serial);
  req.set_log_idx(log_idx);
  v1::EventLogReply rep;
  channel_->call("event_log", serial, [&](grpc::ClientContext& ctx) { return channel_->mediator->EventLog(&ctx, req, &rep); });
  EventLogPage page;
  page.events.reserve(static_cast<std::size_t>(rep.events_size()));
  for (const auto& e : rep.events()) page.events.push_back({e.timestamp(), e.event_id(), e.event_set()});
  return page;
}

void VantorMediatorAPI::clock_time_write(const std::string& serial) {
  v1::SerialRequest req;
  req.set_serial(serial);
  v1::Empty rep;
  channel_->call("clock_time_write", serial,
               [&](grpc::ClientContext& ctx) { return channel_->mediator->ClockTimeWrite(&ctx, req, &rep); });
}

PolyphaseSeriesResult VantorMediatorAPI::polyphase_series(const std::string& serial, const PolyphaseSeriesRequest& request) {
  if (std::filesystem::path(request.csv).filename().empty()) {
    throw util::ValueError("polyphase_series: csv must name a file, got '" + request.csv + "'");
  }
  v1::PolyphaseRequest req;
  req.set_serial(serial);
  req.set_day(request.day);
  if (request.start_time) req.set_start_time(*request.start_time);
  if (request.end_time) req.set_end_time(*request.end_time);
  v1::PolyphaseReply rep;
  channel_->call("polyphase_series", serial,
               [&](grpc::ClientContext& ctx) { return channel_->mediator->PolyphaseSeries(&ctx, req, &rep); });
  PolyphaseSeriesResult result;
  for (const auto& c : rep.channels()) result.channels.push_back(c);
  for (const auto& iv : rep.intervals()) {
    if (static_cast<std::size_t>(iv.values_size()) != result.channels.size()) {
      throw MediatorClientException(
          "DATA_LOSS", fmt::format("polyphase_series for meter {}: the interval at {} has {} values for {} channels",
                                   serial, iv.timestamp(), iv.values_size(), result.channels.size()));
    }
    result.intervals.push_back({iv.timestamp(), {iv.values().begin(), iv.values().end()}, iv.status()});
  }
  write_file_atomically(request.csv, csv_text(result, request.include_statuses));
  logger().debug("polyphase_series written", {{"serial", serial}, {"csv", request.csv},
                                              {"intervals", result.intervals.size()}});
  return result;
}

}  // namespace meterops::mediator
