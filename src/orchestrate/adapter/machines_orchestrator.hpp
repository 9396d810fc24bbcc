// The orchestrator of mediator containers on the machines platform: each
// mediator is one machine of one platform app. Platform calls that come back
// as error maps are repeated (5 attempts, waits of 1, 2, 4 and 8 s); create
// asks the operator first; addresses come from the app's private proxy name
// or a public DNS lookup.
#pragma once

#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "orchestrate/adapter/machines_api.hpp"
#include "orchestrate/adapter/orchestrator_core.hpp"
#include "util/logging.hpp"

namespace meterops::orchestrate {

extern const std::map<ContainerState, std::string> FLY_STATUS;
extern const std::map<std::string, ContainerState> CONTAINER_STATUS;

inline constexpr const char* kMediatorPrefix = "mediator-";

// True for a map holding "error".
bool is_error_response(const nlohmann::ordered_json& response);
// A predicate on machine maps: the config's metadata holds `key` = `value`.
std::function<bool(const nlohmann::ordered_json&)> metadata_filter_fn(const std::string& key, const std::string& value);
// The response with the values of the machine's environment entries hidden.
nlohmann::ordered_json redact_env(nlohmann::ordered_json response);

// Deployment values of the platform (the factory reads them from the
// environment; the defaults are the public platform's).
struct MachinesSettings {
  std::string api_base_url = FLY_API_HOSTNAME_DEFAULT;
  std::string private_domain = ".flycast";
  std::string public_domain = ".fly.dev";
  std::string public_dns_server = "8.8.8.8";
  int mediator_port = 50051;
};

class MachinesOrchestrator : public OrchestratorCore {
 public:
  using Sleep = std::function<void(std::chrono::seconds)>;

  // The platform client is API(api_token, settings.api_base_url).
  MachinesOrchestrator(const std::string& api_token, std::string dns_server, std::string image,
                       std::optional<std::string> app_name = std::nullopt, std::optional<std::string> serial = std::nullopt,
                       std::optional<bool> use_private_address = std::nullopt,
                       std::optional<std::string> region = std::nullopt, MachinesSettings settings = {});
  // The same over a given platform client.
  MachinesOrchestrator(std::shared_ptr<API> api, std::string dns_server, std::string image,
                       std::optional<std::string> app_name = std::nullopt, std::optional<std::string> serial = std::nullopt,
                       std::optional<bool> use_private_address = std::nullopt,
                       std::optional<std::string> region = std::nullopt, MachinesSettings settings = {});

  // Where the create prompt goes and its answer comes from; how retries wait.
  void set_console(std::istream& in, std::ostream& out) {
    in_ = &in;
    out_ = &out;
  }
  void set_sleep(Sleep sleep) { sleep_ = std::move(sleep); }

  // Repeats `call` while it returns an error map; RetryError after 5.
  nlohmann::ordered_json _call_api_with_retry(const std::function<nlohmann::ordered_json()>& call);

  std::vector<Container> list(const std::optional<std::pair<std::string, std::string>>& metadata_filter = std::nullopt,
                              const std::optional<ContainerState>& status_filter = std::nullopt) override;
  std::string create(const std::string& cmd, const std::string& meter_id, const std::string& serial,
                     const std::string& ip_address, std::optional<int> port = std::nullopt,
                     std::optional<int> additional_internal_port = std::nullopt, bool skip_confirm = false,
                     bool use_cert_auth = false) override;
  void start(const std::string& id) override;
  void stop(const std::string& id) override;
  void destroy(const std::string& id, bool force = false) override;
  std::optional<std::string> mediator_address(const std::string& meter_id, const std::string& serial) override;

  std::string get_app_address(const Container& machine);
  std::string get_public_address();
  std::string get_private_address(const Container& machine) const;
  std::string get_private_flycast_ip();

  const std::string& region() const { return region_; }
  const std::string& image() const { return image_; }
  const std::optional<std::string>& fly_app() const { return fly_app_; }
  bool use_private_address() const { return use_private_address_; }

 private:
  std::string app() const { return fly_app_.value_or(""); }
  // Writes `text` and a line break to the console stream in one piece;
  // workers of a pool print at the same time.
  void print(const std::string& text);

  std::shared_ptr<API> api_;
  std::string dns_server_;
  std::string image_;
  std::optional<std::string> fly_app_;
  std::optional<std::string> serial_;
  std::string region_;
  bool use_private_address_;
  MachinesSettings settings_;
  std::istream* in_ = &std::cin;
  std::ostream* out_ = &std::cout;
  std::mutex out_mu_;
  Sleep sleep_;
  util::Logger logger_;
};

}  // namespace meterops::orchestrate
