// The zelvik-store program: everything lives in run_store_tool.
#include <iostream>

#include "tools/store_tool.h"

int main(int argc, char** argv) {
    return zelvik::tools::run_store_tool(std::vector<std::string>(argv, argv + argc), std::cout,
                                         std::cerr);
}
