#include "support/process.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace meterops::testing {

namespace {

std::vector<std::string> build_env(const ProcessOptions& o) {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string kv(*e);
    auto eq = kv.find('=');
    if (eq == std::string::npos) continue;
    std::string key = kv.substr(0, eq);
    if (o.clear_env && key != "PATH" && key != "HOME" && key != "LANG" && key != "TMPDIR") continue;
    env[key] = kv.substr(eq + 1);
  }
  for (const auto& [k, v] : o.env) {
    if (v) env[k] = *v;
    else env.erase(k);
  }
  std::vector<std::string> out;
  for (const auto& [k, v] : env) out.push_back(k + "=" + v);
  return out;
}

std::vector<char*> c_array(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (auto& s : v) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

int decode_status(int wstatus) {
  if (WIFEXITED(wstatus)) return WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) return 128 + WTERMSIG(wstatus);
  return -1;
}

pid_t spawn(const std::string& program, const std::vector<std::string>& args, const ProcessOptions& o,
            int in_fd, int out_fd, int err_fd, const std::vector<int>& close_fds) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in_fd, 0);
  posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
  posix_spawn_file_actions_adddup2(&fa, err_fd, 2);
  for (int fd : close_fds) posix_spawn_file_actions_addclose(&fa, fd);
  if (o.cwd) posix_spawn_file_actions_addchdir_np(&fa, o.cwd->c_str());
  std::vector<std::string> argv_s{program};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  auto argv = c_array(argv_s);
  auto env_s = build_env(o);
  auto envp = c_array(env_s);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
  return pid;
}

}  // namespace

std::string bin_path(const std::string& name) { return std::string(METEROPS_BIN_DIR) + "/" + name; }
std::string source_path(const std::string& relative) {
  return std::string(METEROPS_SOURCE_DIR) + "/" + relative;
}

ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const ProcessOptions& o) {
  int in_p[2], out_p[2], err_p[2];
  if (pipe2(in_p, O_CLOEXEC) || pipe2(out_p, O_CLOEXEC) || pipe2(err_p, O_CLOEXEC)) {
    throw std::runtime_error("pipe failed");
  }
  pid_t pid = spawn(program, args, o, in_p[0], out_p[1], err_p[1], {});
  close(in_p[0]);
  close(out_p[1]);
  close(err_p[1]);

  ProcessResult r;
  size_t written = 0;
  int in_fd = in_p[1];
  if (o.stdin_text.empty()) {
    close(in_fd);
    in_fd = -1;
  } else {
    fcntl(in_fd, F_SETFL, O_NONBLOCK);
  }
  signal(SIGPIPE, SIG_IGN);
  auto deadline = std::chrono::steady_clock::now() + o.timeout;
  int out_fd = out_p[0], err_fd = err_p[0];
  char buf[65536];
  while (out_fd >= 0 || err_fd >= 0) {
    std::vector<pollfd> fds;
    if (out_fd >= 0) fds.push_back({out_fd, POLLIN, 0});
    if (err_fd >= 0) fds.push_back({err_fd, POLLIN, 0});
    if (in_fd >= 0) fds.push_back({in_fd, POLLOUT, 0});
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      r.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    int n = poll(fds.data(), fds.size(), static_cast<int>(std::min<long>(left.count(), 1000)));
    if (n < 0 && errno != EINTR) break;
    for (auto& p : fds) {
      if (!p.revents) continue;
      if (p.fd == in_fd) {
        ssize_t w = write(in_fd, o.stdin_text.data() + written, o.stdin_text.size() - written);
        if (w > 0) written += static_cast<size_t>(w);
        if (w < 0 || written == o.stdin_text.size()) {
          close(in_fd);
          in_fd = -1;
        }
        continue;
      }
      ssize_t got = read(p.fd, buf, sizeof buf);
      if (got > 0) {
        (p.fd == out_fd ? r.out : r.err).append(buf, static_cast<size_t>(got));
      } else {
        close(p.fd);
        (p.fd == out_fd ? out_fd : err_fd) = -1;
      }
    }
  }
  for (int fd : {in_fd, out_fd, err_fd}) {
    if (fd >= 0) close(fd);
  }
  int ws = 0;
  waitpid(pid, &ws, 0);
  r.status = decode_status(ws);
  return r;
}

BackgroundProcess::BackgroundProcess(const std::string& program, const std::vector<std::string>& args,
                                     const ProcessOptions& o) {
  char tmpl[] = "/tmp/meterops-bg.XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  int in_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int out_fd = open((dir_ + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int err_fd = open((dir_ + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  pid_ = spawn(program, args, o, in_fd, out_fd, err_fd, {});
  close(in_fd);
  close(out_fd);
  close(err_fd);
}

bool BackgroundProcess::running() {
  if (status_) return false;
  int ws = 0;
  if (waitpid(pid_, &ws, WNOHANG) == pid_) {
    status_ = decode_status(ws);
    return false;
  }
  return true;
}

int BackgroundProcess::stop(int sig, std::chrono::milliseconds timeout) {
  if (status_) return *status_;
  kill(pid_, sig);
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!running()) return *status_;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  int ws = 0;
  waitpid(pid_, &ws, 0);
  status_ = decode_status(ws);
  return *status_;
}

BackgroundProcess::~BackgroundProcess() {
  stop(SIGTERM, std::chrono::seconds(5));
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string BackgroundProcess::stdout_text() const { return read_file(dir_ + "/stdout"); }
std::string BackgroundProcess::stderr_text() const { return read_file(dir_ + "/stderr"); }

TempDir::TempDir() {
  char tmpl[] = "/tmp/meterops-test.XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::optional<std::string> wait_for_file(const std::string& path, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    std::string t = read_file(path);
    if (!t.empty() && t.back() == '\n') return t;
    if (!t.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      t = read_file(path);
      return t;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::nullopt;
}

int free_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  int port = ntohs(a.sin_port);
  close(fd);
  return port;
}

}  // namespace meterops::testing
