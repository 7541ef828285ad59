// Access tokens and SIDs, scripted, and the security descriptors the
// program builds. SIDs and ACLs are laid out in their binary form, inside
// the caller's buffers, as on Windows. On the Windows 95 family the token
// and SID functions are stubs that fail with ERROR_CALL_NOT_IMPLEMENTED;
// the descriptor functions it does not export at all (modules.cpp).
#include <stdlib.h>
#include <string.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host_state.h"

namespace host {
namespace {
struct TokenObject : HostObject {
  std::string user;
  std::vector<TokenGroup> groups;
  TokenObject() : HostObject(kToken) {}
};

TokenScript tokenScript;
std::vector<std::string> securityCalls;
int liveSids;
std::map<std::string, FolderSecurity> folderSecurity;  // by POSIX path
const BYTE kSidRevision = 1;
const BYTE kMostSubAuthorities = 15;

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

bool ValidSid(const void *sid) {
  auto *bytes = static_cast<const BYTE *>(sid);
  return bytes && bytes[0] == kSidRevision && bytes[1] <= kMostSubAuthorities;
}

std::string SidText(const BYTE *sid) {
  unsigned long long authority = 0;
  for (int i = 2; i < 8; ++i) authority = authority << 8 | sid[i];
  std::string text = "S-" + std::to_string(sid[0]) + "-" + std::to_string(authority);
  for (BYTE i = 0; i < sid[1]; ++i) {
    DWORD part;
    memcpy(&part, sid + 8 + 4 * i, 4);
    text += "-" + std::to_string(part);
  }
  return text;
}

bool Refuse(DWORD error) {
  SetLastError(error);
  return false;
}

// The entries of a well-formed ACL of the revisions Windows NT knows, each
// within the list's size; false for anything else.
bool ReadAcl(const ACL *acl, std::vector<AccessEntry> &entries) {
  if (!acl || acl->AclRevision < ACL_REVISION || acl->AclRevision > 4 ||
      acl->AclSize < sizeof(ACL)) {
    return false;
  }
  const BYTE *at = reinterpret_cast<const BYTE *>(acl) + sizeof(ACL);
  const BYTE *end = reinterpret_cast<const BYTE *>(acl) + acl->AclSize;
  for (WORD i = 0; i < acl->AceCount; ++i) {
    if (end - at < ptrdiff_t(sizeof(ACE_HEADER))) return false;
    auto *header = reinterpret_cast<const ACE_HEADER *>(at);
    if (header->AceSize < sizeof(ACE_HEADER) || header->AceSize > end - at) return false;
    AccessEntry entry{header->AceType, header->AceFlags, 0, ""};
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
      auto *ace = reinterpret_cast<const ACCESS_ALLOWED_ACE *>(at);
      const BYTE *sid = reinterpret_cast<const BYTE *>(&ace->SidStart);
      if (header->AceSize < 8 + 8 || !ValidSid(sid) || 8 + SidLength(sid) > header->AceSize) {
        return false;
      }
      entry.mask = ace->Mask;
      entry.sid = SidText(sid);
    }
    entries.push_back(entry);
    at += header->AceSize;
  }
  return true;
}

bool ValidDescriptor(const SECURITY_DESCRIPTOR *sd) {
  return sd && sd->Revision == SECURITY_DESCRIPTOR_REVISION && !(sd->Control & SE_SELF_RELATIVE);
}

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

bool CaptureFolderSecurity(const SECURITY_ATTRIBUTES *attributes, FolderSecurity &captured) {
  captured = FolderSecurity{};
  // Windows 95 and 98 keep no security: the attributes are not looked at.
  if (!attributes || !NtFamily()) return true;
  if (attributes->nLength != sizeof(SECURITY_ATTRIBUTES)) return Refuse(ERROR_INVALID_PARAMETER);
  auto *sd = static_cast<const SECURITY_DESCRIPTOR *>(attributes->lpSecurityDescriptor);
  if (!sd) return true;
  if (!ValidDescriptor(sd)) return Refuse(ERROR_INVALID_SECURITY_DESCR);
  captured.given = true;
  captured.control = sd->Control;
  if ((sd->Control & SE_DACL_PRESENT) && sd->Dacl && !ReadAcl(sd->Dacl, captured.entries)) {
    return Refuse(ERROR_INVALID_ACL);
  }
  return true;
}

void RecordFolderSecurity(const std::string &posixPath, const FolderSecurity &security) {
  folderSecurity[posixPath] = security;
}

FolderSecurity SecurityOf(const std::string &posixPath) {
  auto found = folderSecurity.find(posixPath);
  return found == folderSecurity.end() ? FolderSecurity{} : found->second;
}

void ResetSecurity() {
  folderSecurity.clear();
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
  object->user = tokenScript.user;
  object->groups = tokenScript.threadGroups;
  *token = Register(object);
  return TRUE;
}

BOOL WINAPI OpenProcessToken(HANDLE, DWORD, PHANDLE token) {
  if (!Called("OpenProcessToken")) return FALSE;
  auto *object = new TokenObject();
  object->user = tokenScript.user;
  object->groups = tokenScript.processGroups;
  *token = Register(object);
  return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE handle, TOKEN_INFORMATION_CLASS kind, LPVOID buffer,
                                DWORD size, PDWORD needed) {
  if (!Called("GetTokenInformation")) return FALSE;
  auto *token = static_cast<TokenObject *>(Lookup(handle, HostObject::kToken));
  if (!token) return FALSE;
  if (kind == TokenUser) {
    std::vector<BYTE> sid = BinarySid(token->user);
    *needed = DWORD(sizeof(TOKEN_USER) + sid.size());
    if (size < *needed || !buffer) return Refuse(ERROR_INSUFFICIENT_BUFFER);
    auto *user = static_cast<TOKEN_USER *>(buffer);
    BYTE *place = static_cast<BYTE *>(buffer) + sizeof(TOKEN_USER);
    memcpy(place, sid.data(), sid.size());
    user->User.Sid = place;
    user->User.Attributes = 0;
    return TRUE;
  }
  if (kind != TokenGroups) return Refuse(ERROR_INVALID_PARAMETER);
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

// The descriptor calls: NT only (GetProcAddress does not find them on the
// Windows 95 family), each holding its caller to the documented contract.

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR sd, DWORD revision) {
  securityCalls.push_back("InitializeSecurityDescriptor");
  if (revision != SECURITY_DESCRIPTOR_REVISION) return Refuse(ERROR_UNKNOWN_REVISION);
  *sd = SECURITY_DESCRIPTOR{};
  sd->Revision = SECURITY_DESCRIPTOR_REVISION;
  return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, BOOL present, PACL acl,
                                      BOOL defaulted) {
  securityCalls.push_back("SetSecurityDescriptorDacl");
  if (!ValidDescriptor(sd)) return Refuse(ERROR_INVALID_SECURITY_DESCR);
  sd->Control &= SECURITY_DESCRIPTOR_CONTROL(~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
  if (present) sd->Control |= SE_DACL_PRESENT;
  if (present && defaulted) sd->Control |= SE_DACL_DEFAULTED;
  sd->Dacl = present ? acl : nullptr;
  return TRUE;
}

// Only the inheritance bits may be set this way: SE_DACL_AUTO_INHERIT_REQ
// up to SE_SACL_PROTECTED.
BOOL WINAPI SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR sd,
                                         SECURITY_DESCRIPTOR_CONTROL interest,
                                         SECURITY_DESCRIPTOR_CONTROL bits) {
  securityCalls.push_back("SetSecurityDescriptorControl");
  const SECURITY_DESCRIPTOR_CONTROL settable = 0x3F00;
  if (!ValidDescriptor(sd)) return Refuse(ERROR_INVALID_SECURITY_DESCR);
  if ((interest | bits) & ~settable) return Refuse(ERROR_INVALID_PARAMETER);
  sd->Control = SECURITY_DESCRIPTOR_CONTROL((sd->Control & ~interest) | (bits & interest));
  return TRUE;
}

// The buffer lies on a DWORD boundary, holds at least the header and at
// most 64 KiB; revision 2 is the one every NT version knows.
BOOL WINAPI InitializeAcl(PACL acl, DWORD length, DWORD revision) {
  securityCalls.push_back("InitializeAcl");
  if (length < sizeof(ACL)) return Refuse(ERROR_INSUFFICIENT_BUFFER);
  if (length > 0xFFFF || revision != ACL_REVISION || (uintptr_t(acl) & 3) || length % 4) {
    return Refuse(ERROR_INVALID_PARAMETER);
  }
  *acl = ACL{};
  acl->AclRevision = BYTE(revision);
  acl->AclSize = WORD(length);
  return TRUE;
}

BOOL WINAPI AddAccessAllowedAce(PACL acl, DWORD revision, DWORD mask, PSID sid) {
  securityCalls.push_back("AddAccessAllowedAce");
  std::vector<AccessEntry> entries;
  if (!ReadAcl(acl, entries) || revision != acl->AclRevision) return Refuse(ERROR_INVALID_ACL);
  if (!ValidSid(sid)) return Refuse(ERROR_INVALID_SID);
  BYTE *at = reinterpret_cast<BYTE *>(acl) + sizeof(ACL);
  for (WORD i = 0; i < acl->AceCount; ++i) at += reinterpret_cast<ACE_HEADER *>(at)->AceSize;
  size_t size = offsetof(ACCESS_ALLOWED_ACE, SidStart) + SidLength(static_cast<BYTE *>(sid));
  if (at + size > reinterpret_cast<BYTE *>(acl) + acl->AclSize) {
    return Refuse(ERROR_ALLOTTED_SPACE_EXCEEDED);
  }
  auto *ace = reinterpret_cast<ACCESS_ALLOWED_ACE *>(at);
  ace->Header = ACE_HEADER{ACCESS_ALLOWED_ACE_TYPE, 0, WORD(size)};
  ace->Mask = mask;
  memcpy(&ace->SidStart, sid, SidLength(static_cast<BYTE *>(sid)));
  ++acl->AceCount;
  return TRUE;
}

BOOL WINAPI GetAce(PACL acl, DWORD index, LPVOID *ace) {
  securityCalls.push_back("GetAce");
  std::vector<AccessEntry> entries;
  if (!ReadAcl(acl, entries)) return Refuse(ERROR_INVALID_ACL);
  if (index >= acl->AceCount) return Refuse(ERROR_INVALID_PARAMETER);
  BYTE *at = reinterpret_cast<BYTE *>(acl) + sizeof(ACL);
  for (DWORD i = 0; i < index; ++i) at += reinterpret_cast<ACE_HEADER *>(at)->AceSize;
  *ace = at;
  return TRUE;
}

// Undefined for an invalid SID on Windows; here it fails loudly instead.
DWORD WINAPI GetLengthSid(PSID sid) {
  securityCalls.push_back("GetLengthSid");
  if (!ValidSid(sid)) {
    SetLastError(ERROR_INVALID_SID);
    return 0;
  }
  return DWORD(SidLength(static_cast<BYTE *>(sid)));
}
