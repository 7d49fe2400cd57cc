#pragma once

// The text of a chat write window: the program's limited text control with soft line breaks,
// taking at most 10,000 characters (a line break counts as one). Whatever the user types, pastes or
// composes beyond the limit is refused; the excess of a paste or composition is cut, and textCut()
// tells the window so.

#include "platform/LimitedTextEdit.h"

namespace orvalink::chat {

class CSendChatView : public platform::LimitedTextEdit {
    Q_OBJECT
public:
    static constexpr int kMaxCharacters = 10000;

    explicit CSendChatView(QWidget* parent = nullptr);

    // True when the text holds nothing but white space: nothing to send.
    bool isBlank() const;
};

} // namespace orvalink::chat
