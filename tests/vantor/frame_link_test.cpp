#include "vantor/frame_link.hpp"

#include <thread>

#include <gtest/gtest.h>

#include "fake_meter.hpp"
#include "util/logging.hpp"

using namespace meterops;
using meterops::testing::answer_frame;
using meterops::testing::FakeMeter;
using vantor::codec::Bytes;
using Flags = vantor::codec::VexoDefaultRequestResponse::ReadWriteFlags;

namespace {

const Bytes kObject{0x01, 0x02, 0x03};

// The meter parses the request (its checksum included) and answers with the
// request's object id and flag followed by `value`.
Bytes echo_value(const Bytes& req, const Bytes& value) {
  auto frame = vantor::codec::VexoFrame::from_bytes(req);
  auto rec = vantor::codec::VexoDefaultRequestResponse::from_bytes(frame.data.message);
  Bytes answer = rec.object_id;
  answer.push_back(static_cast<std::uint8_t>(rec.read_write));
  answer.insert(answer.end(), value.begin(), value.end());
  return answer_frame(answer);
}

}  // namespace

TEST(FrameLinkFrames, EveryPayloadLengthHasTheRightLayoutAndChecksum) {
  vantor::FrameLink link("127.0.0.1", 1);
  for (auto flag : {Flags::read, Flags::write}) {
    for (std::size_t k = 0; k <= 238; ++k) {
      Bytes payload(k);
      for (std::size_t i = 0; i < k; ++i) payload[i] = static_cast<std::uint8_t>(i * 7 + 1);
      Bytes frame = link._build_frame_bytes(link._build_data_field(kObject, flag, payload));
      SCOPED_TRACE("flag " + std::to_string(static_cast<int>(flag)) + ", payload length " + std::to_string(k));
      ASSERT_EQ(frame.size(), k + 18);
      EXPECT_EQ(frame[0], 0x7E);
      EXPECT_EQ(frame[1], k + 17);  // frame_length
      EXPECT_EQ(frame[2], 5);       // control
      EXPECT_EQ(Bytes(frame.begin() + 3, frame.begin() + 7), (Bytes{0, 0, 0, 0}));
      EXPECT_EQ(frame[7], 0);
      EXPECT_EQ(Bytes(frame.begin() + 8, frame.begin() + 11), (Bytes{0x21, 0xAE, 0x42}));
      EXPECT_EQ(frame[11], 0);  // format
      EXPECT_EQ(Bytes(frame.begin() + 12, frame.begin() + 15), kObject);
      EXPECT_EQ(frame[15], static_cast<std::uint8_t>(flag));
      EXPECT_EQ(Bytes(frame.begin() + 16, frame.end() - 2), payload);
      auto crc =
          vantor::codec::crc16_ccitt_false(std::span<const std::uint8_t>(frame).subspan(1, frame.size() - 3));
      EXPECT_EQ(frame[frame.size() - 2], crc >> 8);
      EXPECT_EQ(frame[frame.size() - 1], crc & 0xFF);
      // The frame parses back with its checksum, and its message is the record.
      auto parsed = vantor::codec::VexoFrame::from_bytes(frame);
      auto rec = vantor::codec::VexoDefaultRequestResponse::from_bytes(parsed.data.message);
      EXPECT_EQ(rec.payload, payload);
      EXPECT_EQ(rec.read_write, flag);
    }
  }
}

TEST(FrameLinkFrames, FixedFieldsDoNotDependOnHostOrPort) {
  const Bytes expected = vantor::FrameLink("127.0.0.1", 1)._build_frame_bytes(
      vantor::FrameLink("127.0.0.1", 1)._build_data_field(kObject, Flags::write, {0x42}));
  for (auto [host, port] : std::vector<std::pair<std::string, int>>{
           {"127.0.0.1", 8080}, {"::1", 65535}, {"meter-7.example", 1}, {"10.1.2.3", 502}}) {
    vantor::FrameLink link(host, port);
    EXPECT_EQ(link._build_frame_bytes(link._build_data_field(kObject, Flags::write, {0x42})), expected) << host;
  }
}

