#pragma once

#include <gtest/gtest.h>

#include <string>

namespace morvane::test {

// Names each case of a parameterised suite after the `name` member of its parameter.
struct CaseName {
    template <typename Param> std::string operator()(const testing::TestParamInfo<Param>& param) const {
        return param.param.name;
    }
};

} // namespace morvane::test
