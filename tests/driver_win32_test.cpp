// tovik.exe run as a user runs it on Windows: keys typed at the console
// (written into its input buffer before the start), the answer to the ready
// prompt on standard input, and the transcript compared byte for byte. The
// runs that type a key need a console and skip without one.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <map>
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

// The console: a key-down record for each character of text ('\r' is Enter)
// written into its input buffer.
void type(HANDLE console, const std::string& text) {
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
    ASSERT_TRUE(
        WriteConsoleInputA(console, records.data(), static_cast<DWORD>(records.size()), &written));
    ASSERT_EQ(written, records.size());
}

struct run_result {
    DWORD status = 0xFFFFFFFF;
    std::string output;
};

// Runs tovik.exe with arguments in the directory "work", input as its
// standard input and its output in a file. flags are CreateProcess flags
// (DETACHED_PROCESS runs it without a console).
run_result run(const std::string& arguments, const std::string& input, DWORD flags) {
    run_result result;
    const std::string program = windows_path(TOVIK_BINARY);
    write_file("stdin.txt", input);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE in = CreateFileA("stdin.txt", GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0,
                            nullptr);
    HANDLE out = CreateFileA("stdout.txt", GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             0, nullptr);
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
    // A program that waits for keys which never come is stopped, so the test
    // fails instead of hanging.
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

using tree = std::map<std::string, std::string>;
enum class path_value { as_it_is, docs, nowhere };

struct run_case {
    const char* name;
    tree files;        // written into "work" before the run
    std::string keys;  // typed at the console before the start; needs one
    std::string arguments, input;
    DWORD flags;
    path_value path;
    std::string shown;  // after the banner, before text mode
    DWORD status;
    tree left;  // all of "work" afterwards
};

}  // namespace

// One run after another in one directory. A container asks for the key
// once; "-d" deletes it after decrypting, and the plain file is overwritten
// without asking. The manual is read in text mode: a Ctrl+Z ends the text.
TEST(WindowsProgram, RunsByTheirTranscriptAndFiles) {
    const std::string hello = "hello\n", container = hello_container();
    ASSERT_FALSE(container.empty());
    const std::string key_twice = "Key:******\nReenter Key:******" + READY;
    const std::string plain = "Key:**\nReenter Key:**";
    const tree before{{"a.txt", hello}}, after{{"a.txt", hello}, {"a.txt.tvk", container}};
    // clang-format off
    const run_case cases[] = {
        {"keys that differ", {{"a.txt", hello}}, "ab\rac\r", "a.txt", "y\n", 0, path_value::as_it_is,
         plain + "\nKey you type is incorrect\n", 0, before},
        {"no answer", {}, "ab\rab\r", "a.txt", "n\n", 0, path_value::as_it_is,
         plain + READY + "\nprocess aborted...\n\n", 0, before},
        {"no console", {}, "", "a.txt", "y\n", DETACHED_PROCESS, path_value::as_it_is,
         "Key:\ncannot read the key: no terminal to type it at\n", 1, before},
        {"encrypt", {}, "secret\rsecret\r", "a.txt", "y\n", 0, path_value::as_it_is,
         key_twice + "\na.txt encrypting .....ok!\n\nfin\n", 0, after},
        {"decrypt over a file, -d", {{"a.txt", "stale"}}, "secret\r", "a.txt.tvk -d", "\n", 0,
         path_value::as_it_is, "Key:******" + READY + "\na.txt.tvk decrypting .....ok!\n\nfin\n", 0,
         before},
        {"manual along PATH", {}, "", "-h", "", 0, path_value::docs,
         "TOVIK(1)\n100% plain %s\nend", 0, before},
        {"manual nowhere", {}, "", "-h", "", 0, path_value::nowhere,
         "\ncannot find the file tovik.man\n\n", 0, before},
    };
    // clang-format on
    scratch_dir scratch;  // holds the run's standard input and output
    scratch.enter();
    write_file("docs\\tovik.man",
               "TOVIK(1)\r\n100% plain %s\r\nend\x1A"
               "hidden\r\n");
    HANDLE console = open_console_input();
    std::vector<char> saved(32768);
    const DWORD saved_length = GetEnvironmentVariableA("PATH", saved.data(), 32768);
    bool skipped = false;  // the files then differ from the table's
    for (const run_case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& [name, bytes] : c.files) write_file("work\\" + name, bytes);
        if (!c.keys.empty() && console == INVALID_HANDLE_VALUE) {
            std::printf("%s: skipped, %s\n", c.name, NO_CONSOLE);
            skipped = true;
            continue;
        }
        if (!c.keys.empty()) {
            FlushConsoleInputBuffer(console);
            type(console, c.keys);
        }
        if (c.path == path_value::docs) {
            SetEnvironmentVariableA("PATH", ("nowhere;\"" + scratch.root + "\\docs\"").c_str());
        } else if (c.path == path_value::nowhere) {
            SetEnvironmentVariableA("PATH", "nowhere");
        }
        const run_result result = run(c.arguments, c.input, c.flags);
        SetEnvironmentVariableA("PATH", saved_length > 0 ? saved.data() : nullptr);
        EXPECT_EQ(result.status, c.status);
        // The manual, read in text mode, comes out with its "\r\n" as they were.
        EXPECT_EQ(result.output, text_mode(BANNER + c.shown));
        if (!skipped) {
            EXPECT_TRUE(snapshot("work") == c.left);
        }
    }
    if (console != INVALID_HANDLE_VALUE) CloseHandle(console);
}
