// A scratch folder of the running test's own: tests run as parallel processes under ctest, so
// two tests must never share files.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace korvel::test {

/// KORVEL_TEST_TMPDIR / `area` / <suite>.<test>, created on demand.
inline std::filesystem::path ownTempDir(const std::string& area) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name =
        info ? std::string(info->test_suite_name()) + "." + info->name() : std::string("none");
    auto dir = std::filesystem::path(KORVEL_TEST_TMPDIR) / area / name;
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace korvel::test
