// The console key reader, fed with key records written into the console's
// input buffer. Needs a console: under wine one exists only when standard
// input is a terminal, so these tests skip elsewhere.
#include <gtest/gtest.h>
#include <windows.h>

#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "front/key_entry.h"
#include "platform/terminal.h"
#include "support/system_win32.h"

namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string result;
    for (int value : values) result += static_cast<char>(value);
    return result;
}

INPUT_RECORD key(WORD scan, char character, DWORD state = 0, bool down = true, WORD repeat = 1) {
    INPUT_RECORD record{};
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = down ? TRUE : FALSE;
    record.Event.KeyEvent.wRepeatCount = repeat;
    record.Event.KeyEvent.wVirtualScanCode = scan;
    record.Event.KeyEvent.uChar.AsciiChar = character;
    record.Event.KeyEvent.dwControlKeyState = state;
    return record;
}

class ConsoleKeys : public testing::Test {
  protected:
    HANDLE input = INVALID_HANDLE_VALUE;
    DWORD original_mode = 0;

    // The records are written with the mode at 0 as well: with processed
    // input on, a written Ctrl+C would end the test process.
    void SetUp() override {
        input = open_console_input();
        if (input == INVALID_HANDLE_VALUE) GTEST_SKIP() << NO_CONSOLE;
        ASSERT_TRUE(GetConsoleMode(input, &original_mode));
        ASSERT_TRUE(SetConsoleMode(input, 0));
        ASSERT_TRUE(FlushConsoleInputBuffer(input));
    }
    void TearDown() override {
        if (input == INVALID_HANDLE_VALUE) return;
        SetConsoleMode(input, original_mode);
        CloseHandle(input);
    }

    void feed(const std::vector<INPUT_RECORD>& records) {
        DWORD written = 0;
        ASSERT_TRUE(WriteConsoleInputA(input, records.data(), static_cast<DWORD>(records.size()),
                                       &written));
        ASSERT_EQ(written, records.size());
    }

    // The bytes of the next count keys, as the reader gives them.
    std::string read_keys(int count) {
        std::string bytes;
        for (int i = 0; i < count; ++i) {
            unsigned char out[2] = {0xFF, 0xFF};
            const int length = read_terminal_key(out);
            EXPECT_TRUE(length == 1 || length == 2) << "key " << i << ": " << length;
            if (length < 1) break;
            bytes.append(reinterpret_cast<const char*>(out), static_cast<std::size_t>(length));
        }
        return bytes;
    }

    std::string pending_records() {
        DWORD count = 0;
        EXPECT_TRUE(GetNumberOfConsoleInputEvents(input, &count));
        return std::to_string(count);
    }
};

TEST_F(ConsoleKeys, KeysWithCharactersGiveTheirByteWhateverTheModifiers) {
    feed({key(0x1E, 'a'), key(0x30, 'B', SHIFT_PRESSED), key(0x2E, 3, LEFT_CTRL_PRESSED),
          key(0x0E, 8), key(0x1C, 13), key(0x1C, 10, LEFT_CTRL_PRESSED),
          key(0x1E, 'a', RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED)});
    EXPECT_EQ(read_keys(7), std::string("aB\x03\x08\x0D\x0A"
                                        "a"));
}

TEST_F(ConsoleKeys, KeysWithoutCharactersGiveTheirPairs) {
    const DWORD enhanced = ENHANCED_KEY;
    feed({key(0x48, 0, enhanced),                              // Up
          key(0x48, 0, enhanced | SHIFT_PRESSED),              // Shift+Up
          key(0x48, 0, enhanced | RIGHT_CTRL_PRESSED),         // Ctrl+Up
          key(0x48, 0, enhanced | LEFT_ALT_PRESSED),           // Alt+Up
          key(0x48, 0),                                        // keypad Up
          key(0x49, 0, LEFT_CTRL_PRESSED),                     // keypad Ctrl+PgUp
          key(0x49, 0, enhanced | LEFT_CTRL_PRESSED),          // Ctrl+PgUp
          key(0x3B, 0),                                        // F1
          key(0x3B, 0, SHIFT_PRESSED),                         // Shift+F1
          key(0x3B, 0, LEFT_CTRL_PRESSED),                     // Ctrl+F1
          key(0x3B, 0, RIGHT_ALT_PRESSED),                     // Alt+F1
          key(0x57, 0),                                        // F11
          key(0x1E, 0, LEFT_ALT_PRESSED),                      // Alt+A
          key(0x0F, 0, SHIFT_PRESSED),                         // Shift+Tab
          key(0x0F, 0, LEFT_ALT_PRESSED | LEFT_CTRL_PRESSED),  // Ctrl+Alt+Tab: Alt wins
          key(0x03, 0, LEFT_CTRL_PRESSED)});                   // Ctrl+2
    EXPECT_EQ(read_keys(16), bytes({0xE0, 0x48, 0xE0, 0x48, 0xE0, 0x8D, 0x00, 0x98,  // Up
                                    0x00, 0x48, 0x00, 0x84, 0xE0, 0x86,              // keypad, PgUp
                                    0x00, 0x3B, 0x00, 0x54, 0x00, 0x5E, 0x00, 0x68,  // F1
                                    0xE0, 0x85, 0x00, 0x1E, 0x00, 0x0F, 0x00, 0x0F, 0x00, 0x03}));
}

