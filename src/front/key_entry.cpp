#include "front/key_entry.h"

#include "cipher/wipe.h"
#include "front/console.h"
#include "platform/terminal.h"

namespace {

constexpr int ENTER = 13;
constexpr int EMPTY = -1;

// Second byte of a two-byte key, handed to the next read whoever makes it.
int pending_byte = EMPTY;

}  // namespace

int read_keystroke() {
    if (pending_byte != EMPTY) {
        const int byte = pending_byte;
        pending_byte = EMPTY;
        return byte;
    }
    unsigned char key[2] = {0, 0};
    const int length = read_terminal_key(key);
    int result = -1;
    if (length >= 1) result = key[0];
    if (length == 2) pending_byte = key[1];
    wipe(key, sizeof key);
    return result;
}

int read_masked_key(char (&buffer)[PASSPHRASE_SIZE], char echo) {
    std::size_t length = 0;
    int key = read_keystroke();
    while (key != ENTER) {
        if (key < 0) {
            buffer[length] = 0;
            return -1;
        }
        // Keys past the room are still read, so that Enter ends the entry as
        // the user expects, but they are neither stored nor echoed.
        if (length < PASSPHRASE_SIZE - 1) {
            buffer[length++] = static_cast<char>(key);
            const char shown[2] = {echo, '\0'};
            ask(shown);  // a lost echo is harmless
        }
        key = read_keystroke();
    }
    buffer[length] = 0;
    return 0;
}
