#include "password.h"

#include "../core/runtime.h"
#include "../core/text.h"
#include "../core/progress.h"
#include "walker.h"
#include "../core/zipcrypto.h"

namespace {
const int kPromptsPerMember = 3;
const WORD kFlagDescriptor = 8;

// The typed text as the dialog left it; a length outside the buffer cannot
// come from the dialog and is cut to what the buffer holds.
void TakeTypedPassword() {
  LONG n = state.typedPasswordLength;
  if (n < 0) n = 0;
  if (n > kTypedPasswordSize - 1) n = kTypedPasswordSize - 1;
  StringFromBytes(state.typedPassword, DWORD(n), state.password);
}

bool TestPassword(BYTE *header) {
  const LocalHeader &h = state.localHeader;
  return CheckEncryptionHeader(header, kEncryptionHeaderSize, h.flags, h.crc, h.dosTime,
                               state.password);
}
}  // namespace

bool CheckEncryptionHeader(BYTE *header, DWORD length, WORD flags, DWORD crc, WORD dosTime,
                           const CountedString &password) {
  if (password.length == 0) return false;
  InitKeys(password.text, password.length);
  for (DWORD i = 0; i < length; ++i) {
    BYTE plain = header[length + i] ^ DecryptByte();
    UpdateKeys(plain);
    header[i] = plain;
  }
  BYTE check = header[length - 1];
  // With a data descriptor the writer did not know the CRC yet when it
  // wrote the header, so it used the time instead.
  if (flags & kFlagDescriptor) return check == BYTE(dosTime >> 8);
  return check == BYTE(crc >> 24);
}

PasswordOutcome ObtainMemberPassword() {
  BYTE *header = static_cast<BYTE *>(AllocateBlock(2 * kEncryptionHeaderSize));
  // A header cut short by the end of the package reads as zeros, never as
  // whatever the block held.
  FillBytes(header, 0, 2 * kEncryptionHeaderSize);
  DWORD got = 0;
  ReadFile(state.packageFile, header, kEncryptionHeaderSize, &got, nullptr);
  CopyBytes(header + kEncryptionHeaderSize, header, kEncryptionHeaderSize);

  PasswordOutcome outcome = TestPassword(header) ? kPasswordAccepted : kPasswordRefused;
  for (int prompt = 0; outcome == kPasswordRefused && prompt < kPromptsPerMember; ++prompt) {
    if (!AskForPassword()) {
      outcome = kPasswordCancelled;
      break;
    }
    TakeTypedPassword();
    if (TestPassword(header)) outcome = kPasswordAccepted;
    FillBytes(state.typedPassword, 0, kTypedPasswordSize);
  }
  ReleaseBlock(header);
  return outcome;
}
