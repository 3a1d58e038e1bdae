// The fixed Windows paths and where they are on this host.
#include "driver/fixed_paths.h"

#include <gtest/gtest.h>

namespace zarvelt {
namespace {

TEST(FixedPathsTest, BackslashesBecomeHostSeparators) {
#ifdef _WIN32
  EXPECT_EQ(host_path(kConfigFileWindowsPath), "..\\..\\Files\\velmarion.ini");
#else
  EXPECT_EQ(host_path(kConfigFileWindowsPath), "../../Files/velmarion.ini");
  EXPECT_EQ(host_path(kTransferLogWindowsPath), "../../Velmarion_php/log/ZarveltLog.txt");
  EXPECT_EQ(host_path("..\\..\\Velmarion_php\\log\\ZarveltLog_bak.txt"),
            "../../Velmarion_php/log/ZarveltLog_bak.txt");
#endif
}

}  // namespace
}  // namespace zarvelt
