#include "base/failure.h"

#include <cstdarg>
#include <cstdio>

void SetFailure(Failure& failure, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(failure.message, sizeof failure.message, format, arguments);
  va_end(arguments);
  failure.status = 1;
}
