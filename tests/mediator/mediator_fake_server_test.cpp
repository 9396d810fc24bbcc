// The clients against an in-process gRPC server whose answers each test
// sets exactly: what the requests carry, bad answers, a server that never
// answers, and the CSV file of polyphase_series.
#include <filesystem>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>
#include <grpcpp/grpcpp.h>

#include "mediator/api_core.hpp"
#include "mediator/api_prepay.hpp"
#include "mediator/channel.hpp"
#include "support/process.hpp"

using namespace meterops;
namespace fs = std::filesystem;
namespace mt = meterops::testing;
namespace v1 = meterops::mediator::v1;

namespace {

class FakeMediator final : public v1::Mediator::Service {
 public:
  std::mutex mu;
  std::string tariffs_json = "{}";
  std::optional<std::string> hardware_text;
  v1::PolyphaseReply polyphase;
  grpc::Status status = grpc::Status::OK;
  bool hang = false;  // answer only when the client gives up
  std::chrono::system_clock::time_point last_deadline;
  std::vector<std::string> seen;  // a text form of each request

  grpc::Status ThreePhaseRead(grpc::ServerContext* ctx, const v1::ThreePhaseRequest* req, v1::ThreePhaseTotals* rep) override {
    record(ctx, req->ShortDebugString());
    rep->set_active_import(9.5);
    return answer(ctx);
  }
  grpc::Status ReadElement(grpc::ServerContext* ctx, const v1::ElementRequest* req, v1::ElementTotals* rep) override {
    record(ctx, req->ShortDebugString());
    rep->set_import_active(req->element() == "b" ? 2 : 1);
    return answer(ctx);
  }
  grpc::Status Hardware(grpc::ServerContext* ctx, const v1::SerialRequest* req, v1::TextReply* rep) override {
    record(ctx, req->ShortDebugString());
    if (hardware_text) rep->set_value(*hardware_text);
    return answer(ctx);
  }
  grpc::Status TariffsActiveRead(grpc::ServerContext* ctx, const v1::SerialRequest* req, v1::JsonReply* rep) override {
    record(ctx, req->ShortDebugString());
    rep->set_json(tariffs_json);
    return answer(ctx);
  }
  grpc::Status EventLog(grpc::ServerContext* ctx, const v1::EventLogRequest* req, v1::EventLogReply*) override {
    record(ctx, req->ShortDebugString());
    return answer(ctx);
  }
  grpc::Status PolyphaseSeries(grpc::ServerContext* ctx, const v1::PolyphaseRequest* req, v1::PolyphaseReply* rep) override {
    record(ctx, req->ShortDebugString());
    *rep = polyphase;
    return answer(ctx);
  }

