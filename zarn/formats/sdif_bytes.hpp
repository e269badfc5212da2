// The bytes of SDIF shared by its reader and its writer: big-endian fields, type signatures,
// the data types of matrices.
#pragma once

#include <cstdint>
#include <cstring>

#include "io/tokens.hpp"

namespace zarn {
namespace detail::sdif {


constexpr std::uint32_t kFloat32 = 0x0004;
constexpr std::uint32_t kFloat64 = 0x0008;
constexpr std::uint32_t kText = 0x0301;
constexpr std::uint64_t kFrameHeaderAfterSize = 16;  // time, stream, matrix count
constexpr std::uint64_t kMatrixHeader = 16;

inline std::uint32_t be32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return (std::uint32_t{u[0]} << 24) | (std::uint32_t{u[1]} << 16) | (std::uint32_t{u[2]} << 8) | u[3];
}

inline std::uint64_t be64(const char* p) { return (std::uint64_t{be32(p)} << 32) | be32(p + 4); }

inline double f64(const char* p) {
  const std::uint64_t bits = be64(p);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

inline double f32(const char* p) {
  const std::uint32_t bits = be32(p);
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

inline std::int32_t i32(const char* p) { return static_cast<std::int32_t>(be32(p)); }

inline std::uint64_t padded8(std::uint64_t n) { return (n + 7) / 8 * 8; }

// A type signature as one number, for comparing and counting.
constexpr std::uint32_t signature(const char (&type)[5]) {
  return (std::uint32_t{static_cast<unsigned char>(type[0])} << 24) | (std::uint32_t{static_cast<unsigned char>(type[1])} << 16) |
         (std::uint32_t{static_cast<unsigned char>(type[2])} << 8) | std::uint32_t{static_cast<unsigned char>(type[3])};
}
constexpr std::uint32_t k1TRC = signature("1TRC"), k1HRM = signature("1HRM");

inline bool is_track(const char* type) {
  const std::uint32_t sig = be32(type);
  return sig == k1TRC || sig == k1HRM;
}

// Big-endian fields into a byte buffer, each word stored whole, so that no byte-by-byte
// building is read back as a word.
inline char* put32(char* p, std::uint32_t v) {
  const std::uint32_t big = zarn::detail::little_endian() ? __builtin_bswap32(v) : v;
  std::memcpy(p, &big, 4);
  return p + 4;
}

inline char* put64(char* p, std::uint64_t v) {
  const std::uint64_t big = zarn::detail::little_endian() ? __builtin_bswap64(v) : v;
  std::memcpy(p, &big, 8);
  return p + 8;
}

// Indices are written as 32-bit floats, which hold every whole number up to 2^24 exactly.
constexpr int kMaxIndex = 1 << 24;

}  // namespace detail::sdif
}  // namespace zarn
