// Access tokens and SIDs, scripted. SIDs are laid out in their binary form,
// inside the caller's buffer for GetTokenInformation, as on Windows. On the
// Windows 95 family these functions are stubs that fail with
// ERROR_CALL_NOT_IMPLEMENTED.
#include <stdlib.h>
#include <string.h>

#include <sstream>
#include <string>
#include <vector>

#include "host_state.h"

namespace host {
namespace {
struct TokenObject : HostObject {
  std::vector<TokenGroup> groups;
  TokenObject() : HostObject(kToken) {}
};

TokenScript tokenScript;
std::vector<std::string> securityCalls;
int liveSids;

// "S-1-5-32-544" as a binary SID: revision, count, authority, sub-authorities.
std::vector<BYTE> BinarySid(const std::string &text) {
  std::vector<unsigned long long> numbers;
  std::stringstream in(text.substr(2));
  std::string part;
  while (std::getline(in, part, '-')) numbers.push_back(std::stoull(part));
  std::vector<BYTE> sid = {BYTE(numbers[0]), BYTE(numbers.size() - 2)};
  for (int i = 5; i >= 0; --i) sid.push_back(BYTE(numbers[1] >> (8 * i)));
  for (size_t i = 2; i < numbers.size(); ++i) {
    for (int b = 0; b < 4; ++b) sid.push_back(BYTE(numbers[i] >> (8 * b)));
  }
  return sid;
}

size_t SidLength(const BYTE *sid) { return 8 + 4 * size_t(sid[1]); }

bool Called(const char *name) {
  securityCalls.push_back(name);
  if (!NtFamily()) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
  }
  return !CallFails(name);
}
}  // namespace

void SetToken(const TokenScript &script) { tokenScript = script; }
const std::vector<std::string> &SecurityCalls() { return securityCalls; }
int LiveSids() { return liveSids; }

void ResetSecurity() {
  tokenScript = TokenScript{};
  tokenScript.processGroups = {{"S-1-1-0", SE_GROUP_ENABLED}, {"S-1-5-32-544", SE_GROUP_ENABLED}};
  securityCalls.clear();
  liveSids = 0;
}
}  // namespace host

using namespace host;

BOOL WINAPI OpenThreadToken(HANDLE, DWORD, BOOL, PHANDLE token) {
  if (!Called("OpenThreadToken")) return FALSE;
  if (!tokenScript.threadImpersonates) {
    SetLastError(ERROR_NO_TOKEN);
    return FALSE;
  }
  auto *object = new TokenObject();
  object->groups = tokenScript.threadGroups;
  *token = Register(object);
  return TRUE;
}

BOOL WINAPI OpenProcessToken(HANDLE, DWORD, PHANDLE token) {
  if (!Called("OpenProcessToken")) return FALSE;
  auto *object = new TokenObject();
  object->groups = tokenScript.processGroups;
  *token = Register(object);
  return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE handle, TOKEN_INFORMATION_CLASS kind, LPVOID buffer,
                                DWORD size, PDWORD needed) {
  if (!Called("GetTokenInformation")) return FALSE;
  auto *token = static_cast<TokenObject *>(Lookup(handle, HostObject::kToken));
  if (!token || kind != TokenGroups) return FALSE;
  std::vector<std::vector<BYTE>> sids;
  size_t bytes = offsetof(TOKEN_GROUPS, Groups) + token->groups.size() * sizeof(SID_AND_ATTRIBUTES);
  for (const TokenGroup &g : token->groups) {
    sids.push_back(BinarySid(g.sid));
    bytes += sids.back().size();
  }
  *needed = DWORD(bytes);
  if (size < bytes || !buffer) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto *groups = static_cast<TOKEN_GROUPS *>(buffer);
  groups->GroupCount = DWORD(token->groups.size());
  BYTE *place = static_cast<BYTE *>(buffer) + offsetof(TOKEN_GROUPS, Groups) +
                token->groups.size() * sizeof(SID_AND_ATTRIBUTES);
  for (size_t i = 0; i < sids.size(); ++i) {
    memcpy(place, sids[i].data(), sids[i].size());
    groups->Groups[i].Sid = place;
    groups->Groups[i].Attributes = token->groups[i].attributes;
    place += sids[i].size();
  }
  return TRUE;
}

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD s0,
                                     DWORD s1, DWORD s2, DWORD s3, DWORD s4, DWORD s5, DWORD s6,
                                     DWORD s7, PSID *sid) {
  if (!Called("AllocateAndInitializeSid")) return FALSE;
  if (count > 8) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD subs[8] = {s0, s1, s2, s3, s4, s5, s6, s7};
  BYTE *out = static_cast<BYTE *>(malloc(8 + 4 * count));
  out[0] = 1;
  out[1] = count;
  memcpy(out + 2, authority->Value, 6);
  memcpy(out + 8, subs, 4 * count);
  *sid = out;
  ++liveSids;
  return TRUE;
}

BOOL WINAPI EqualSid(PSID a, PSID b) {
  if (!Called("EqualSid")) return FALSE;
  const BYTE *x = static_cast<const BYTE *>(a), *y = static_cast<const BYTE *>(b);
  return SidLength(x) == SidLength(y) && memcmp(x, y, SidLength(x)) == 0;
}

// Fails by handing the SID back.
PVOID WINAPI FreeSid(PSID sid) {
  if (!Called("FreeSid")) return sid;
  if (sid) --liveSids;
  free(sid);
  return nullptr;
}
