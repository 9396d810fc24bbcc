#include "util/worker_pool.hpp"

#include <atomic>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

using namespace meterops::util;

TEST(WorkerPool, ResultsComeBackInItemOrderWithBoundedConcurrency) {
  std::vector<int> items(40);
  for (int i = 0; i < 40; ++i) items[i] = i;
  std::atomic<int> running{0}, peak{0};
  auto out = map_in_pool(4, items, [&](const int& i) {
    int now = ++running;
    int p = peak.load();
    while (now > p && !peak.compare_exchange_weak(p, now)) {}
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    --running;
    return i * 2;
  });
  ASSERT_EQ(out.size(), 40u);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(out[i], i * 2);
  EXPECT_LE(peak.load(), 4);
  EXPECT_GE(peak.load(), 2);
}

TEST(WorkerPool, EscapedErrorIsRethrownAfterEveryUnitRan) {
  std::vector<int> items{0, 1, 2, 3, 4, 5};
  std::atomic<int> ran{0};
  EXPECT_THROW(map_in_pool(2, items,
                           [&](const int& i) {
                             ++ran;
                             if (i == 1 || i == 4) throw std::runtime_error("unit " + std::to_string(i));
                             return true;
                           }),
               std::runtime_error);
  EXPECT_EQ(ran.load(), 6);
}
