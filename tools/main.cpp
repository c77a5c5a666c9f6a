// The zelvik-store program: everything lives in run_store_tool.
#include <iostream>

#include "common/hidden_arguments.h"
#include "tools/store_tool.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    zelvik::common::hide_password_arguments(argc, argv);
    return zelvik::tools::run_store_tool(args, std::cout, std::cerr);
}
