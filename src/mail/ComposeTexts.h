#pragma once

// Texts the compose windows show (code page 932), in one place for the windows and their tests.

#include "folders/store/MailStore.h"

#include <string>

namespace compose {

// The caption of every question and notice of the compose windows.
std::string captionText();
// All compose window slots are taken.
std::string tooManyWindowsText();
// Closing a window that holds typed text.
std::string saveQuestionText();
// Why a save was refused; empty for a stored mail.
std::string saveFailureText(orvalink::folders::StoreResult result);

} // namespace compose
