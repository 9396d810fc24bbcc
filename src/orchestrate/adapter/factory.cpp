#include "orchestrate/adapter/factory.hpp"

#include <algorithm>
#include <cctype>

#include "util/errors.hpp"
#include "util/settings.hpp"

namespace meterops::orchestrate {

std::shared_ptr<MachinesOrchestrator> get_instance(const std::optional<std::string>& esco,
                                                   const std::optional<std::string>& env) {
  auto token = util::env_text("FLY_API_TOKEN");
  if (!token) throw util::GeneralError("FLY_API_TOKEN is not set: the machines platform cannot be reached");
  std::string app = util::env_text_or("MEDIATOR_APP", "");
  if (app.empty()) {
    app = "mediators";
    if (esco && !esco->empty()) app += "-" + *esco;
    if (env && !env->empty()) app += "-" + *env;
    std::transform(app.begin(), app.end(), app.begin(), [](unsigned char c) { return std::tolower(c); });
  }
  MachinesSettings settings;
  settings.private_domain = util::env_text_or("FLY_PRIVATE_DOMAIN", settings.private_domain);
  settings.public_domain = util::env_text_or("FLY_PUBLIC_DOMAIN", settings.public_domain);
  settings.public_dns_server = util::env_text_or("PUBLIC_DNS_SERVER", settings.public_dns_server);
  settings.mediator_port = static_cast<int>(util::env_int("MEDIATOR_PORT", settings.mediator_port));
  if (settings.mediator_port < 1 || settings.mediator_port > 65535) {
    throw util::ValueError("MEDIATOR_PORT must be a port number, got " + std::to_string(settings.mediator_port));
  }
  settings.api_base_url = util::env_text_or("FLY_API_HOSTNAME", FLY_API_HOSTNAME_DEFAULT);
  return std::make_shared<MachinesOrchestrator>(*token, util::env_text_or("FLY_DNS_SERVER", "fdaa::3"),
                                                util::env_text_or("MEDIATOR_IMAGE", ""), app, std::nullopt,
                                                util::env_bool("MEDIATOR_USE_PRIVATE_ADDRESS", true),
                                                util::env_text("FLY_REGION"), settings);
}

}  // namespace meterops::orchestrate
