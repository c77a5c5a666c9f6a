// The password value is wiped from the argument memory itself, every other byte kept.
#include "common/hidden_arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelvik::common {
namespace {

TEST(HiddenArguments, PasswordValuesAreWipedInPlace) {
    // One block, as the kernel lays out argv: strings one after the other.
    std::string block("zelvik\0ODBC=qsx\0password=s3cret\0DATA=/d\0PASSWORD=\0PASSWORD=x\0", 61);
    std::vector<char*> argv;
    for (size_t at = 0; at < block.size(); at += std::string(block.data() + at).size() + 1)
        argv.push_back(block.data() + at);
    ASSERT_EQ(argv.size(), 6u);
    EXPECT_EQ(hide_password_arguments(static_cast<int>(argv.size()), argv.data()), 2);
    EXPECT_EQ(block, std::string("zelvik\0ODBC=qsx\0password=\0\0\0\0\0\0\0DATA=/d\0PASSWORD=\0"
                                 "PASSWORD=\0\0",
                                 61));
    EXPECT_EQ(block.find("s3cret"), std::string::npos);
    EXPECT_EQ(hide_password_arguments(0, nullptr), 0);
}

}  // namespace
}  // namespace zelvik::common
