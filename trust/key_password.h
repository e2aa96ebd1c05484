// The password of a secret key: from the environment for scripts, else from
// the terminal with echo off.
#pragma once

#include <string>

namespace pelmo::trust {

inline constexpr const char* KEY_PASSWORD_VARIABLE = "PELMO_KEY_PASSWORD";

// PELMO_KEY_PASSWORD when set; else prompt on the controlling terminal, and
// with confirm the same password a second time. False with a reason when
// there is no terminal or the two entries differ.
bool ReadKeyPassword(const char* prompt, bool confirm, std::string& password, std::string* reason);

}  // namespace pelmo::trust
