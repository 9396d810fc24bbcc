#include "util/program.hpp"

#include <iostream>
#include <sstream>

namespace meterops::util {

std::string usage_line(const CLI::App& app) {
  std::istringstream help(app.help());
  std::string line;
  while (std::getline(help, line)) {
    if (line.rfind("Usage:", 0) == 0) return "usage:" + line.substr(6);
  }
  return "usage: " + app.get_name();
}

namespace {

int report_usage(const CLI::App& app, const std::string& message) {
  std::cerr << usage_line(app) << "\n" << app.get_name() << ": error: " << message << std::endl;
  return 2;
}

int guarded(const std::string& program, const CLI::App* app, const std::function<int()>& body) {
  try {
    return body();
  } catch (const ExitRequest& x) {
    return x.status;
  } catch (const UsageError& e) {
    if (app) return report_usage(*app, e.what());
    std::cerr << program << ": error: " << e.what() << std::endl;
    return 2;
  } catch (const std::exception& e) {
    std::cerr << program << ": ";
    bool first = true;
    for (const auto& line : format_exception(e)) {
      std::cerr << (first ? "" : "  ") << line << "\n";
      first = false;
    }
    std::cerr.flush();
    return 1;
  } catch (...) {
    std::cerr << program << ": unknown error" << std::endl;
    return 1;
  }
}

}  // namespace

int program_main(CLI::App& app, int argc, char** argv, const std::function<int()>& body) {
  if (argc > 0 && app.get_name().empty()) {
    std::string name = argv[0];
    auto slash = name.find_last_of('/');
    app.name(slash == std::string::npos ? name : name.substr(slash + 1));
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << app.help("", CLI::AppFormatMode::All);
    return 0;
  } catch (const CLI::ParseError& e) {
    return report_usage(app, e.what());
  } catch (const ArgumentTypeError& e) {
    return report_usage(app, e.what());
  }
  return guarded(app.get_name(), &app, body);
}

int run_program(const std::string& program, const std::function<int()>& body) {
  return guarded(program, nullptr, body);
}

}  // namespace meterops::util
