// The scrambling of the password, welcome and licence texts in the package
// header: XOR with a key stream from a fixed-seed generator. XOR is its own
// inverse, so the packaging side scrambles with this very procedure.
#ifndef VANTREL_DESCRAMBLE_H
#define VANTREL_DESCRAMBLE_H

#include <windows.h>

// Rewrites bytes 1 .. length-1 of `text` in place; byte 0 is left alone.
// Every call starts the generator from the same seed.
void Descramble(BYTE *text, LONG length);

#endif
