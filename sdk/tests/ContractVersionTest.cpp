#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sdk/ContractVersion.h"

using namespace sdk;

namespace {

TEST(ContractVersion, HostAcceptsItsOwnVersionAndModulesWithoutOneRefusesOthers) {
    const uint32_t same = kContractVersion;
    const uint32_t newer = kContractVersion + 1;
    const uint32_t older = kContractVersion - 1;
    const struct {
        const char* name;
        const void* symbol;
        bool accepted;
        bool declared;
        uint32_t moduleVersion;
    } rows[] = {
        {"no symbol", nullptr, true, false, 0},
        {"same version", &same, true, true, same},
        {"newer module", &newer, false, true, newer},
        {"older module", &older, false, true, older},
    };
    for (const auto& row : rows) {
        const ContractCheck check = checkModuleContract(row.symbol);
        EXPECT_EQ(check.accepted, row.accepted) << row.name;
        EXPECT_EQ(check.declared, row.declared) << row.name;
        EXPECT_EQ(check.moduleVersion, row.moduleVersion) << row.name;
    }
}

TEST(ContractVersion, RefusalLineNamesTheModuleAndBothVersions) {
    char line[256];
    const int length = formatContractRefusal(line, sizeof line, "walker", 7, 3);
    ASSERT_GT(length, 0);
    ASSERT_LT(length, static_cast<int>(sizeof line));
    const std::string text = line;
    EXPECT_NE(text.find("\"walker\""), std::string::npos) << text;
    EXPECT_NE(text.find("version 7"), std::string::npos) << text;
    EXPECT_NE(text.find("version 3"), std::string::npos) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos) << "one line; the host adds the newline";
}

} // namespace
