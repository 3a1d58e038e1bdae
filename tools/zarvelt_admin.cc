// zarvelt_admin: lays out an installation and sets up its database without hand-written SQL.
// See zarvelt_admin --help.
#include <iostream>
#include <string>
#include <vector>

#include "admin/admin_tool.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return zarvelt::admin::run_admin_tool(arguments, std::cout, std::cerr);
}
