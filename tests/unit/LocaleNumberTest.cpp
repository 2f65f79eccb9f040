// Numbers keep their '.' under a comma-decimal locale (de_DE.UTF-8, which
// scripts/install-deps.sh generates): the parse and format helpers, the trace,
// the readout lines and the registration edits' numbers.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <string>

#include "ProcessLocale.h"
#include "TraceCapture.h"
#include "core/Flags.h"
#include "core/NumberText.h"
#include "core/Trace.h"
#include "registration/RegGeometry.h"
#include "views/ReadoutWorker.h"

namespace {

std::string decimalPoint() {
    return std::localeconv()->decimal_point;
}

// Each case runs in the C locale and in the comma locale; the results must
// not differ. The second check proves the comma locale really is in force.
class EveryLocale : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        ASSERT_TRUE(locale.active())
            << GetParam() << " is not available: run scripts/install-deps.sh";
        ASSERT_EQ(decimalPoint(), std::string(GetParam()) == "C" ? "." : ",");
    }
    ProcessLocale locale{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Locales, EveryLocale, ::testing::Values("C", kCommaLocale),
                         [](const auto& info) {
                             return std::string(info.param[0] == 'C' ? "C" : "Comma");
                         });

TEST_P(EveryLocale, ParseAsAtofDoesInTheCLocale) {
    const double inf = HUGE_VAL;
    struct Case {
        const char* text;
        double leading;  // leadingNumber, and ParseEditNumber of the dialogs
        bool whole;      // parseNumber accepts it (with the same value)
    };
    const Case cases[] = {
        {"2.8", 2.8, true},
        {"0.76", 0.76, true},
        // A comma is no decimal point: the number ends before it.
        {"2,8", 2.0, false},
        {",8", 0.0, false},
        {"-1.4", -1.4, true},
        {"+3", 3.0, true},
        {"1e3", 1000.0, true},
        {"2.5E-2", 0.025, true},
        {"1e", 1.0, false},  // an exponent without digits is not part of it
        {"0x1p3", 8.0, true},
        {"-0x10", -16.0, true},
        {"0x", 0.0, false},  // the 0 alone: no hexadecimal digit follows
        {"++3", 0.0, false},
        {"1e999", inf, true},  // past the range: infinity, as the C library gives
        {"-1e5000", -inf, true},
        {"1e-999", 0.0, true},  // below the smallest: zero
        {"inf", inf, true},
        {" \t\n2.8", 2.8, true},  // blanks before, as atof skips them
        {"2.8 ", 2.8, false},     // but nothing after
        {"1.4x", 1.4, false},
        {"abc", 0.0, false},
        {"", 0.0, false},
        {".", 0.0, false},
        {"-", 0.0, false},
        {" ", 0.0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(leadingNumber(c.text), c.leading) << '"' << c.text << '"';
        EXPECT_EQ(ParseEditNumber(c.text), c.leading) << '"' << c.text << '"';
        double value = -7.0;
        EXPECT_EQ(parseNumber(c.text, value), c.whole) << '"' << c.text << '"';
        EXPECT_EQ(value, c.whole ? c.leading : -7.0) << '"' << c.text << '"';
    }
    EXPECT_EQ(leadingNumber(nullptr), 0.0);
    EXPECT_EQ(ParseEditNumber(nullptr), 0.0);
    double value = -7.0;
    EXPECT_FALSE(parseNumber(nullptr, value));
    EXPECT_TRUE(std::isnan(leadingNumber("nan")));
    // The helpers leave the thread in the locale they found it in.
    EXPECT_EQ(decimalPoint(), std::string(GetParam()) == "C" ? "." : ",");
}

TEST_P(EveryLocale, FormatAsPrintfDoesInTheCLocale) {
    EXPECT_EQ(formatC("%.02f|%f|%g|%e|%.3g|%a", 2.8, -0.76, 0.025, 1500.0, 1e-7, 0.5),
              "2.80|-0.760000|0.025|1.500000e+03|1e-07|0x1p-1");
    EXPECT_EQ(formatC("%d %s %9.6f", -12, "m", 2.8), "-12 m  2.800000");
    EXPECT_EQ(formatC("%s", ""), "");
    // Both sides of the on-stack text (255 characters fit).
    for (size_t fill : {252u, 253u, 1000u}) {
        const std::string text = formatC("%s%.1f", std::string(fill, 'x').c_str(), 2.5);
        EXPECT_EQ(text.size(), fill + 3);
        EXPECT_EQ(text.substr(fill), "2.5");
    }
    char buffer[8];
    EXPECT_EQ(snprintfC(buffer, sizeof buffer, "[%.3f]", 12.5), 8);  // cut: as snprintf
    EXPECT_STREQ(buffer, "[12.500");
    {
        CLocaleScope outer;
        CLocaleScope inner;
        EXPECT_EQ(decimalPoint(), ".");
    }
    EXPECT_EQ(decimalPoint(), std::string(GetParam()) == "C" ? "." : ",");
}

TEST_P(EveryLocale, TraceLinesKeepTheirPoint) {
    TraceCapture trace;
    tracef("%.02f %.02f %.02f %.02f \n", -1.31, 1.31, -1.96, 1.96);
    traceErrf("install height %.02f refused\n", -2.8);
    // Longer than the trace's on-stack line.
    const std::string path(510, 'p');
    tracef("%s %g\n", path.c_str(), 0.5);
    EXPECT_EQ(trace.out(), "-1.31 1.31 -1.96 1.96 \n" + path + " 0.5\n");
    EXPECT_EQ(trace.err(), "install height -2.80 refused\n");

    // A trace of the registration geometry, as the dialog makes it.
    trace.clear();
    RegMatrix reg = FactoryRegMatrix(), disp = FactoryRegMatrix();
    RegGeometry geo(reg, disp);
    EXPECT_TRUE(geo.SetInstallHeight(ParseEditNumber("2.8")));
    EXPECT_EQ(reg.m23(), 2.8f);
    EXPECT_FALSE(geo.SetGate(ParseEditNumber("1.4"), ParseEditNumber("-0.76")));
    EXPECT_EQ(trace.out(), "-1.31 1.31 -1.96 1.96 \ngate size 1.40 x -0.76 refused\n");
}

TEST_P(EveryLocale, ReadoutLinesKeepTheirPoint) {
    ObjRecord person;
    person.index = 12, person.kind = 2, person.area = 3, person.value = 1.756f;
    person.x1 = 0.1f, person.y1 = -0.25f, person.x2 = 0.5f, person.y2 = 0.125f;
    ObjRecord object = person;
    object.kind = -3, object.value = 0.0264f;
    g_uiChinese = true;
    EXPECT_EQ(ReadoutLine(person),
              "[12][2][人],区域[3],坐标[0.10 -0.25][0.50 0.12],身高[1.76]米\r\n");
    EXPECT_EQ(HeightLine(1.755f), "输出身高[1.75]米    \n");
    g_uiChinese = false;
    EXPECT_EQ(ReadoutLine(person),
              "[12][2][person],area[3],pos[0.10 -0.25][0.50 0.12],hei[1.76]m\r\n");
    EXPECT_EQ(ReadoutLine(object),
              "[-3][obj],area[3],pos[0.10 -0.25][0.50 0.12],v[0.026400]m3\r\n");
    EXPECT_EQ(HeightLine(2.8f), "output height[2.80]m    \n");
    g_uiChinese = true;
}

}  // namespace
