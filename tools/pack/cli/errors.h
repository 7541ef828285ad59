// Failures of the packaging tool. A PackError is bad input or a failed
// file operation (exit status 1); a UsageError is a malformed command line
// (exit status 2). Both carry the one-line message shown on stderr.
#ifndef VANTREL_PACK_CLI_ERRORS_H
#define VANTREL_PACK_CLI_ERRORS_H

#include <stdexcept>
#include <string>

namespace vantrel_pack {

class PackError : public std::runtime_error {
 public:
  explicit PackError(const std::string &message) : std::runtime_error(message) {}
};

class UsageError : public std::runtime_error {
 public:
  explicit UsageError(const std::string &message) : std::runtime_error(message) {}
};

}  // namespace vantrel_pack

#endif
