// The update's hand-off to its waiter: the command line that carries it, the
// exit codes that mean the installation finished, the names of its folder.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "handover/hand_off.h"

namespace {

const char kWaiter[] = "C:\\Temp\\~halvotren_update0\\Halvotren.exe";
const char kProgram[] = "C:\\Program Files\\Halvotren\\Halvotren.exe";

int Read(const std::string &line, unsigned *process = nullptr, unsigned *package = nullptr,
         char *program = nullptr)
{
    unsigned p = 0, q = 0;
    char path[WAITER_PATH_SIZE] = "";
    const int read = ReadWaiterCommandLine(line.c_str(), &p, &q, path);
    if (process)
        *process = p;
    if (package)
        *package = q;
    if (program)
        strcpy(program, path);
    return read;
}

}  // namespace

TEST(WaiterCommandLine, ReadsBackExactlyWhatIsWritten)
{
    char line[600];
    ASSERT_TRUE(FormatWaiterCommandLine(line, sizeof line, kWaiter, 124, 4294967292u, kProgram));
    EXPECT_STREQ("\"C:\\Temp\\~halvotren_update0\\Halvotren.exe\" /update-waiter 124 4294967292 "
                 "\"C:\\Program Files\\Halvotren\\Halvotren.exe\"",
                 line);
    unsigned process = 0, package = 0;
    char program[WAITER_PATH_SIZE];
    ASSERT_EQ(WAITER_ORDERS, Read(line, &process, &package, program));
    EXPECT_EQ(124u, process);
    EXPECT_EQ(4294967292u, package);
    EXPECT_STREQ(kProgram, program);
    // The program's own name may come unquoted.
    EXPECT_EQ(WAITER_ORDERS, Read("Halvotren.exe /update-waiter 8 12 \"C:\\H.exe\""));
    EXPECT_FALSE(FormatWaiterCommandLine(line, 40, kWaiter, 124, 128, kProgram));
}

TEST(WaiterCommandLine, AnyOtherFirstArgumentIsReadAsNoWaiter)
{
    for (const char *line : {"Halvotren.exe", "\"C:\\a b\\Halvotren.exe\"", "\"C:\\a b\\Halvotren.exe\" ",
                             "Halvotren.exe /update-waiters 8 12 \"C:\\H.exe\"", "Halvotren.exe /UPDATE-WAITER",
                             "Halvotren.exe update-waiter 8 12 \"C:\\H.exe\"", "\"unclosed /update-waiter 8 12",
                             "\"C:\\x\\Halvotren.exe\" x /update-waiter 8 12 \"C:\\H.exe\"", ""})
        EXPECT_EQ(NOT_A_WAITER, Read(line)) << line;
}

TEST(WaiterCommandLine, OnlyTheExactFormIsObeyed)
{
    const std::string head = "\"C:\\x\\Halvotren.exe\" /update-waiter";
    const char *tails[] = {
        "",                                   // nothing after the switch
        " 8 12",                              // no program
        " 8 12 \"\"",                         // an empty program
        " 8 12 \"C:\\H.exe",                  // unclosed
        " 8 12 \"C:\\H.exe\" ",               // something after it
        " 8 12 \"C:\\H.exe\"x",
        " 8  12 \"C:\\H.exe\"",               // two blanks
        " +8 12 \"C:\\H.exe\"",               // a sign
        " -8 12 \"C:\\H.exe\"",
        " 08 12 \"C:\\H.exe\"",               // a leading zero
        " 0 12 \"C:\\H.exe\"",                // no handle
        " 8 0 \"C:\\H.exe\"",
        " 4294967296 12 \"C:\\H.exe\"",       // wider than a handle
        " 4294967295 12 \"C:\\H.exe\"",       // the pseudo-handles of the process
        " 8 4294967295 \"C:\\H.exe\"",
        " 4294967294 12 \"C:\\H.exe\"",       // and of the thread
        " 8 4294967294 \"C:\\H.exe\"",
        " 9 12 \"C:\\H.exe\"",                // not a multiple of four
        " 8 14 \"C:\\H.exe\"",
        " 0x8 12 \"C:\\H.exe\"",
        " 8 12 C:\\H.exe",                    // unquoted
        " 8 \"C:\\H.exe\"",                   // one handle
    };
    for (const char *tail : tails)
        EXPECT_EQ(WAITER_MALFORMED, Read(head + tail)) << tail;
    // A path longer than the room for it.
    EXPECT_EQ(WAITER_MALFORMED, Read(head + " 8 12 \"C:\\" + std::string(WAITER_PATH_SIZE, 'a') + "\""));
    EXPECT_EQ(WAITER_ORDERS, Read(head + " 8 12 \"C:\\" + std::string(WAITER_PATH_SIZE - 4, 'a') + "\""));
}

