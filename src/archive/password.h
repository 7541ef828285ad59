// Passwords for encrypted members: the test of a member's 12-byte
// encryption header and the prompts for a password that opens it.
#ifndef VANTREL_PASSWORD_H
#define VANTREL_PASSWORD_H

#include "../core/program_state.h"

enum { kEncryptionHeaderSize = 12 };

// `header` holds 2 * `length` bytes: the ciphertext as read in the second
// half, which never changes, and the plaintext of the latest test in the
// first. True when the password's plaintext ends in the member's check
// byte; the keys then stand ready for the member's first data byte.
bool CheckEncryptionHeader(BYTE *header, DWORD length, WORD flags, DWORD crc, WORD dosTime,
                           const CountedString &password);

enum PasswordOutcome {
  kPasswordAccepted,   // the keys are set for the member's data
  kPasswordRefused,    // three prompts failed: the member is skipped
  kPasswordCancelled,  // the user gave up: the extraction ends
};

// Reads the member's encryption header at the package file's position and
// tries the kept password, then up to three typed ones.
PasswordOutcome ObtainMemberPassword();

#endif
