#include "admin.h"

#include "../core/access_token.h"
#include "../core/program_state.h"
#include "../core/runtime.h"
#include "../core/windows_family.h"

namespace {
bool GroupsHoldAdministrators(const TOKEN_GROUPS *groups) {
  SID_IDENTIFIER_AUTHORITY ntAuthority = {{0, 0, 0, 0, 0, 5}};
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
    return false;
  }
  bool found = false;
  for (DWORD i = 0; i < groups->GroupCount && !found; ++i) {
    found = EqualSid(groups->Groups[i].Sid, administrators) != 0;
  }
  FreeSid(administrators);
  return found;
}
}  // namespace

bool IsAdmin() {
  // Only the NT family keeps access tokens.
  if (!IsWindowsNT()) return true;
  HANDLE token = OpenQueryToken();
  if (!token) return false;
  auto *groups = static_cast<TOKEN_GROUPS *>(ReadTokenInformation(token, TokenGroups));
  bool result = groups && GroupsHoldAdministrators(groups);
  ReleaseBlock(groups);
  CloseHandle(token);
  return result;
}
