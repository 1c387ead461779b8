// Typed input and the streams the front end talks through.
#ifndef BEATSTAMPS_CONSOLE_H_
#define BEATSTAMPS_CONSOLE_H_

#include <cstdint>
#include <cstdio>

struct Console {
  FILE* in;
  FILE* out;
  FILE* errors;  // the program's own lines while `out` carries an export's data
};

enum class InputStatus {
  kRead,        // the value was read and stored
  kTooLong,     // a word longer than its field: read whole, not stored
  kNotANumber,  // no number stood there; what was not accepted stays as the next word
  kEnded,       // standard input ended before a value
};

// Each read first flushes the output, so that a prompt stands before the user
// types. Words are whitespace-delimited; integers follow "%i" (0x hexadecimal,
// leading-0 octal) and clamp to 32 bits; reals follow "%f".
InputStatus ReadWord(Console& console, char* field, int capacity);
InputStatus ReadInteger(Console& console, int32_t& value);
InputStatus ReadReal(Console& console, float& value);

// Prints `prompt` and reads a file name into `name`; a name too long for it
// is refused with a message and leaves `name` as it was.
InputStatus AskFileName(Console& console, const char* prompt, char* name);

// Copies `given` into `name`, or refuses a name too long for it with a
// message and leaves `name` as it was.
bool StoreFileName(Console& console, char* name, const char* given);

#endif  // BEATSTAMPS_CONSOLE_H_