TEST(ProgramAfterInstaller, TheNewOneWhenItFinishedNothingWhileWindowsRestartsElseTheOld)
{
    // Done, and done but for a restart that completes it.
    for (unsigned long code : {0ul, 3010ul})
        EXPECT_EQ(START_INSTALLED_PROGRAM, ProgramAfterInstaller(1, code)) << code;
    EXPECT_EQ(START_NOTHING, ProgramAfterInstaller(1, 1641));
    // Cancelled, failed, another installation running, a package refused,
    // no rights, still running, killed.
    for (unsigned long code : {1602ul, 1603ul, 1618ul, 1619ul, 1620ul, 1625ul, 1925ul, 259ul, 1ul, 0xFFFFFFFFul})
        EXPECT_EQ(START_OLD_PROGRAM, ProgramAfterInstaller(1, code)) << code;
    // An installer that never ran, or was not seen to end, finished nothing.
    for (unsigned long code : {0ul, 3010ul, 1641ul})
        EXPECT_EQ(START_OLD_PROGRAM, ProgramAfterInstaller(0, code)) << code;
}

TEST(UpdatePaths, FolderNamesAndFileNamesReplaced)
{
    char name[64];
    ASSERT_TRUE(FormatUpdateFolderName(name, sizeof name, "C:\\Temp\\", 0));
    EXPECT_STREQ("C:\\Temp\\~halvotren_update0", name);
    ASSERT_TRUE(FormatUpdateFolderName(name, sizeof name, "C:\\Temp\\", UPDATE_FOLDER_ATTEMPTS - 1));
    EXPECT_STREQ("C:\\Temp\\~halvotren_update7", name);
    EXPECT_FALSE(FormatUpdateFolderName(name, 20, "C:\\Temp\\", 0));

    char path[40] = "C:\\Temp\\u0\\Halvotren.exe";
    ASSERT_TRUE(ReplaceFileName(path, sizeof path, "~halvotren_installer.msi"));
    EXPECT_STREQ("C:\\Temp\\u0\\~halvotren_installer.msi", path);
    EXPECT_FALSE(ReplaceFileName(path, sizeof path, "a name far too long for the path's room"));
    EXPECT_STREQ("C:\\Temp\\u0\\~halvotren_installer.msi", path);
    ASSERT_TRUE(ReplaceFileName(path, sizeof path, ""));
    EXPECT_STREQ("C:\\Temp\\u0\\", path);
    char bare[16] = "Halvotren.exe";
    EXPECT_FALSE(ReplaceFileName(bare, sizeof bare, "x"));
    EXPECT_STREQ("Halvotren.exe", bare);
}

TEST(UpdatePaths, OnlyTheUpdatesOwnFilesMakeALeftover)
{
    for (const char *name : {"~halvotren_installer.msi", "Halvotren.exe"}) {
        EXPECT_TRUE(IsUpdateFolderEntry(name, 1)) << name;
        // A folder or a link of that name is not what an update makes.
        EXPECT_FALSE(IsUpdateFolderEntry(name, 0)) << name;
    }
    for (const char *name : {".", ".."})
        EXPECT_TRUE(IsUpdateFolderEntry(name, 0)) << name;
    for (const char *name : {"notes.txt", "HALVOTREN.EXE", "Halvotren.exe.bak", "~halvotren_installer.ms", "...", ".x",
                             ""}) {
        EXPECT_FALSE(IsUpdateFolderEntry(name, 1)) << name;
        EXPECT_FALSE(IsUpdateFolderEntry(name, 0)) << name;
    }
}

TEST(UpdateAccess, TheUsersOwnLockAndAFolderOnlyTheUserTheSystemAndAdministratorsReach)
{
    const char kSid[] = "S-1-5-21-1004336348-1177238915-682003330-512";
    char text[160];
    ASSERT_TRUE(FormatUpdateLockName(text, sizeof text, kSid));
    EXPECT_STREQ("Local\\Halvotren-S-1-5-21-1004336348-1177238915-682003330-512", text);
    EXPECT_FALSE(FormatUpdateLockName(text, 30, kSid));
    // Owned by the user; protected, so that nothing is inherited from the
    // temporary folder; full access for exactly these three, passed on to
    // what the folder holds.
    ASSERT_TRUE(FormatUserAccess(text, sizeof text, kSid));
    EXPECT_STREQ("O:S-1-5-21-1004336348-1177238915-682003330-512"
                 "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-21-1004336348-1177238915-682003330-512)",
                 text);
    EXPECT_FALSE(FormatUserAccess(text, 100, kSid));
}
