#include <cstdlib>
#include <iostream>

#include "tool/Tool.h"

int main(int argc, char** argv) {
  return RunTool(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr, std::cin,
                 std::getenv("ULKUSB_DEVICE"));
}