TEST_F(ConsoleKeys, RecordsThatGiveNothingAreSkippedAndRepeatsCountOnce) {
    INPUT_RECORD mouse{};
    mouse.EventType = MOUSE_EVENT;
    INPUT_RECORD focus{};
    focus.EventType = FOCUS_EVENT;
    focus.Event.FocusEvent.bSetFocus = TRUE;
    feed({key(0x2D, 'x', 0, false),                  // release of x
          key(0x2A, 0, SHIFT_PRESSED),               // Shift alone
          key(0x1D, 0, LEFT_CTRL_PRESSED),           // Ctrl alone
          key(0x38, 0, LEFT_ALT_PRESSED),            // Alt alone
          key(0x3A, 0),                              // Caps Lock
          key(0x7F, 0),                              // beyond the scan-code table
          key(0x60, 0, ENHANCED_KEY),                // enhanced, not in its table
          mouse, focus, key(0x10, 'q', 0, true, 3),  // held: repeat count 3
          key(0x13, 'r')});
    EXPECT_EQ(read_keys(1), "q");
    EXPECT_EQ(read_keys(1), "r");
    EXPECT_EQ(pending_records(), "0");
}

TEST_F(ConsoleKeys, ModeIsZeroWhileReadingAndRestoredAfter) {
    const DWORD cooked = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
    ASSERT_TRUE(SetConsoleMode(input, cooked));
    int length = 0;
    unsigned char out[2] = {0, 0};
    std::thread reader([&] { length = read_terminal_key(out); });
    // The key is written only once the reader waits with the mode at 0, so
    // the mode is seen in force during the read.
    DWORD mode = cooked;
    for (int polls = 0; polls < 20000 && mode != 0; ++polls) {
        Sleep(1);
        GetConsoleMode(input, &mode);
    }
    EXPECT_EQ(mode, 0u);
    feed({key(0x1F, 's')});
    reader.join();
    EXPECT_EQ(length, 1);
    EXPECT_EQ(out[0], 's');
    ASSERT_TRUE(GetConsoleMode(input, &mode));
    EXPECT_EQ(mode, cooked);
}

TEST_F(ConsoleKeys, MaskedEntryStoresBothBytesOfPairsUntilEnter) {
    feed({key(0x1E, 'a'), key(0x30, 'b'), key(0x3B, 0), key(0x2E, 'c'), key(0x48, 0, ENHANCED_KEY),
          key(0x1C, 13), key(0x2D, 'x')});
    char buffer[PASSPHRASE_SIZE];
    ASSERT_EQ(read_masked_key(buffer, '*'), 0);
    EXPECT_EQ(std::string(buffer, 8), bytes({'a', 'b', 0x00, 0x3B, 'c', 0xE0, 0x48, 0}));
    EXPECT_EQ(read_keys(1), "x");  // the entry ended at Enter
}

// Where there is a console, the test runs again in a process without one.
TEST(ConsoleMissing, EveryReadFailsAndTheOpenIsNotRetried) {
    HANDLE input = open_console_input();
    if (input != INVALID_HANDLE_VALUE) {
        CloseHandle(input);
        EXPECT_EQ(
            run_this_binary("--gtest_filter=ConsoleMissing.EveryReadFailsAndTheOpenIsNotRetried",
                            DETACHED_PROCESS),
            0u);
        return;
    }
    unsigned char out[2] = {0x55, 0x55};
    EXPECT_EQ(read_terminal_key(out), -1);
    EXPECT_EQ(read_terminal_key(out), -1);
    EXPECT_EQ(out[0], 0x55);
    char buffer[PASSPHRASE_SIZE];
    EXPECT_EQ(read_masked_key(buffer, '*'), -1);
    EXPECT_EQ(buffer[0], '\0');
}

}  // namespace
