// The one way a step tells why it failed: it returns false and fills a
// failure record; only the front end prints the message.
#ifndef BEATSTAMPS_FAILURE_H_
#define BEATSTAMPS_FAILURE_H_

#include <string>

struct Failure {
  // One line, with its newline, whole however long the names in it are.
  std::string message;
  int status = 0;  // the exit status of a run that ends on it
};

// Fills the failure's line, printf-style, for a run that ends with status 1.
__attribute__((format(printf, 2, 3))) void SetFailure(Failure& failure, const char* format, ...);

#endif  // BEATSTAMPS_FAILURE_H_
