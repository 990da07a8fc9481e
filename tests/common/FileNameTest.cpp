#include "common/FileName.h"

#include <gtest/gtest.h>

using namespace vantorel;

TEST(FileName, HostileNamesAreRepairedToStayInsideTheFolder) {
    auto check = [](const std::string& wanted) {
        std::string name = safeFileName(wanted);
        EXPECT_FALSE(name.empty()) << wanted;
        EXPECT_EQ(name.find('/'), std::string::npos) << wanted;
        EXPECT_EQ(name.find('\\'), std::string::npos) << wanted;
        EXPECT_EQ(name.find(".."), std::string::npos) << wanted;
        EXPECT_LE(name.size(), kMaxFileNameBytes) << wanted;
        for (char c : name)
            EXPECT_GE(static_cast<unsigned char>(c), 0x20) << wanted;
        EXPECT_NE(name.front(), '.') << wanted;
        return name;
    };
    EXPECT_TRUE(check("../../etc/passwd_1.exe").ends_with("etc_passwd_1.exe"));
    EXPECT_TRUE(check("..\\..\\Windows\\x_1.exe").ends_with("Windows_x_1.exe"));
    EXPECT_EQ(check("a\r\nb_1\t.exe"), "a__b_1_.exe");
    EXPECT_EQ(check("CON_.exe"), "CON_.exe");
    EXPECT_EQ(check("con.exe"), "_con.exe");
    EXPECT_EQ(check("LPT1.exe"), "_LPT1.exe");
    EXPECT_EQ(check("..."), "__");
    EXPECT_EQ(check(""), "download");
    EXPECT_EQ(check("a:b*c?\"<>|.exe"), "a_b_c_____.exe");
    std::string longName;
    for (int i = 0; i < 200; ++i)
        longName += "长";
    std::string cut = check(longName + "_1.exe");
    EXPECT_TRUE(cut.ends_with(".exe"));
    EXPECT_EQ((cut.size() - 4) % 3, 0u); // never cut inside a character
    EXPECT_EQ(check(std::string("bad\xff\xfe.exe")), "bad__.exe");
    // Bidirectional controls go, so "\u202Eexe.txt" cannot pose as a text file.
    EXPECT_EQ(check("a\u202Aa\u202Bb\u202Cc\u202Dd\u202Eexe.txt_\u2066\u2067\u2068\u20691.exe"),
              "aabcdexe.txt_1.exe");
}
