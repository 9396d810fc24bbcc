#include "orchestrate/adapter/machines_orchestrator.hpp"

#include <thread>

#include "orchestrate/adapter/dns.hpp"
#include "util/errors.hpp"

namespace meterops::orchestrate {

using Json = nlohmann::ordered_json;

const std::map<ContainerState, std::string> FLY_STATUS = {
    {ContainerState::STARTED, "started"},   {ContainerState::STARTING, "starting"},
    {ContainerState::STOPPED, "stopped"},   {ContainerState::STOPPING, "stopping"},
    {ContainerState::REMOVING, "destroying"}, {ContainerState::CREATED, "created"},
    {ContainerState::FAILED, "failed"},
};

const std::map<std::string, ContainerState> CONTAINER_STATUS = [] {
  std::map<std::string, ContainerState> m;
  for (const auto& [state, word] : FLY_STATUS) m[word] = state;
  return m;
}();

namespace {

std::string text(const Json& v) { return v.is_string() ? v.get<std::string>() : v.dump(); }

const Json& at(const Json& j, const char* key, const std::string& what) {
  if (!j.is_object() || !j.contains(key)) throw util::LookupError(what + " has no \"" + key + "\"");
  return j[key];
}

}  // namespace

bool is_error_response(const Json& response) { return response.is_object() && response.contains("error"); }

std::function<bool(const Json&)> metadata_filter_fn(const std::string& key, const std::string& value) {
  return [key, value](const Json& machine) {
    if (!machine.contains("config") || !machine["config"].is_object()) return false;
    const auto& config = machine["config"];
    if (!config.contains("metadata") || !config["metadata"].is_object()) return false;
    const auto& md = config["metadata"];
    return md.contains(key) && md[key].is_string() && md[key].get<std::string>() == value;
  };
}

Json redact_env(Json response) {
  // The environment carries the proxy password and certificate keys.
  auto hide = [](Json& config) {
    if (config.is_object() && config.contains("env") && config["env"].is_object()) {
      for (auto& [k, v] : config["env"].items()) v = "***";
    }
  };
  if (response.is_object() && response.contains("config")) hide(response["config"]);
  if (response.is_array()) {
    for (auto& m : response) {
      if (m.is_object() && m.contains("config")) hide(m["config"]);
    }
  }
  return response;
}

MachinesOrchestrator::MachinesOrchestrator(std::shared_ptr<API> api, std::string dns_server, std::string image,
                                           std::optional<std::string> app_name, std::optional<std::string> serial,
                                           std::optional<bool> use_private_address, std::optional<std::string> region,
                                           MachinesSettings settings)
    : api_(std::move(api)),
      dns_server_(std::move(dns_server)),
      image_(std::move(image)),
      fly_app_(std::move(app_name)),
      serial_(std::move(serial)),
      region_(region.value_or(FLY_REGION_DEFAULT)),
      use_private_address_(use_private_address.value_or(true)),
      settings_(std::move(settings)),
      sleep_([](std::chrono::seconds s) { std::this_thread::sleep_for(s); }),
      logger_(util::get_logger("orchestrate.adapter.machines_orchestrator", __FILE__)) {}

MachinesOrchestrator::MachinesOrchestrator(const std::string& api_token, std::string dns_server, std::string image,
                                           std::optional<std::string> app_name, std::optional<std::string> serial,
                                           std::optional<bool> use_private_address, std::optional<std::string> region,
                                           MachinesSettings settings)
    : MachinesOrchestrator(std::make_shared<API>(api_token, settings.api_base_url), std::move(dns_server),
                           std::move(image), std::move(app_name), std::move(serial), use_private_address,
                           std::move(region), settings) {}

Json MachinesOrchestrator::_call_api_with_retry(const std::function<Json()>& call) {
  constexpr int kAttempts = 5;
  Json result;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    result = call();
    if (!is_error_response(result)) return result;
    logger_.warning("API call returned error, retrying: " + text(result["error"]));
    if (attempt < kAttempts) {
      long wait = std::clamp(1L << (attempt - 1), 1L, 10L);
      sleep_(std::chrono::seconds(wait));
    }
  }
  throw util::RetryError("platform call still failing after " + std::to_string(kAttempts) +
                         " attempts: " + text(result["error"]));
}

std::vector<Container> MachinesOrchestrator::list(const std::optional<std::pair<std::string, std::string>>& metadata_filter,
                                                  const std::optional<ContainerState>& status_filter) {
  Json machines = api_->list(app(), region_);
  if (is_error_response(machines)) {
    logger_.warning("failed to get machines " + redact_env(machines).dump(), {{"fly_app", app()}});
    return {};
  }
  if (!machines.is_array()) throw util::TypeError("the platform's machine list is not a list");
  std::vector<Json> kept;
  for (const auto& m : machines) {
    if (!m.is_object() || !m.value("name", Json()).is_string()) continue;
    if (m["name"].get<std::string>().rfind(kMediatorPrefix, 0) != 0) continue;
    if (!m.contains("config") || m["config"].is_null()) continue;
    kept.push_back(m);
  }
  if (metadata_filter) {
    logger_.debug("metadata filter [" + metadata_filter->first + ", " + metadata_filter->second + "]");
    auto pred = metadata_filter_fn(metadata_filter->first, metadata_filter->second);
    std::erase_if(kept, [&](const Json& m) { return !pred(m); });
  }
  if (status_filter) {
    logger_.debug("status filter [" + std::string(to_string(*status_filter)) + "]");
    const std::string& word = FLY_STATUS.at(*status_filter);
    std::erase_if(kept, [&](const Json& m) { return m.value("state", Json()) != word; });
  }
  std::vector<Container> out;
  for (const auto& m : kept) {
    std::string id = text(at(m, "id", "machine"));
    const auto& config = at(m, "config", "machine " + id);
    const auto& services = at(config, "services", "machine " + id + " config");
    if (!services.is_array() || services.empty()) throw util::LookupError("machine " + id + " has no services");
    const auto& ports = at(services[0], "ports", "machine " + id + " service");
    if (!ports.is_array() || ports.empty()) throw util::LookupError("machine " + id + " has no service port");
    std::string state = text(at(m, "state", "machine " + id));
    auto st = CONTAINER_STATUS.find(state);
    if (st == CONTAINER_STATUS.end()) throw util::LookupError("machine " + id + " has the unknown state " + state);
    Container c;
    c.id = id;
    c.name = m["name"].get<std::string>();
    c.image = text(at(config, "image", "machine " + id + " config"));
    const auto& port = at(ports[0], "port", "machine " + id + " port");
    if (!port.is_number_integer()) throw util::LookupError("machine " + id + " has a port that is not a number");
    c.port = port.get<int>();
    c.status = st->second;
    c.container_environment = ContainerEnvironment::FLY;
    for (auto& [k, v] : at(config, "metadata", "machine " + id + " config").items()) c.metadata[k] = text(v);
    out.push_back(std::move(c));
  }
  return out;
}

