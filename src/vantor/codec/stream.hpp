// Byte streams for the frame codec: a writer over a fixed-size zero-filled
// buffer (writing past its end is an error, never an overrun) and a bounded
// reader (reading past the bytes given is an error, never an overread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "util/errors.hpp"

namespace meterops::vantor::codec {

using Bytes = std::vector<std::uint8_t>;

class ByteWriter {
 public:
  explicit ByteWriter(std::size_t size) : buf_(size, 0) {}
  void write_u1(std::uint8_t v) { need(1, "u1"); buf_[pos_++] = v; }
  void write_u2be(std::uint16_t v) {
    need(2, "u2be");
    buf_[pos_++] = static_cast<std::uint8_t>(v >> 8);
    buf_[pos_++] = static_cast<std::uint8_t>(v);
  }
  void write_bytes(std::span<const std::uint8_t> b, const char* what = "bytes") {
    need(b.size(), what);
    std::copy(b.begin(), b.end(), buf_.begin() + static_cast<std::ptrdiff_t>(pos_));
    pos_ += b.size();
  }
  std::size_t pos() const { return pos_; }
  std::size_t size() const { return buf_.size(); }
  // The whole buffer, all N bytes, whatever was written.
  const Bytes& buffer() const { return buf_; }
  Bytes take() { return std::move(buf_); }

 private:
  void need(std::size_t n, const char* what) const {
    if (n > buf_.size() - pos_) overflow(n, what);
  }
  [[noreturn]] void overflow(std::size_t n, const char* what) const {
    throw util::CodecError("cannot write " + std::string(what) + " of " + std::to_string(n) + " bytes at offset " +
                           std::to_string(pos_) + ": buffer holds " + std::to_string(buf_.size()) + " bytes");
  }
  Bytes buf_;
  std::size_t pos_ = 0;
};

class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : data_(bytes) {}
  std::uint8_t read_u1(const char* what = "u1") {
    need(1, what);
    return data_[pos_++];
  }
  std::uint16_t read_u2be(const char* what = "u2be") {
    need(2, what);
    std::uint16_t v = static_cast<std::uint16_t>((data_[pos_] << 8) | data_[pos_ + 1]);
    pos_ += 2;
    return v;
  }
  std::uint32_t read_u3be(const char* what = "u3be") {
    need(3, what);
    std::uint32_t v = (std::uint32_t{data_[pos_]} << 16) | (std::uint32_t{data_[pos_ + 1]} << 8) | data_[pos_ + 2];
    pos_ += 3;
    return v;
  }
  std::uint32_t read_u4be(const char* what = "u4be") {
    need(4, what);
    std::uint32_t v = (std::uint32_t{data_[pos_]} << 24) | (std::uint32_t{data_[pos_ + 1]} << 16) |
                      (std::uint32_t{data_[pos_ + 2]} << 8) | data_[pos_ + 3];
    pos_ += 4;
    return v;
  }
  Bytes read_bytes(std::size_t n, const char* what = "bytes") {
    need(n, what);
    Bytes out(data_.begin() + static_cast<std::ptrdiff_t>(pos_), data_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
    pos_ += n;
    return out;
  }
  std::size_t pos() const { return pos_; }
  std::size_t remaining() const { return data_.size() - pos_; }

 private:
  void need(std::size_t n, const char* what) const {
    if (n > data_.size() - pos_) {
      throw util::CodecError("truncated " + std::string(what) + ": need " + std::to_string(n) + " bytes at offset " +
                             std::to_string(pos_) + ", have " + std::to_string(data_.size() - pos_));
    }
  }
  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};

}  // namespace meterops::vantor::codec
