// Running the built programs as processes in tests: arguments, environment
// changes, standard input, a time-out; standard output, standard error and
// the exit status come back.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace meterops::testing {

struct ProcessResult {
  int status = -1;          // exit status, or 128 + signal
  std::string out;          // standard output
  std::string err;          // standard error
  bool timed_out = false;   // killed after the time-out
};

struct ProcessOptions {
  // Changes to the inherited environment: a value sets, none unsets.
  std::map<std::string, std::optional<std::string>> env;
  bool clear_env = false;   // start from an empty environment (PATH kept)
  std::string stdin_text;
  std::chrono::milliseconds timeout = std::chrono::seconds(120);
  std::optional<std::string> cwd;
};

// Path of a built program (build/bin/<name>).
std::string bin_path(const std::string& name);

// Path inside the source tree.
std::string source_path(const std::string& relative);

ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const ProcessOptions& options = {});

// A program running in the background for the life of the object (killed
// with SIGTERM, then SIGKILL, on destruction). Output goes to files.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::string& program, const std::vector<std::string>& args,
                    const ProcessOptions& options = {});
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  int pid() const { return pid_; }
  bool running();
  // Sends `signal` and waits (bounded) for exit; returns the exit status.
  int stop(int signal = 15, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  std::string stdout_text() const;
  std::string stderr_text() const;

 private:
  int pid_ = -1;
  std::optional<int> status_;
  std::string dir_;
};

// A fresh temporary folder, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Reads a whole file; empty when missing.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);

// Waits (bounded) until `path` exists and is non-empty; returns its text.
std::optional<std::string> wait_for_file(const std::string& path,
                                         std::chrono::milliseconds timeout = std::chrono::seconds(20));

// A TCP port on 127.0.0.1 that was free a moment ago, and one that nothing
// listens on (for "connection refused" tests).
int free_port();

}  // namespace meterops::testing
