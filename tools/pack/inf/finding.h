// One thing the INF checks found: an error stops `create` (the package would
// install nothing, or only part, and still end as if all went well); a
// warning may break on some systems; a note is for the author's eyes.
#ifndef VANTREL_PACK_INF_FINDING_H
#define VANTREL_PACK_INF_FINDING_H

#include <string>

namespace vantrel_pack {

struct InfFinding {
  enum Severity { kError, kWarning, kNote };
  Severity severity;
  std::string text;  // one sentence that names the fix
  // The Windows families whose road the finding concerns (kTargetNt,
  // kTarget9x): one outside the package's targets is only a note.
  unsigned families = 3;
};

// The Windows families a package is made for, as bits.
enum : unsigned { kTargetNt = 1, kTarget9x = 2, kTargetsAll = 3 };

}  // namespace vantrel_pack

#endif
