// The commands of vantrel-pack. Each lives in its own file and takes the
// words after its name; PackMain picks one by the first word.
//
// To add a command: write Run<Name> and <Name>Help in <name>.cpp, declare
// them here and add a row to the table in pack_main.cpp. Commands that read
// packages use ReadPackage from package/reader.h; whatever they need of the
// stub comes through bridge/.
#ifndef VANTREL_PACK_COMMANDS_COMMANDS_H
#define VANTREL_PACK_COMMANDS_COMMANDS_H

#include <ostream>
#include <string>
#include <vector>

namespace vantrel_pack {

// Each returns the exit status, or throws PackError (status 1) or
// UsageError (status 2).
int RunCreate(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);
int RunInspect(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);
int RunExtract(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);
int RunTest(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);
int RunInf(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

const char *CreateHelp();
const char *InspectHelp();
const char *ExtractHelp();
const char *TestHelp();
const char *InfHelp();

// The whole tool, with the standard streams given (tests capture them).
int PackMain(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

}  // namespace vantrel_pack

#endif
