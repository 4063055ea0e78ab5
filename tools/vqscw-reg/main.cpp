// vqscw-reg: reads and writes the machine's registry; see reg_tool.h.
#include <iostream>
#include <string>
#include <vector>

#include "tools/vqscw-reg/reg_tool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return vqscw::RunRegTool(args, std::cout, std::cerr);
}
