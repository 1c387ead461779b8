// 32-bit arithmetic that wraps in two's complement instead of overflowing,
// and the clamping of wide numbers into 32 bits.
#ifndef BEATSTAMPS_INT32_MATH_H_
#define BEATSTAMPS_INT32_MATH_H_

#include <cstdint>

// Keeps the low 32 bits; conversion to a signed type is modular since C++20.
inline int32_t WrapToInt32(int64_t value) {
  return static_cast<int32_t>(value);
}

inline int32_t WrappingAdd(int32_t a, int32_t b) {
  return WrapToInt32(static_cast<int64_t>(a) + b);
}

inline int32_t WrappingSubtract(int32_t a, int32_t b) {
  return WrapToInt32(static_cast<int64_t>(a) - b);
}

inline int32_t WrappingMultiply(int32_t a, int32_t b) {
  return WrapToInt32(static_cast<int64_t>(a) * b);
}

inline int32_t ClampToInt32(long long value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

#endif  // BEATSTAMPS_INT32_MATH_H_
