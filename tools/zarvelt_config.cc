// zarvelt_config: enciphers and deciphers configuration values and writes or reads the
// configuration file. See zarvelt_config --help.
#include <iostream>
#include <string>
#include <vector>

#include "config_tool/config_tool.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return zarvelt::run_config_tool(arguments, std::cout, std::cerr);
}
