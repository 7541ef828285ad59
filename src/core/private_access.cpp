#include "private_access.h"

#include "access_token.h"
#include "runtime.h"
#include "system_function.h"
#include "text.h"

// Windows 95 and 98 have none of these calls, and its advapi32 does not
// export all of them: they are looked up at run time, so that the program
// still loads there (it never builds the descriptor on that family).
namespace {
typedef BOOL(WINAPI *InitializeSecurityDescriptorCall)(PSECURITY_DESCRIPTOR, DWORD);
typedef BOOL(WINAPI *SetSecurityDescriptorDaclCall)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
typedef BOOL(WINAPI *SetSecurityDescriptorControlCall)(PSECURITY_DESCRIPTOR,
                                                       SECURITY_DESCRIPTOR_CONTROL,
                                                       SECURITY_DESCRIPTOR_CONTROL);
typedef BOOL(WINAPI *InitializeAclCall)(PACL, DWORD, DWORD);
typedef BOOL(WINAPI *AddAccessAllowedAceCall)(PACL, DWORD, DWORD, PSID);
typedef BOOL(WINAPI *GetAceCall)(PACL, DWORD, LPVOID *);
typedef DWORD(WINAPI *GetLengthSidCall)(PSID);

const char kSecurityDll[] = "advapi32.dll";
// Full control, for the folder and, inherited, for what is made in it.
const DWORD kFullControl = FILE_ALL_ACCESS;
const BYTE kPassedToFilesAndFolders = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
const DWORD kMembers = 3;

template <typename Call>
Call SecurityFunction(const char *name) {
  return SystemFunction<Call>(kSecurityDll, name);
}

PSID NtAuthoritySid(BYTE count, DWORD first, DWORD second) {
  SID_IDENTIFIER_AUTHORITY ntAuthority = {{0, 0, 0, 0, 0, 5}};
  PSID sid = nullptr;
  if (!AllocateAndInitializeSid(&ntAuthority, count, first, second, 0, 0, 0, 0, 0, 0, &sid)) {
    return nullptr;
  }
  return sid;
}

// The list: one entry allowing full control to each member, passed on to
// everything made inside.
bool BuildAccessList(PrivateAccess &access, PSID members[kMembers]) {
  auto lengthOf = SecurityFunction<GetLengthSidCall>("GetLengthSid");
  auto initialize = SecurityFunction<InitializeAclCall>("InitializeAcl");
  auto allow = SecurityFunction<AddAccessAllowedAceCall>("AddAccessAllowedAce");
  auto entryAt = SecurityFunction<GetAceCall>("GetAce");
  if (!lengthOf || !initialize || !allow || !entryAt) return false;
  DWORD size = sizeof(ACL);
  for (DWORD i = 0; i < kMembers; ++i) {
    size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + lengthOf(members[i]);
  }
  access.acl = static_cast<ACL *>(AllocateBlock(size));
  if (!initialize(access.acl, size, ACL_REVISION)) return false;
  for (DWORD i = 0; i < kMembers; ++i) {
    void *entry = nullptr;
    if (!allow(access.acl, ACL_REVISION, kFullControl, members[i]) ||
        !entryAt(access.acl, i, &entry)) {
      return false;
    }
    static_cast<ACE_HEADER *>(entry)->AceFlags = kPassedToFilesAndFolders;
  }
  return true;
}
}  // namespace

bool BuildPrivateAccess(PrivateAccess &access) {
  FillBytes(&access, 0, sizeof access);
  HANDLE token = OpenQueryToken();
  if (token) {
    access.user = static_cast<TOKEN_USER *>(ReadTokenInformation(token, TokenUser));
    CloseHandle(token);
  }
  access.system = NtAuthoritySid(1, SECURITY_LOCAL_SYSTEM_RID, 0);
  access.administrators = NtAuthoritySid(2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
  if (!access.user || !access.system || !access.administrators) return false;
  PSID members[kMembers] = {access.user->User.Sid, access.system, access.administrators};
  if (!BuildAccessList(access, members)) return false;

  auto initialize =
      SecurityFunction<InitializeSecurityDescriptorCall>("InitializeSecurityDescriptor");
  auto setList = SecurityFunction<SetSecurityDescriptorDaclCall>("SetSecurityDescriptorDacl");
  if (!initialize || !setList || !initialize(&access.descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !setList(&access.descriptor, TRUE, access.acl, FALSE)) {
    return false;
  }
  // From Windows 2000 on, the entries the folder above passes down are
  // merged into a list given at creation unless it is protected. NT 4.0
  // has neither the call nor the merging: a list given there is taken as
  // it stands.
  auto setControl =
      SecurityFunction<SetSecurityDescriptorControlCall>("SetSecurityDescriptorControl");
  if (setControl && !setControl(&access.descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return false;
  }
  access.attributes.nLength = sizeof access.attributes;
  access.attributes.lpSecurityDescriptor = &access.descriptor;
  access.attributes.bInheritHandle = FALSE;
  return true;
}

void ReleasePrivateAccess(PrivateAccess &access) {
  if (access.system) FreeSid(access.system);
  if (access.administrators) FreeSid(access.administrators);
  ReleaseBlock(access.user);
  ReleaseBlock(access.acl);
  FillBytes(&access, 0, sizeof access);
}
