// Ctrl+Break (Ctrl+C under wine) during a run: a child process (this test
// binary, running the disabled test below) writes a temporary, waits for a
// key with the console mode at 0, and sends itself the event. The handler
// must delete the temporary and put the console mode back before the
// process ends.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "platform/ending.h"
#include "platform/files.h"
#include "platform/terminal.h"
#include "support/system_win32.h"

namespace {

constexpr char DIRECTORY_VARIABLE[] = "TOVIK_INTERRUPT_TEST_DIR";

// Runs in the child only: ends by the console control event, never by
// returning.
TEST(ConsoleInterrupt, DISABLED_ChildInterruptedWhileWriting) {
    char directory[MAX_PATH];
    ASSERT_GT(GetEnvironmentVariableA(DIRECTORY_VARIABLE, directory, MAX_PATH), 0u);
    ASSERT_TRUE(start_ending());
    temp_output output;
    ASSERT_TRUE(begin_output(std::string(directory) + "\\out.txt", output));
    ASSERT_TRUE(write_all(output.file, "partial", 7));

    HANDLE console = open_console_input();
    ASSERT_NE(console, INVALID_HANDLE_VALUE);
    std::thread([] {
        unsigned char key[2];
        read_terminal_key(key);
    }).detach();
    DWORD mode = 1;
    for (int polls = 0; polls < 20000 && mode != 0; ++polls) {
        Sleep(1);
        GetConsoleMode(console, &mode);
    }
    ASSERT_EQ(mode, 0u) << "the key read never started";
    write_file(std::string(directory) + "\\reached", "");
    // Wine generates only Ctrl+C, and only for every process on the console.
    if (running_under_wine()) {
        GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    } else {
        GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, GetCurrentProcessId());
    }
    Sleep(INFINITE);
}

TEST(ConsoleInterrupt, BreakDeletesThePartialOutputAndRestoresTheConsoleMode) {
    HANDLE console = open_console_input();
    if (console == INVALID_HANDLE_VALUE) GTEST_SKIP() << NO_CONSOLE;
    DWORD original = 0;
    ASSERT_TRUE(GetConsoleMode(console, &original));
    const DWORD cooked = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
    ASSERT_TRUE(SetConsoleMode(console, cooked));

    scratch_dir scratch;
    // Under wine the event reaches every process on the console: this one
    // lets it pass. The handler stays for the rest of this process (it runs
    // this test alone), since the event may reach it after the child is gone.
    const PHANDLER_ROUTINE swallow = [](DWORD) -> BOOL { return TRUE; };
    SetConsoleCtrlHandler(swallow, TRUE);
    SetEnvironmentVariableA(DIRECTORY_VARIABLE, scratch.root.c_str());
    // On Windows a process group of its own, so that Ctrl+Break reaches the
    // child alone (a new group would ignore wine's Ctrl+C).
    const bool ended = run_this_binary(
                           "--gtest_also_run_disabled_tests --gtest_filter="
                           "ConsoleInterrupt.DISABLED_ChildInterruptedWhileWriting",
                           running_under_wine() ? 0 : CREATE_NEW_PROCESS_GROUP)
                           .has_value();
    SetEnvironmentVariableA(DIRECTORY_VARIABLE, nullptr);
    EXPECT_TRUE(ended) << "the child did not start, or was not ended by Ctrl+Break";
    EXPECT_EQ(GetFileAttributesA((scratch.root + "\\reached").c_str()), FILE_ATTRIBUTE_ARCHIVE)
        << "the child did not get to the interrupt";

    EXPECT_TRUE(temporaries(scratch.root).empty());
    DWORD mode = 0;
    ASSERT_TRUE(GetConsoleMode(console, &mode));
    EXPECT_EQ(mode, cooked);
    SetConsoleMode(console, original);
    CloseHandle(console);
}

}  // namespace
