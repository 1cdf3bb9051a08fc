// tovik.exe run as a user runs it on Windows: keys typed at the console
// (written into its input buffer before the start), the answer to the ready
// prompt on standard input, and the transcript compared byte for byte. The
// runs that type a key need a console and skip without one.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/console_text.h"
#include "support/system_win32.h"
#include "support/vectors.h"

namespace {

using console_text::BANNER;
using console_text::READY;

const std::string HELLO = "hello\n";

// Standard output is in text mode on Windows: each "\n" reaches the file as
// "\r\n".
std::string text_mode(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

struct run_result {
    DWORD status = 0xFFFFFFFF;
    std::string output;
};

class WindowsProgram : public testing::Test {
  protected:
    static std::string container;  // "hello\n" under "secret"
    static std::string program;
    static void SetUpTestSuite() {
        for (const auto& row : read_vector_file("containers.txt")) {
            if (row[0] == "736563726574") container = from_hex(row[2]);
        }
        program = windows_path(TOVIK_BINARY);
    }

    scratch_dir scratch;  // holds the run's standard input and output
    HANDLE console = INVALID_HANDLE_VALUE;

    void SetUp() override {
        scratch.enter();
        std::filesystem::create_directory("work");
        console = open_console_input();
        if (console != INVALID_HANDLE_VALUE) FlushConsoleInputBuffer(console);
    }
    void TearDown() override {
        if (console != INVALID_HANDLE_VALUE) CloseHandle(console);
    }

    // Key-down records for the characters of text; '\r' is Enter.
    void type(const std::string& text) {
        std::vector<INPUT_RECORD> records;
        for (char c : text) {
            INPUT_RECORD record{};
            record.EventType = KEY_EVENT;
            record.Event.KeyEvent.bKeyDown = TRUE;
            record.Event.KeyEvent.wRepeatCount = 1;
            record.Event.KeyEvent.wVirtualScanCode = c == '\r' ? 0x1C : 0x1E;
            record.Event.KeyEvent.uChar.AsciiChar = c;
            records.push_back(record);
        }
        DWORD written = 0;
        ASSERT_TRUE(WriteConsoleInputA(console, records.data(), static_cast<DWORD>(records.size()),
                                       &written));
        ASSERT_EQ(written, records.size());
    }

    // Runs tovik.exe with arguments in the directory "work". flags are
    // CreateProcess flags (DETACHED_PROCESS runs it without a console).
    run_result run(const std::string& arguments, const std::string& input, DWORD flags = 0) {
        run_result result;
        write_file("stdin.txt", input);
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE in = CreateFileA("stdin.txt", GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING,
                                0, nullptr);
        HANDLE out = CreateFileA("stdout.txt", GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, 0, nullptr);
        EXPECT_NE(in, INVALID_HANDLE_VALUE);
        EXPECT_NE(out, INVALID_HANDLE_VALUE);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in;
        startup.hStdOutput = out;
        startup.hStdError = out;
        std::string command = "\"" + program + "\" " + arguments;
        PROCESS_INFORMATION process{};
        const bool started = CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, TRUE,
                                            flags, nullptr, "work", &startup, &process);
        CloseHandle(in);
        CloseHandle(out);
        EXPECT_TRUE(started) << program;
        if (!started) return result;
        // A program that waits for keys which never come is stopped, so the
        // test fails instead of hanging.
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, INFINITE);
            ADD_FAILURE() << "tovik.exe did not end";
        }
        GetExitCodeProcess(process.hProcess, &result.status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        result.output = read_file("stdout.txt");
        return result;
    }
};

std::string WindowsProgram::container;
std::string WindowsProgram::program;

