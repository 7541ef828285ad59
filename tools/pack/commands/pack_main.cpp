#include <iostream>

#include "commands.h"
#include "cli/errors.h"

namespace vantrel_pack {
namespace {

struct Command {
  const char *name;
  int (*run)(const std::vector<std::string> &, std::ostream &, std::ostream &);
  const char *(*help)();
  const char *summary;
};

// The commands; a new one is one more row.
const Command kCommands[] = {
    {"create", RunCreate, CreateHelp, "make a package from a folder or a .zip file"},
    {"inspect", RunInspect, InspectHelp, "show a package as the stub will read it"},
    {"test", RunTest, TestHelp, "test that the stub would extract every member"},
    {"extract", RunExtract, ExtractHelp, "extract a package with the stub's own walk"},
    {"inf", RunInf, InfHelp, "write an INF file that installs a folder"},
};

void PrintToolHelp(std::ostream &out) {
  out << "usage: vantrel-pack COMMAND [options] ...\n\n"
         "Makes and checks Vantrel setup packages: the stub vantrel-stub.exe followed\n"
         "by a package header and a zip archive.\n\ncommands:\n";
  for (const Command &command : kCommands) {
    out << "  " << command.name << std::string(10 - std::string(command.name).size(), ' ')
        << command.summary << "\n";
  }
  out << "\n`vantrel-pack COMMAND --help` describes the options of each command.\n\n";
  for (const Command &command : kCommands) out << command.help() << "\n";
}

bool WantsHelp(const std::vector<std::string> &args) {
  for (const std::string &arg : args) {
    if (arg == "--") return false;
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

}  // namespace

int PackMain(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  if (args.empty()) {
    err << "vantrel-pack: no command given (try vantrel-pack --help)\n";
    return 2;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintToolHelp(out);
    return 0;
  }
  for (const Command &command : kCommands) {
    if (args[0] != command.name) continue;
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (WantsHelp(rest)) {
      out << command.help();
      return 0;
    }
    try {
      return command.run(rest, out, err);
    } catch (const UsageError &e) {
      err << "vantrel-pack " << command.name << ": " << e.what() << " (try vantrel-pack "
          << command.name << " --help)\n";
      return 2;
    } catch (const PackError &e) {
      err << "vantrel-pack " << command.name << ": " << e.what() << "\n";
      return 1;
    } catch (const std::exception &e) {
      err << "vantrel-pack " << command.name << ": " << e.what() << "\n";
      return 1;
    }
  }
  err << "vantrel-pack: unknown command \"" << args[0] << "\" (try vantrel-pack --help)\n";
  return 2;
}

}  // namespace vantrel_pack
