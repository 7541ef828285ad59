// Small text procedures over NUL-terminated ANSI buffers and counted strings.
// The stub has no C runtime, so these stand in for the few it would use.
#ifndef VANTREL_TEXT_H
#define VANTREL_TEXT_H

#include "program_state.h"

DWORD TextLength(const char *text);
void CopyBytes(void *to, const void *from, DWORD count);
void FillBytes(void *to, BYTE value, DWORD count);
bool TextsEqual(const char *a, const char *b);

// Appends to a NUL-terminated buffer of `capacity` bytes whose text is `used`
// characters long; returns the new length. Text that does not fit is cut and
// the buffer stays terminated.
DWORD AppendLiteral(char *buffer, DWORD used, DWORD capacity, const char *text);
DWORD AppendDecimal(char *buffer, DWORD used, DWORD capacity, DWORD value);
DWORD AppendHex8(char *buffer, DWORD used, DWORD capacity, DWORD value);

// Counted strings. Assign and Append return false, and leave the string as
// it was, when the result would not fit: a path must never be cut short.
void ClearString(CountedString &s);
bool AssignString(CountedString &s, const char *text);
bool AssignBytes(CountedString &s, const char *bytes, DWORD count);
bool AppendString(CountedString &s, const char *text);

#endif