 private:
  void record(grpc::ServerContext* ctx, std::string text) {
    std::lock_guard lock(mu);
    seen.push_back(std::move(text));
    last_deadline = ctx->deadline();
  }
  grpc::Status answer(grpc::ServerContext* ctx) {
    if (hang) {
      for (int i = 0; i < 500 && !ctx->IsCancelled(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
  }
};

class FakeServer {
 public:
  FakeServer() {
    grpc::ServerBuilder b;
    b.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port_);
    b.RegisterService(&service);
    server_ = b.BuildAndStart();
  }
  ~FakeServer() { server_->Shutdown(std::chrono::system_clock::now() + std::chrono::seconds(1)); }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  FakeMediator service;

 private:
  int port_ = 0;
  std::unique_ptr<grpc::Server> server_;
};

v1::PolyphaseReply polyphase_reply(std::vector<std::string> channels,
                                   std::vector<std::tuple<std::string, std::vector<double>, int>> rows) {
  v1::PolyphaseReply r;
  for (auto& c : channels) r.add_channels(c);
  for (auto& [t, values, status] : rows) {
    auto* iv = r.add_intervals();
    iv->set_timestamp(t);
    for (double v : values) iv->add_values(v);
    iv->set_status(status);
  }
  return r;
}

std::vector<std::string> listing(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

struct DeadlineGuard {
  explicit DeadlineGuard(std::chrono::milliseconds d) { mediator::set_deadline(d); }
  ~DeadlineGuard() { mediator::set_deadline(std::chrono::seconds(30)); }
};

}  // namespace

TEST(MediatorFakeServer, RequestsCarryTheirArguments) {
  FakeServer fake;
  mediator::VantorMediatorAPI api(fake.address());
  EXPECT_EQ(api.read_element_a("S1").import_active, 1);
  EXPECT_EQ(api.read_element_b("S1").import_active, 2);
  api.three_phase_read("S3");
  api.three_phase_read("S3", "P3.ax");
  api.event_log("S1", 9);
  mt::TempDir dir;
  api.polyphase_series("S3", {"2024-03-01", "2024-03-01T01:00:00Z", std::nullopt, dir.file("p.csv"), false});
  std::lock_guard lock(fake.service.mu);
  EXPECT_EQ(fake.service.seen, (std::vector<std::string>{
                                   R"(serial: "S1" element: "a")",
                                   R"(serial: "S1" element: "b")",
                                   R"(serial: "S3")",
                                   R"(serial: "S3" hardware: "P3.ax")",
                                   R"(serial: "S1" log_idx: 9)",
                                   R"(serial: "S3" day: "2024-03-01" start_time: "2024-03-01T01:00:00Z")",
                               }));
}

TEST(MediatorFakeServer, PolyphaseCsvHasHeaderRowsAndStatusesOnlyWhenAsked) {
  FakeServer fake;
  fake.service.polyphase = polyphase_reply({"l1", "odd,name"}, {{"2024-03-01T00:00:00+00:00", {1.5, 0.1}, 0},
                                                                {"2024-03-01T00:30:00+00:00", {-2, 1e-7}, 3}});
  mt::TempDir dir;
  mediator::VantorMediatorAPI api(fake.address());
  auto r = api.polyphase_series("S3", {"2024-03-01", std::nullopt, std::nullopt, dir.file("with.csv"), true});
  ASSERT_EQ(r.intervals.size(), 2u);
  EXPECT_EQ(r.channels, (std::vector<std::string>{"l1", "odd,name"}));
  EXPECT_EQ(r.intervals[1].status, 3);
  EXPECT_EQ(mt::read_file(dir.file("with.csv")),
            "timestamp,l1,\"odd,name\",status\n"
            "2024-03-01T00:00:00+00:00,1.5,0.1,0\n"
            "2024-03-01T00:30:00+00:00,-2,1e-07,3\n");
  api.polyphase_series("S3", {"2024-03-01", std::nullopt, std::nullopt, dir.file("without.csv"), false});
  EXPECT_EQ(mt::read_file(dir.file("without.csv")),
            "timestamp,l1,\"odd,name\"\n"
            "2024-03-01T00:00:00+00:00,1.5,0.1\n"
            "2024-03-01T00:30:00+00:00,-2,1e-07\n");
  // An empty day still gives a file with its header.
  fake.service.polyphase = polyphase_reply({"l1"}, {});
  EXPECT_TRUE(api.polyphase_series("S3", {"2024-03-02", {}, {}, dir.file("empty.csv"), false}).intervals.empty());
  EXPECT_EQ(mt::read_file(dir.file("empty.csv")), "timestamp,l1\n");
  std::lock_guard lock(fake.service.mu);
  EXPECT_EQ(fake.service.seen[0], R"(serial: "S3" day: "2024-03-01")");
}

// Whatever stops the call, the CSV already at the target stays as it was
// and nothing else is left in the folder.
TEST(MediatorFakeServer, FailedPolyphaseCallLeavesTheTargetAsItWas) {
  struct Case {
    const char* name;
    std::function<void(FakeMediator&)> setup;
    std::string code;  // MediatorClientException code, or "" for another error kind
    std::string csv_name = "day.csv";
  };
  const std::vector<Case> cases = {
      {"injected status", [](FakeMediator& f) { f.status = grpc::Status(grpc::INTERNAL, "meter went away"); }, "INTERNAL"},
      {"interval without every channel",
       [](FakeMediator& f) {
         f.polyphase = polyphase_reply({"l1", "l2"}, {{"2024-03-01T00:00:00+00:00", {1, 2}, 0},
                                                      {"2024-03-01T00:30:00+00:00", {1}, 0}});
       },
       "DATA_LOSS"},
      {"no answer in time", [](FakeMediator& f) { f.hang = true; }, "DEADLINE_EXCEEDED"},
      {"target is a folder",
       [](FakeMediator& f) { f.polyphase = polyphase_reply({"l1"}, {{"2024-03-01T00:00:00+00:00", {1}, 0}}); }, "",
       "sub"},
  };
  DeadlineGuard deadline(std::chrono::milliseconds(300));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServer fake;
    c.setup(fake.service);
    mt::TempDir dir;
    mt::write_file(dir.file("day.csv"), "earlier export\n");
    fs::create_directory(dir.file("sub"));
    mediator::VantorMediatorAPI api(fake.address());
    mediator::PolyphaseSeriesRequest req{"2024-03-01", std::nullopt, std::nullopt, dir.file(c.csv_name), true};
    if (c.code.empty()) {
      EXPECT_THROW(api.polyphase_series("S3", req), util::GeneralError);
    } else {
      try {
        api.polyphase_series("S3", req);
        ADD_FAILURE() << "no error";
      } catch (const mediator::MediatorClientException& e) {
        EXPECT_EQ(e.code_str(), c.code);
        EXPECT_NE(std::string(e.what()).find("polyphase_series for meter S3"), std::string::npos) << e.what();
      }
    }
    EXPECT_EQ(mt::read_file(dir.file("day.csv")), "earlier export\n");
    EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"day.csv", "sub"}));
  }
}

