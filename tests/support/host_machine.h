// A fresh host machine for each test: the platform driver reset, the
// program state zeroed, and a scratch folder mapped as drive C:.
#ifndef VANTREL_TEST_SCRATCH_H
#define VANTREL_TEST_SCRATCH_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/driver.h"
#include "core/program_state.h"
#include "support/scratch_folder.h"

namespace testing_support {

class HostMachine : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // POSIX path of a file or folder under the scratch drive C:.
  std::string Posix(const std::string &relative) const;
  void WriteFile(const std::string &relative, const std::vector<unsigned char> &bytes) const;
  void WriteFile(const std::string &relative, const std::string &text) const;
  std::vector<unsigned char> ReadFile(const std::string &relative) const;
  bool Exists(const std::string &relative) const;
  void MakeFolder(const std::string &relative) const;
  // A 16-bit Windows program (an MS-DOS header leading to "NE"), as
  // rundll.exe is on Windows 95/98.
  void WriteSixteenBitProgram(const std::string &relative) const;
  // Every file and folder under the scratch root, as relative POSIX paths.
  std::vector<std::string> Tree() const;

  // The program's own procedures allocate their buffers and the CRC table
  // as the entry routine would.
  void PrepareProgram();

  std::unique_ptr<ScratchFolder> scratch_;
  std::string root_;
};

// Reads a whole file (POSIX path).
std::vector<unsigned char> ReadBytes(const std::string &path);

}  // namespace testing_support

#endif
