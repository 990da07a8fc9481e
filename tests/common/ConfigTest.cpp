#include "common/Config.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace vantorel;

TEST(Config, InProcessOverrideWinsOverEnvironmentAndIsRemovable) {
    ::setenv("VANTOREL_LOGO_BASE", "http://env.example:1/", 1);
    EXPECT_EQ(config::logoBase(), "http://env.example:1"); // trailing slash dropped
    config::set("VANTOREL_LOGO_BASE", "http://127.0.0.1:9");
    EXPECT_EQ(config::logoBase(), "http://127.0.0.1:9");
    config::unset("VANTOREL_LOGO_BASE");
    EXPECT_EQ(config::logoBase(), "http://env.example:1");
    ::unsetenv("VANTOREL_LOGO_BASE");
}

TEST(Config, ShareHostsAreSplitAndTrimmed) {
    config::set("VANTOREL_SHARE_HOSTS", " a.example ,b.example,, c.example");
    EXPECT_EQ(config::shareHosts(),
              (std::vector<std::string>{"a.example", "b.example", "c.example"}));
    config::set("VANTOREL_SHARE_HOSTS", "");
    EXPECT_TRUE(config::shareHosts().empty());
    config::unset("VANTOREL_SHARE_HOSTS");
}

TEST(Config, ShareBaseFallsBackToTheLinksOwnHost) {
    config::set("VANTOREL_SHARE_BASE", "");
    EXPECT_EQ(config::shareBase("share.example"), "https://share.example");
    config::set("VANTOREL_SHARE_BASE", "http://127.0.0.1:5/");
    EXPECT_EQ(config::shareBase("share.example"), "http://127.0.0.1:5");
    config::unset("VANTOREL_SHARE_BASE");
}

TEST(Config, IniPathFollowsOverrideThenXdgConfigHome) {
    config::set("VANTOREL_INI", "");
    config::set("XDG_CONFIG_HOME", "/tmp/xdg");
    EXPECT_EQ(config::iniPath(), "/tmp/xdg/Vantorel/Vantorel.ini");
    config::set("XDG_CONFIG_HOME", "relative/xdg");
    config::set("HOME", "/home/u");
    EXPECT_EQ(config::iniPath(), "/home/u/.config/Vantorel/Vantorel.ini");
    // HOME unset or relative: the account's home, never the working folder.
    for (const char* home : {"", "relative/home"}) {
        config::set("HOME", home);
        EXPECT_EQ(config::homeFolder().front(), '/') << home;
        EXPECT_EQ(config::iniPath(), config::homeFolder() + "/.config/Vantorel/Vantorel.ini");
    }
    config::set("VANTOREL_INI", "/tmp/x.ini");
    EXPECT_EQ(config::iniPath(), "/tmp/x.ini");
    config::unset("VANTOREL_INI");
    config::unset("XDG_CONFIG_HOME");
    config::unset("HOME");
}