TEST_F(WindowsProgram, EncryptsAndDecryptsWithTheKeyTypedAtTheConsole) {
    if (console == INVALID_HANDLE_VALUE) GTEST_SKIP() << NO_CONSOLE;
    write_file("work\\a.txt", HELLO);
    type("secret\rsecret\r");
    run_result encrypted = run("a.txt", "y\n");
    EXPECT_EQ(encrypted.status, 0u);
    EXPECT_EQ(encrypted.output, text_mode(BANNER + "Key:******\nReenter Key:******" + READY + "\n" +
                                          "a.txt encrypting .....ok!\n\nfin\n"));
    EXPECT_EQ(read_file("work\\a.txt.tvk"), container);
    EXPECT_EQ(read_file("work\\a.txt"), HELLO);

    // A container asks for the key once; "-d" deletes it after decrypting,
    // and the plain file is overwritten without asking.
    write_file("work\\a.txt", "stale");
    type("secret\r");
    run_result decrypted = run("a.txt.tvk -d", "\n");
    EXPECT_EQ(decrypted.status, 0u);
    EXPECT_EQ(decrypted.output, text_mode(BANNER + "Key:******" + READY + "\n" +
                                          "a.txt.tvk decrypting .....ok!\n\nfin\n"));
    EXPECT_EQ(read_file("work\\a.txt"), HELLO);
    EXPECT_EQ(GetFileAttributesA("work\\a.txt.tvk"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(WindowsProgram, MismatchedReentryAndNoAnswerEndTheRunUntouched) {
    if (console == INVALID_HANDLE_VALUE) GTEST_SKIP() << NO_CONSOLE;
    write_file("work\\a.txt", HELLO);
    type("ab\rac\r");
    run_result mismatch = run("a.txt", "y\n");
    EXPECT_EQ(mismatch.status, 0u);
    EXPECT_EQ(mismatch.output,
              text_mode(BANNER + "Key:**\nReenter Key:**\nKey you type is incorrect\n"));
    type("ab\rab\r");
    run_result aborted = run("a.txt", "n\n");
    EXPECT_EQ(aborted.status, 0u);
    EXPECT_EQ(aborted.output,
              text_mode(BANNER + "Key:**\nReenter Key:**" + READY + "\nprocess aborted...\n\n"));
    EXPECT_EQ(read_file("work\\a.txt"), HELLO);
    EXPECT_EQ(GetFileAttributesA("work\\a.txt.tvk"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(WindowsProgram, WithoutAConsoleTheKeyIsNotReadAndNothingChanges) {
    write_file("work\\a.txt", HELLO);
    run_result result = run("a.txt", "y\n", DETACHED_PROCESS);
    EXPECT_EQ(result.status, 1u);
    EXPECT_EQ(result.output,
              text_mode(BANNER + "Key:\ncannot read the key: no terminal to type it at\n"));
    EXPECT_EQ(read_file("work\\a.txt"), HELLO);
    EXPECT_EQ(GetFileAttributesA("work\\a.txt.tvk"), INVALID_FILE_ATTRIBUTES);
}

// The manual is read in text mode: its "\r\n" come out as they were, and a
// Ctrl+Z ends the text.
TEST_F(WindowsProgram, ManualIsFoundAlongPathAndPrintedAsText) {
    write_file("docs\\tovik.man",
               "TOVIK(1)\r\n100% plain %s\r\nend\x1A"
               "hidden\r\n");
    std::vector<char> saved(32768);
    const DWORD saved_length = GetEnvironmentVariableA("PATH", saved.data(), 32768);
    SetEnvironmentVariableA("PATH", ("nowhere;\"" + scratch.root + "\\docs\"").c_str());
    run_result found = run("-h", "");
    SetEnvironmentVariableA("PATH", "nowhere");
    run_result missing = run("-h", "");
    SetEnvironmentVariableA("PATH", saved_length > 0 ? saved.data() : nullptr);

    EXPECT_EQ(found.status, 0u);
    EXPECT_EQ(found.output, text_mode(BANNER) + "TOVIK(1)\r\n100% plain %s\r\nend");
    EXPECT_EQ(missing.status, 0u);
    EXPECT_EQ(missing.output, text_mode(BANNER + "\ncannot find the file tovik.man\n\n"));
}

}  // namespace