TEST(MediatorFakeServer, CsvPathsThatCannotWorkAreRefused) {
  FakeServer fake;
  fake.service.polyphase = polyphase_reply({"l1"}, {{"2024-03-01T00:00:00+00:00", {1}, 0}});
  mt::TempDir dir;
  mediator::VantorMediatorAPI api(fake.address());
  // No file name: refused before the mediator is asked.
  EXPECT_THROW(api.polyphase_series("S3", {"2024-03-01", {}, {}, "", false}), util::ValueError);
  EXPECT_THROW(api.polyphase_series("S3", {"2024-03-01", {}, {}, dir.path() + "/", false}), util::ValueError);
  {
    std::lock_guard lock(fake.service.mu);
    EXPECT_TRUE(fake.service.seen.empty());
  }
  // A folder that does not exist: a clear error naming the file, nothing made.
  try {
    api.polyphase_series("S3", {"2024-03-01", {}, {}, dir.file("missing/day.csv"), false});
    ADD_FAILURE() << "no error";
  } catch (const util::GeneralError& e) {
    EXPECT_NE(std::string(e.what()).find(dir.file("missing/day.csv")), std::string::npos) << e.what();
  }
  EXPECT_TRUE(listing(dir.path()).empty());
}

TEST(MediatorFakeServer, BadAnswersAreClearErrors) {
  FakeServer fake;
  mediator::VantorMediatorAPI api(fake.address());
  fake.service.tariffs_json = R"({"rate": 0.25, "bands": [1, 2]})";
  EXPECT_EQ(api.tariffs_active_read("S1").dump(), R"({"rate":0.25,"bands":[1,2]})");  // order kept
  fake.service.tariffs_json = "[1, 2";
  try {
    api.tariffs_active_read("S1");
    ADD_FAILURE() << "no error";
  } catch (const mediator::MediatorClientException& e) {
    EXPECT_EQ(e.code_str(), "DATA_LOSS");
    EXPECT_NE(std::string(e.what()).find("tariffs_active_read for meter S1"), std::string::npos) << e.what();
  }
  // No model code and an empty one are told apart.
  EXPECT_EQ(api.hardware("S1"), std::nullopt);
  fake.service.hardware_text = "";
  EXPECT_EQ(api.hardware("S1"), std::optional<std::string>(""));
  // Event-log indexes outside 0..9 never reach the mediator.
  for (int idx : {-1, 10, 1000}) EXPECT_THROW(api.event_log("S1", idx), util::ValueError) << idx;
  std::lock_guard lock(fake.service.mu);
  EXPECT_EQ(fake.service.seen.size(), 4u);
}

TEST(MediatorFakeServer, EveryCallCarriesTheDeadline) {
  FakeServer fake;
  mediator::VantorMediatorAPI api(fake.address());
  {
    DeadlineGuard deadline(std::chrono::seconds(5));
    auto before = std::chrono::system_clock::now();
    api.hardware("S1");
    std::lock_guard lock(fake.service.mu);
    EXPECT_GT(fake.service.last_deadline, before + std::chrono::seconds(4));
    EXPECT_LE(fake.service.last_deadline, before + std::chrono::seconds(6));
  }
  fake.service.hang = true;
  DeadlineGuard deadline(std::chrono::milliseconds(200));
  try {
    api.hardware("SLOW1");
    ADD_FAILURE() << "no error";
  } catch (const mediator::MediatorClientException& e) {
    EXPECT_EQ(e.code_str(), "DEADLINE_EXCEEDED");
    EXPECT_NE(std::string(e.what()).find("hardware for meter SLOW1"), std::string::npos) << e.what();
  }
}
