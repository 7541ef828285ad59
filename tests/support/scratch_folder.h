// A private folder for one test's files, made fresh under the system's
// temporary folder and removed with everything in it when the test is done.
#ifndef VANTREL_TEST_SCRATCH_FOLDER_H
#define VANTREL_TEST_SCRATCH_FOLDER_H

#include <string>

namespace testing_support {

class ScratchFolder {
 public:
  // `purpose` names the folder (vantrel-PURPOSE-XXXXXX), so that one left
  // behind by a crash tells where it came from. Aborts when none can be made.
  explicit ScratchFolder(const std::string &purpose);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder &) = delete;
  ScratchFolder &operator=(const ScratchFolder &) = delete;

  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace testing_support

#endif
