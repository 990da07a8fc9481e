#include "update/CleanupScript.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

using namespace vantorel::update;
namespace fs = std::filesystem;

TEST(CleanupScript, VbsHasExactlyTheFiveLines) {
    auto text = cleanupVbsText("C:\\App\\old.exe", "C:\\App\\tem.vbs");
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(*text, "  Dim fso\r\n"
                     "  Set fso = CreateObject(\"Scripting.FileSystemObject\")\r\n"
                     "  Wscript.Sleep(1000)\r\n"
                     "  fso.DeleteFile(\"C:\\App\\old.exe\")\r\n"
                     "  fso.DeleteFile(\"C:\\App\\tem.vbs\")");
}

TEST(CleanupScript, PathsCannotBreakOutOfTheirLiterals) {
    // A quote is doubled, as VBScript spells it inside a literal.
    auto vbs = cleanupVbsText(R"(C:\a") : CreateObject("WScript.Shell").Run("calc)", "C:\\tem.vbs");
    ASSERT_TRUE(vbs.ok());
    EXPECT_NE(
        vbs->find(R"(fso.DeleteFile("C:\a"") : CreateObject(""WScript.Shell"").Run(""calc"))"),
        std::string::npos);
    // A literal cannot hold a line break: refused, not written.
    EXPECT_FALSE(cleanupVbsText("C:\\a\r\nWscript.Quit", "C:\\tem.vbs").ok());
    EXPECT_FALSE(cleanupVbsText("C:\\a", "C:\\x\n.vbs").ok());

    auto sh = cleanupShellText("/tmp/it's $(x)", "/tmp/tem.sh");
    ASSERT_TRUE(sh.ok());
    EXPECT_EQ(*sh, "sleep 1\nrm -f -- '/tmp/it'\\''s $(x)'\nrm -f -- '/tmp/tem.sh'\n");
    EXPECT_FALSE(cleanupShellText(std::string("/tmp/a\0b", 8), "/tmp/tem.sh").ok());
}

TEST(CleanupScript, TheStepDeletesTheFileAndThenItself) {
    fs::path folder =
        fs::temp_directory_path() / ("vantorel-cleanup-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    // A name that would run a command if the shell ever read it unquoted.
    fs::path victim = folder / "old program's $(touch injected) \"x\".bin";
    fs::path bystander = folder / "keep.txt";
    std::ofstream(victim) << "old";
    std::ofstream(bystander) << "keep";

    auto script = startCleanup(victim.string());
    ASSERT_TRUE(script.ok()) << script.error().message;
    EXPECT_EQ(*script, (folder / "tem.sh").string());

    // The step sleeps a second first; allow it plenty of time on a busy machine.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((fs::exists(victim) || fs::exists(*script)) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(fs::exists(victim));
    EXPECT_FALSE(fs::exists(*script));
    EXPECT_TRUE(fs::exists(bystander));
    EXPECT_FALSE(fs::exists(folder / "injected"));
    EXPECT_FALSE(fs::exists("injected"));
    fs::remove_all(folder);
}

TEST(CleanupScript, RefusesWhatIsNotAnExistingFile) {
    EXPECT_FALSE(startCleanup("relative/file").ok());
    EXPECT_FALSE(startCleanup("/nonexistent/vantorel/file").ok());
    EXPECT_FALSE(startCleanup(fs::temp_directory_path().string()).ok());
}
