// Frame throughput: request frames built, answer frames parsed, and the
// checksum's bytes per second next to a plain memory copy of the machine.
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "vantor/codec/frame.hpp"
#include "vantor/frame_link.hpp"
#include "../tests/vantor/fake_meter.hpp"

using namespace meterops;
using vantor::codec::Bytes;

static void BM_BuildReadFrame(benchmark::State& state) {
  vantor::FrameLink link("127.0.0.1", 1);
  const Bytes object{1, 2, 3};
  for (auto _ : state) {
    auto frame = link._build_frame_bytes(link._build_data_field(object));
    benchmark::DoNotOptimize(frame.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildReadFrame);

static void BM_BuildWriteFrame238(benchmark::State& state) {
  vantor::FrameLink link("127.0.0.1", 1);
  const Bytes object{1, 2, 3};
  const Bytes payload(238, 0x5A);
  for (auto _ : state) {
    auto frame = link._build_frame_bytes(
        link._build_data_field(object, vantor::FrameLink::Flags::write, payload));
    benchmark::DoNotOptimize(frame.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildWriteFrame238);

static void BM_ParseAnswerFrame(benchmark::State& state) {
  vantor::FrameLink link("127.0.0.1", 1);
  const Bytes frame = link._build_frame_bytes(
      link._build_data_field({1, 2, 3}, vantor::FrameLink::Flags::write, Bytes(static_cast<std::size_t>(state.range(0)), 7)));
  for (auto _ : state) {
    auto parsed = vantor::codec::VexoFrame::from_bytes(frame);
    auto rec = vantor::codec::VexoDefaultRequestResponse::from_bytes(parsed.data.message);
    benchmark::DoNotOptimize(rec.payload.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseAnswerFrame)->Arg(0)->Arg(238);

static void BM_Crc16(benchmark::State& state) {
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(state.range(0)), 0xA5);
  for (auto _ : state) benchmark::DoNotOptimize(vantor::codec::crc16_ccitt_false(buf));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Crc16)->Arg(255)->Arg(64 << 20);

static void BM_MemcpyBandwidth(benchmark::State& state) {
  std::vector<char> a(64 << 20, 1), b(64 << 20);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(a.size()));
}
BENCHMARK(BM_MemcpyBandwidth);

// One whole read over loopback TCP (connect, frame out, answer in, close):
// the link's own ceiling, whatever the meter's latency adds.
static void BM_LoopbackReadExchange(benchmark::State& state) {
  meterops::testing::FakeMeter meter([](const Bytes&) {
    return meterops::testing::answer_frame({1, 2, 3, 0, 0x12, 0x34, 0x56, 0x78});
  });
  vantor::FrameLink link("127.0.0.1", meter.port());
  const Bytes object{1, 2, 3};
  for (auto _ : state) benchmark::DoNotOptimize(link.read_element(object));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LoopbackReadExchange)->UseRealTime();

BENCHMARK_MAIN();
