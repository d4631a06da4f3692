#include <cstdio>
#include <gtest/gtest.h>
#include <string>

#include "driver/listing.h"

namespace {

std::string ratio_text(int64_t numerator, int64_t denominator) {
    char buffer[64] = {};
    FILE* out = fmemopen(buffer, sizeof buffer - 1, "w");
    sxpak::print_ratio(numerator, denominator, out);
    fclose(out);
    return buffer;
}

// A blank (or minus) sign column, then "%2d.%1d%%".
TEST(PrintRatio, TenthsOfAPercentInEveryBranch) {
    struct Case {
        int64_t numerator, denominator;
        const char* text;
    } cases[] = {
        {0, 0, "  0.0%"},           {500, 1000, " 50.0%"},         {-250, 1000, "-25.0%"},
        {1, 3, " 33.3%"},          {1500000, 3000000, " 50.0%"},  {2147482, 2147482, " 100.0%"},
        {999, 2147483, "  0.0%"},   {-5, -10, " 50.0%"},           {7, 0, "  0.0%"},
    };
    for (const auto& c : cases) EXPECT_EQ(ratio_text(c.numerator, c.denominator), c.text) << c.numerator << "/" << c.denominator;
}

}  // namespace
