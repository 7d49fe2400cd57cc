#pragma once

// Texts the compose windows show (code page 932), in one place for the windows and their tests.
// Why a save was refused is the store's own text (storeResultText).

#include <string>

namespace orvalink::mail {

// The caption of every question and notice of the compose windows.
std::string captionText();
// All compose window slots are taken.
std::string tooManyWindowsText();
// Closing a window that holds typed text.
std::string saveQuestionText();

} // namespace orvalink::mail