std::string MachinesOrchestrator::create(const std::string& cmd, const std::string& meter_id, const std::string& serial,
                                         const std::string& ip_address, std::optional<int> port,
                                         std::optional<int> additional_internal_port, bool skip_confirm,
                                         bool use_cert_auth) {
  std::string name = kMediatorPrefix + serial;
  Json metadata = _metadata(meter_id, ip_address);
  if (!skip_confirm) {
    *out_ << "\nFly App:    " << app() << "\nRegion:     " << region_ << "\nImage:      " << image_
          << "\nName:       " << name << "\nMetadata:   " << metadata.dump()
          << "\n\nCreate machine with these details (y/n): " << std::flush;
    std::string answer;
    if (!std::getline(*in_, answer) || answer != "y") {
      print("\naborting ...\n");
      throw util::ExitRequest{1};
    }
  }
  Json env_vars = _env_vars(ip_address, use_cert_auth);
  Json response = _call_api_with_retry([&] {
    return api_->create(app(), image_, {cmd}, port, additional_internal_port, name, env_vars, metadata,
                        Json{{"region", region_}});
  });
  logger_.info("create machine response " + redact_env(response).dump());
  if (is_error_response(response)) {
    logger_.error("create machine failed [" + text(response["error"]) + "]");
    throw util::ExitRequest{1};
  }
  std::string id = text(at(response, "id", "create response"));
  logger_.info("created machine with id " + id, {{"machine_id", id}});
  return id;
}

void MachinesOrchestrator::start(const std::string& id) {
  _call_api_with_retry([&] { return api_->start(app(), id); });
}

void MachinesOrchestrator::stop(const std::string& id) {
  _call_api_with_retry([&] { return api_->stop(app(), id); });
}

void MachinesOrchestrator::destroy(const std::string& id, bool force) {
  if (!force) {
    Json stop_rsp = _call_api_with_retry([&] { return api_->stop(app(), id); });
    print("stop_rsp [" + id + "]: " + redact_env(stop_rsp).dump());
    Json machine = api_->get(app(), id);
    if (is_error_response(machine)) {
      throw util::GeneralError("machine " + id + " could not be read: " + text(machine["error"]));
    }
    Json wait_rsp = api_->wait(app(), id, text(at(machine, "instance_id", "machine " + id)),
                               FLY_STATUS.at(ContainerState::STOPPED));
    print("wait_rsp [" + id + "]: " + redact_env(wait_rsp).dump());
  }
  Json destroy_rsp = _call_api_with_retry([&] { return api_->destroy(app(), id, force, region_); });
  print("destroy_rsp [" + id + "]: " + redact_env(destroy_rsp).dump());
}

void MachinesOrchestrator::print(const std::string& text) {
  std::lock_guard lock(out_mu_);
  *out_ << text << '\n' << std::flush;
}

std::optional<std::string> MachinesOrchestrator::mediator_address(const std::string& meter_id, const std::string&) {
  auto containers = list(std::make_pair(std::string("meter_id"), meter_id), std::nullopt);
  if (containers.empty()) {
    print("no match for meters with id " + meter_id);
    return std::nullopt;
  }
  return get_app_address(containers.front());
}

std::string MachinesOrchestrator::get_app_address(const Container& machine) {
  return use_private_address_ ? get_private_address(machine) : get_public_address();
}

std::string MachinesOrchestrator::get_private_address(const Container&) const {
  return app() + settings_.private_domain + ":" + std::to_string(settings_.mediator_port);
}

std::string MachinesOrchestrator::get_public_address() {
  try {
    return resolve_first(app() + settings_.public_domain, settings_.public_dns_server, RecordType::A) + ":" +
           std::to_string(settings_.mediator_port);
  } catch (const std::exception& e) {
    print("\nFailed to resolve address [" + std::string(e.what()) + "]\n");
    throw util::ExitRequest{11};
  }
}

std::string MachinesOrchestrator::get_private_flycast_ip() {
  try {
    return resolve_first(app() + settings_.private_domain, dns_server_, RecordType::AAAA);
  } catch (const std::exception& e) {
    print("\nFailed to resolve flycast address [" + std::string(e.what()) + "]\n");
    print("Has Wireguard been started??\n");
    throw util::ExitRequest{10};
  }
}

}  // namespace meterops::orchestrate
