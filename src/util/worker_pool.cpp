#include "util/worker_pool.hpp"

namespace meterops::util {

WorkerPool::WorkerPool(std::size_t workers) {
  threads_.reserve(workers);
  for (std::size_t i = 0; i < workers; ++i) threads_.emplace_back([this] { worker_loop(); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  cv_.notify_all();
  for (auto& t : threads_) t.join();
}

void WorkerPool::wait_idle() {
  std::unique_lock lock(mu_);
  idle_cv_.wait(lock, [this] { return queue_.empty() && running_ == 0; });
}

void WorkerPool::worker_loop() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(mu_);
      cv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping and drained
      job = std::move(queue_.front());
      queue_.pop_front();
      ++running_;
    }
    job();  // packaged_task keeps any exception in the future
    {
      std::lock_guard lock(mu_);
      --running_;
      if (queue_.empty() && running_ == 0) idle_cv_.notify_all();
    }
  }
}

ProgressReporter::ProgressReporter(Logger log, std::size_t total, std::chrono::milliseconds interval)
    : log_(std::move(log)), total_(total), interval_(interval), last_(std::chrono::steady_clock::now()) {}

void ProgressReporter::unit_done() {
  std::lock_guard lock(mu_);
  ++done_;
  auto now = std::chrono::steady_clock::now();
  if (now - last_ >= interval_) {
    last_ = now;
    log_.info("Progress", {{"done", done_}, {"total", total_}});
  }
}

}  // namespace meterops::util
