#include <iostream>

#include "objtool/objtool.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return downloader::objtool::RunObjtool(args, std::cout, std::cerr);
}
