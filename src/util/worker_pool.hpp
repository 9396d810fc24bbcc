// A fixed pool of worker threads for the fleet jobs: at most N units run at
// once, units start in submission order, every unit is awaited, and results
// come back in submission order. An exception that escapes a unit is kept and
// re-thrown when its result is collected (after every unit has finished).
//
//   auto ok = util::map_in_pool(15, meters, [&](const Row& m) { return sync(m); });
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <vector>

#include "util/logging.hpp"

namespace meterops::util {

class WorkerPool {
 public:
  explicit WorkerPool(std::size_t workers);
  ~WorkerPool();  // waits for every submitted unit
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  template <class F>
  auto submit(F&& f) -> std::future<std::invoke_result_t<F>> {
    using R = std::invoke_result_t<F>;
    auto task = std::make_shared<std::packaged_task<R()>>(std::forward<F>(f));
    auto fut = task->get_future();
    {
      std::lock_guard lock(mu_);
      queue_.emplace_back([task] { (*task)(); });
    }
    cv_.notify_one();
    return fut;
  }

  // Blocks until the queue is empty and no unit is running.
  void wait_idle();

 private:
  void worker_loop();

  std::mutex mu_;
  std::condition_variable cv_;
  std::condition_variable idle_cv_;
  std::deque<std::function<void()>> queue_;
  std::size_t running_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

// Logs "Progress" with `done` and `total` at most every `interval`, and once
// at the end; what an operator watching a long run sees.
class ProgressReporter {
 public:
  ProgressReporter(Logger log, std::size_t total,
                   std::chrono::milliseconds interval = std::chrono::seconds(5));
  void unit_done();

 private:
  Logger log_;
  std::size_t total_;
  std::chrono::milliseconds interval_;
  std::mutex mu_;
  std::size_t done_ = 0;
  std::chrono::steady_clock::time_point last_;
};

// Runs fn(item) for every item in a pool of `workers` threads and returns the
// results in item order. Waits for every unit, then re-throws the first
// escaped exception (in item order), as collecting results one by one would.
template <class T, class F>
auto map_in_pool(std::size_t workers, const std::vector<T>& items, F fn,
                 std::optional<Logger> progress_log = std::nullopt)
    -> std::vector<std::invoke_result_t<F, const T&>> {
  using R = std::invoke_result_t<F, const T&>;
  std::optional<ProgressReporter> progress;
  if (progress_log && items.size() > 1) progress.emplace(*progress_log, items.size());
  std::vector<std::future<R>> futures;
  futures.reserve(items.size());
  {
    WorkerPool pool(workers == 0 ? 1 : workers);
    for (const auto& item : items) {
      futures.push_back(pool.submit([&fn, &item, &progress]() -> R {
        struct Done {
          std::optional<ProgressReporter>& p;
          ~Done() {
            if (p) p->unit_done();
          }
        } done{progress};
        return fn(item);
      }));
    }
  }  // joins: every unit has finished here
  std::vector<R> out;
  out.reserve(futures.size());
  for (auto& f : futures) out.push_back(f.get());
  return out;
}

}  // namespace meterops::util
