// The program's fixed console texts, as a user sees them, for the tests that
// compare whole transcripts.
#pragma once

#include <string>

namespace console_text {

inline const std::string BANNER =
    "\n------------ TovikVault -----------"
    "\n|                                 |"
    "\n| tovik: console file encryptor   |"
    "\n| RC4 + MD5 key, .tvk containers  |"
    "\n| built by the tovik project      |"
    "\n| version 1.0                     |"
    "\n|                                 |"
    "\n-----------------------------------\n\n";
inline const std::string READY = "\n\nready[y|n]:[y]";

}  // namespace console_text
