#include "base/failure.h"

#include <cstdarg>
#include <cstdio>

void SetFailure(Failure& failure, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list measuring;
  va_copy(measuring, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measuring);
  va_end(measuring);
  failure.message.assign(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0)
    std::vsnprintf(failure.message.data(), failure.message.size() + 1, format, arguments);
  va_end(arguments);
  failure.status = 1;
}
