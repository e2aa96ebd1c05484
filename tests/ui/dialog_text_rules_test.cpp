#include "ui/dialog_text_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace pelmo::ui {
namespace {

TEST(VersionDisplayText, PointAfterTheFirstCharacter) {
    EXPECT_EQ(VersionDisplayText(2010), "当前版本: 2.010");
    EXPECT_EQ(VersionDisplayText(7), "当前版本: 7.");
    EXPECT_EQ(VersionDisplayText(0), "当前版本: 0.");
    EXPECT_EQ(VersionDisplayText(12345), "当前版本: 1.2345");
    EXPECT_EQ(VersionDisplayText(-5), "当前版本: -.5");
    EXPECT_EQ(VersionDisplayText(std::numeric_limits<int32_t>::min()), "当前版本: -.2147483648");
}

TEST(DownloadedBytesShown, CurrentFractionScaledToThePackagePlusPackagesDone) {
    // Total 200 KB, first package 100 KB, half of it transferred.
    EXPECT_EQ(DownloadedBytesShown(500, 1000, 102400, 0, 204800), 51200);
    // Second package: the first one counts whole.
    EXPECT_EQ(DownloadedBytesShown(250, 1000, 102400, 102400, 204800), 128000);
    // Truncated toward zero.
    EXPECT_EQ(DownloadedBytesShown(1, 3, 100, 0, 1000), 33);
}

TEST(DownloadedBytesShown, NeverAboveTheTotal) {
    EXPECT_EQ(DownloadedBytesShown(5000, 1000, 102400, 102400, 204800), 204800);
    // A server sending more than it announced.
    EXPECT_EQ(DownloadedBytesShown(2e9f, 1, 3e9f, 2000000000, 204800), 204800);
    // Total 0 (a manifest without sizes): nothing shown above it.
    EXPECT_EQ(DownloadedBytesShown(10, 20, 0, 0, 0), 0);
}

TEST(DownloadedBytesShown, UnknownTransferSizeShowsThePackagesDone) {
    EXPECT_EQ(DownloadedBytesShown(4096, 0, 102400, 102400, 204800), 102400);
    EXPECT_EQ(DownloadedBytesShown(0, 0, 102400, 0, 204800), 0);
}

TEST(DownloadedBytesShown, NonFiniteAndHugeFiguresStayDefined) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(DownloadedBytesShown(inf, 1, 1, 10, 100), 10);
    EXPECT_EQ(DownloadedBytesShown(nan, 1, 1, 10, 100), 10);
    EXPECT_EQ(DownloadedBytesShown(1e30f, 1, 1, 0, std::numeric_limits<int32_t>::max()),
              2147483520);
    // A negative declared size (a hostile manifest) is shown as it computes.
    EXPECT_EQ(DownloadedBytesShown(1, 2, -1000, 0, 100), -500);
}

TEST(DownloadProgressText, KilobytesWithOneDecimal) {
    EXPECT_EQ(DownloadProgressText(51200, 204800), "3.下载升级包文件 ( 50.0k / 共200.0k )");
    EXPECT_EQ(DownloadProgressText(0, 1536), "3.下载升级包文件 ( 0.0k / 共1.5k )");
    EXPECT_EQ(DownloadProgressText(1023, 1023), "3.下载升级包文件 ( 1.0k / 共1.0k )");
    EXPECT_EQ(DownloadProgressText(2147483647, 2147483647),
              "3.下载升级包文件 ( 2097152.0k / 共2097152.0k )");
}

}  // namespace
}  // namespace pelmo::ui