TEST(FrameLinkFrames, ParsedFrameTextNamesEveryField) {
  vantor::FrameLink link("127.0.0.1", 1);
  auto text = vantor::codec::VexoFrame::from_bytes(
                  link._build_frame_bytes(link._build_data_field(kObject, Flags::write, {0xAB, 0xCD})))
                  .to_string();
  for (const char* part : {"control=5", "source_address=21ae42", "destination_address=000000",
                           "message=01020301abcd", "frame_length=19"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
  }
}

TEST(FrameLinkFrames, TruncatedOrCorruptedFramesAreCodecErrorsAtEveryCut) {
  vantor::FrameLink link("127.0.0.1", 1);
  const Bytes frame = link._build_frame_bytes(link._build_data_field(kObject, Flags::write, {1, 2, 3}));
  for (std::size_t n = 0; n < frame.size(); ++n) {
    EXPECT_THROW(vantor::codec::VexoFrame::from_bytes(std::span<const std::uint8_t>(frame.data(), n)),
                 util::CodecError)
        << n;
  }
  Bytes longer = frame;
  longer.push_back(0);
  EXPECT_THROW(vantor::codec::VexoFrame::from_bytes(longer), util::CodecError);
  for (std::size_t i = 1; i < frame.size(); ++i) {
    Bytes bad = frame;
    bad[i] ^= 0x10;
    EXPECT_THROW(vantor::codec::VexoFrame::from_bytes(bad), util::CodecError) << "byte " << i;
  }
  Bytes bad_crc = frame;
  bad_crc.back() ^= 0x01;
  try {
    vantor::codec::VexoFrame::from_bytes(bad_crc);
    ADD_FAILURE() << "no error";
  } catch (const util::CodecError& e) {
    EXPECT_NE(std::string(e.what()).find("frame checksum mismatch: expected"), std::string::npos) << e.what();
  }
  for (std::size_t n = 0; n < 4; ++n) {
    EXPECT_THROW(vantor::codec::VexoDefaultRequestResponse::from_bytes(Bytes(n, 0)), util::CodecError) << n;
  }
  EXPECT_THROW(vantor::codec::VexoData::from_bytes(Bytes{}), util::CodecError);
}

TEST(FrameLinkFrames, WriterRefusesToRunPastItsSize) {
  vantor::codec::ByteWriter w(3);
  w.write_u2be(0x1234);
  EXPECT_THROW(w.write_u2be(0x5678), util::CodecError);
  w.write_u1(0x56);
  EXPECT_EQ(w.buffer(), (Bytes{0x12, 0x34, 0x56}));
  EXPECT_THROW(w.write_u1(0), util::CodecError);
}

TEST(FrameLinkFrames, ReadRequestIs18BytesWithChecksumOverIndexes1To15) {
  vantor::FrameLink link("127.0.0.1", 1);
  Bytes frame = link._build_frame_bytes(link._build_data_field(kObject));
  ASSERT_EQ(frame.size(), 18u);
  EXPECT_EQ(frame[1], 17);
  auto crc = vantor::codec::crc16_ccitt_false(std::span<const std::uint8_t>(frame.data() + 1, 15));
  EXPECT_EQ((frame[16] << 8) | frame[17], crc);
}

TEST(FrameLinkFrames, CrcIsCcittFalseSentMostSignificantFirst) {
  const std::string digits = "123456789";
  EXPECT_EQ(vantor::codec::crc16_ccitt_false(
                std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size())),
            0x29B1);
}

TEST(FrameLinkFrames, DelimiterIsOutsideTheChecksumButLengthIsInside) {
  vantor::FrameLink link("127.0.0.1", 1);
  Bytes frame = link._build_frame_bytes(link._build_data_field(kObject));
  auto crc_of = [](Bytes f) {
    return vantor::codec::crc16_ccitt_false(std::span<const std::uint8_t>(f).subspan(1, f.size() - 3));
  };
  Bytes other_delim = frame;
  other_delim[0] = 0x00;
  EXPECT_EQ(crc_of(other_delim), crc_of(frame));
  Bytes other_len = frame;
  other_len[1] ^= 0x01;
  EXPECT_NE(crc_of(other_len), crc_of(frame));
}

