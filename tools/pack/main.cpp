// vantrel-pack: makes and checks Vantrel setup packages.
#include <iostream>

#include "commands/commands.h"

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return vantrel_pack::PackMain(args, std::cout, std::cerr);
}
