#pragma once

// Message boxes and the folder picker. Texts are code page 932. From any thread: the dialog is
// shown modally on the GUI thread and the caller blocks until it is answered. Tests install a
// responder instead, and then no dialog is ever created.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orvalink::platform {

inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_OKCANCEL = 0x1;
inline constexpr unsigned MB_YESNOCANCEL = 0x3;
inline constexpr unsigned MB_YESNO = 0x4;
// Which button is the default: the first unless one of these names the second or the third.
inline constexpr unsigned MB_DEFBUTTON2 = 0x100;
inline constexpr unsigned MB_DEFBUTTON3 = 0x200;
inline constexpr unsigned MB_ICONSTOP = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Returns the button pressed (IDOK, ...), or 0 when no dialog can be shown (no application).
int messageBox(std::string_view text, std::string_view caption = "Orvalink", unsigned type = MB_OK);

// Shows the box later on the GUI thread and returns at once, for reports that must not hold up
// the caller (a receive path, a thread holding a lock). Without an application it is shown (or
// answered by the responder) at once.
void postMessageBox(std::string text, std::string caption = "Orvalink", unsigned type = MB_OK);

// Lets the user choose a folder. The path is code page 932 text with "/" separators; nullopt when
// cancelled, or when the chosen path has characters code page 932 cannot hold (the program could
// not name that folder again).
std::optional<std::string> pickFolder(std::string_view title, std::string_view initialFolder = {});
// The same dialog for a folder kept as a file-system path: initialPath and the result are the
// path's bytes as the file system names them, so every folder can be chosen, whatever characters
// its name holds; nullopt only when cancelled.
std::optional<std::string> pickFolderPath(std::string_view title, std::string_view initialPath = {});

// The standard dialog for saving a file: `suggestedName` (code page 932) is offered in the folder
// `initialPath` (a file-system path). The result is the chosen file's file-system path; nullopt when
// cancelled.
std::optional<std::string> pickSaveFilePath(std::string_view title, std::string_view suggestedName,
                                            std::string_view initialPath = {});

struct MessageBoxCall {
    std::string text;
    std::string caption;
    unsigned type = 0;
};

// A null responder restores the real dialogs. Responders are called on the caller's thread; a
// folder picker responder answers in the terms of the function called (code page 932 text for
// pickFolder, a file-system path for pickFolderPath).
void setMessageBoxResponder(std::function<int(const MessageBoxCall&)> responder);
void setFolderPickerResponder(std::function<std::optional<std::string>(std::string_view title)> responder);
// Answers pickSaveFilePath in tests: given the suggested name, returns the file-system path.
void setSaveFilePickerResponder(std::function<std::optional<std::string>(std::string_view suggestedName)> responder);

} // namespace orvalink::platform

#include "platform/MessageBoxRecorder.h"