TEST(FrameLinkFrames, OversizeAndMalformedValuesAreCodecErrors) {
  vantor::FrameLink link("127.0.0.1", 1);
  EXPECT_THROW(link._build_frame_bytes(link._build_data_field(kObject, Flags::write, Bytes(239))), util::CodecError);
  EXPECT_THROW(link._build_data_field(Bytes{1, 2}), util::CodecError);
  EXPECT_THROW(vantor::codec::vexo_encode_u3be(0x1000000), util::ValueError);
  EXPECT_EQ(vantor::codec::vexo_encode_u3be(2207298), (Bytes{0x21, 0xAE, 0x42}));
}

TEST(FrameLinkExchange, ReadReturnsThePayloadAndStampsTheExchange) {
  FakeMeter meter([](const Bytes& req) { return echo_value(req, {0xDE, 0xAD}); });
  vantor::FrameLink link("127.0.0.1", meter.port());
  EXPECT_FALSE(link.last_request_datetime().has_value());
  EXPECT_EQ(link.read_element(kObject), (Bytes{0xDE, 0xAD}));
  ASSERT_TRUE(link.last_request_datetime().has_value());
  ASSERT_EQ(meter.requests().size(), 1u);
  EXPECT_EQ(meter.requests()[0], link._build_frame_bytes(link._build_data_field(kObject)));
  EXPECT_EQ(meter.bad_requests(), 0);
}

TEST(FrameLinkExchange, FourByteAnswerRecordGivesEmptyPayload) {
  FakeMeter meter([](const Bytes& req) { return echo_value(req, {}); });
  vantor::FrameLink link("127.0.0.1", meter.port());
  EXPECT_TRUE(link.read_element(kObject).empty());
}

TEST(FrameLinkExchange, WriteReturnsWhateverTheAnswerSays) {
  FakeMeter meter([](const Bytes&) { return answer_frame({0x09, 0x09, 0x09, 0x00, 0x77}); });
  vantor::FrameLink link("127.0.0.1", meter.port());
  EXPECT_NO_THROW(link.write_element(kObject, {0x10, 0x20}));
  auto reqs = meter.requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0], link._build_frame_bytes(link._build_data_field(kObject, Flags::write, {0x10, 0x20})));
}

TEST(FrameLinkExchange, SendMessageWithFieldBytesSendsTheSameFrame) {
  FakeMeter meter([](const Bytes& req) { return echo_value(req, {1}); });
  vantor::FrameLink link("127.0.0.1", meter.port());
  auto field = link._build_data_field(kObject, Flags::write, {5, 6, 7});
  meterops::vantor::codec::ByteWriter w(field.size());
  field.write(w);
  link.send_message(w.take());
  link.send_message_with_data_instance(field);
  auto reqs = meter.requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0], reqs[1]);
}

TEST(FrameLinkExchange, DebugRecordsCarryLowercaseHex) {
  FakeMeter meter([](const Bytes& req) { return echo_value(req, {0xAB}); });
  vantor::FrameLink link("127.0.0.1", meter.port());
  util::LogCapture cap;
  auto before = util::log_level();
  util::set_log_level(util::Level::debug);
  link.read_element(kObject);
  util::set_log_level(before);
  auto req = cap.find("send_message_with_data_instance request", util::Level::debug);
  auto rsp = cap.find("send_message_with_data_instance response", util::Level::debug);
  ASSERT_EQ(req.size(), 1u);
  ASSERT_EQ(rsp.size(), 1u);
  EXPECT_EQ(req[0].fields["req_bytes"], util::hex(std::string(
                                            reinterpret_cast<const char*>(meter.requests()[0].data()),
                                            meter.requests()[0].size())));
  EXPECT_EQ(req[0].fields["req_bytes"].get<std::string>().substr(0, 4), "7e11");
  EXPECT_TRUE(cap.contains("response frame parsed", util::Level::debug));
}

struct BadAnswer {
  const char* name;
  std::function<Bytes(const Bytes&)> answer;
  bool transport;  // a transport error rather than a codec error
  const char* says;
  bool record_level = false;  // the frame parses, its element record does not
};

