// The INF reader and the checks `create` and `inspect` run, over arbitrary
// text and member lists. The input is a control byte, the INF's bytes, and
// after the last NUL byte (if any) the archive's member names, one a line.
// Control bits 0-1 pick the INF's name (at the top, in a folder, long with
// a blank, a device name), bit 2 the advpack road, bits 3-4 the targets.
//
// Whatever the input, reading and checking must end without a memory fault,
// in time linear in the input, and with bounded output: at most about a
// hundred problems, and every section found again by its own name.
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "cli/text.h"
#include "inf/check.h"
#include "inf/file.h"
#include "inf/roads.h"

namespace {

void Fail(const char *why) {
  fprintf(stderr, "fuzz_inf: %s\n", why);
  abort();
}

const char *const kInfNames[] = {"setup.inf", "app\\setup.inf", "Acme Mines Setup.inf", "aux.inf"};
const unsigned kTargets[] = {0, vantrel_pack::kTargetNt, vantrel_pack::kTarget9x,
                             vantrel_pack::kTargetsAll};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const unsigned control = data[0];
  std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
  vantrel_pack::InfSubject subject;
  size_t nul = rest.rfind('\0');
  if (nul != std::string::npos) {
    std::string names = rest.substr(nul + 1);
    rest.resize(nul);
    size_t at = 0;
    while (at <= names.size()) {
      size_t end = names.find('\n', at);
      if (end == std::string::npos) end = names.size();
      subject.members.push_back(names.substr(at, end - at));
      at = end + 1;
    }
  }
  subject.infName = kInfNames[control & 3];
  subject.infText = rest;
  subject.useAdvpack = (control & 4) != 0;
  subject.targets = kTargets[(control >> 3) & 3];

  vantrel_pack::InfFile inf = vantrel_pack::ParseInf(rest);
  if (inf.problems.size() > 101) Fail("more problems kept than the reader's limit");
  for (const vantrel_pack::InfSection &section : inf.sections) {
    const vantrel_pack::InfSection *found = inf.Find(section.name);
    if (!found || vantrel_pack::FoldCase(found->name) != vantrel_pack::FoldCase(section.name)) {
      Fail("a section is not found by its own name");
    }
  }
  std::vector<vantrel_pack::InfFinding> findings = vantrel_pack::CheckInf(subject);
  if (findings.size() > 1000) Fail("unbounded findings");
  for (const vantrel_pack::InfFinding &finding : findings) {
    if (finding.text.empty()) Fail("a finding without text");
  }
  return 0;
}