TEST(FrameLinkExchange, BadAnswersGiveClearErrorsAndKeepTheLastStamp) {
  const std::vector<BadAnswer> cases = {
      {"checksum corrupted",
       [](const Bytes& r) {
         auto f = echo_value(r, {1, 2});
         f[f.size() - 1] ^= 0xFF;
         return f;
       },
       false, "checksum"},
      {"record shorter than 4 bytes", [](const Bytes&) { return answer_frame({0x01, 0x02}); }, false, "too short",
       true},
      {"connection closed without an answer", [](const Bytes&) { return Bytes{}; }, true, "without an answer"},
      {"answer cut short",
       [](const Bytes& r) {
         auto f = echo_value(r, {1, 2});
         f.resize(f.size() - 3);
         return f;
       },
       true, "cut short"},
      {"wrong delimiter",
       [](const Bytes& r) {
         auto f = echo_value(r, {1});
         f[0] = 0x55;
         return f;
       },
       true, "delimiter"},
      {"length byte below a frame's minimum", [](const Bytes&) { return Bytes{0x7E, 0x02, 0x00, 0x00}; }, false,
       "too short"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int calls = 0;
    FakeMeter meter([&](const Bytes& req) { return calls++ == 0 ? echo_value(req, {9}) : c.answer(req); });
    vantor::FrameLink link("127.0.0.1", meter.port());
    link.read_element(kObject);
    auto stamp = link.last_request_datetime();
    try {
      link.read_element(kObject);
      ADD_FAILURE() << "no error";
    } catch (const util::TransportError& e) {
      EXPECT_TRUE(c.transport) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("127.0.0.1:" + std::to_string(meter.port())), std::string::npos);
      EXPECT_EQ(link.last_request_datetime(), stamp);
    } catch (const util::CodecError& e) {
      EXPECT_FALSE(c.transport) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
      // A frame that parsed stamps the exchange even if its record did not.
      if (c.record_level) {
        EXPECT_GE(link.last_request_datetime(), stamp);
      } else {
        EXPECT_EQ(link.last_request_datetime(), stamp);
      }
    }
  }
}

TEST(FrameLinkTransport, RefusedPortAndSilentMeterNameHostAndPort) {
  int port;
  {
    FakeMeter gone([](const Bytes&) { return Bytes{}; });
    port = gone.port();
  }
  vantor::FrameLink refused("127.0.0.1", port);
  try {
    refused.read_element(kObject);
    ADD_FAILURE() << "no error";
  } catch (const util::TransportError& e) {
    EXPECT_NE(std::string(e.what()).find("127.0.0.1:" + std::to_string(port)), std::string::npos) << e.what();
  }
  EXPECT_FALSE(refused.last_request_datetime().has_value());

  FakeMeter silent([](const Bytes&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    return Bytes{};
  });
  vantor::VantorNET net("127.0.0.1", silent.port(), std::chrono::seconds(2), std::chrono::milliseconds(200));
  try {
    net.send_message(Bytes{0x7E});
    ADD_FAILURE() << "no error";
  } catch (const util::TransportError& e) {
    EXPECT_NE(std::string(e.what()).find("time-out"), std::string::npos) << e.what();
  }
}

TEST(FrameLinkTransport, SilentMeterAndBadHostFailWithinTheTimeOutNamingHostAndPort) {
  FakeMeter silent([](const Bytes&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    return Bytes{};
  });
  vantor::FrameLink link("127.0.0.1", silent.port(),
                         {std::chrono::milliseconds(500), std::chrono::milliseconds(150)});
  try {
    link.read_element(kObject);
    ADD_FAILURE() << "no error";
  } catch (const util::TransportError& e) {
    EXPECT_NE(std::string(e.what()).find("127.0.0.1:" + std::to_string(silent.port())), std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(link.last_request_datetime().has_value());

  for (auto [host, port] : std::vector<std::pair<std::string, int>>{{"", 8080}, {"127.0.0.1", 0}, {"127.0.0.1", 70000}}) {
    vantor::VantorNET net(host, port);
    try {
      net.send_message(Bytes{0x7E});
      ADD_FAILURE() << "no error for " << host << ":" << port;
    } catch (const util::TransportError& e) {
      EXPECT_NE(std::string(e.what()).find(host + ":" + std::to_string(port)), std::string::npos) << e.what();
    }
  }
}
