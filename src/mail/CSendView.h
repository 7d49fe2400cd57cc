#pragma once

// The body editor of a compose window: plain text of at most 64,000 characters whose lines end in
// CR LF. It does not wrap, so the text comes out exactly as typed.

#include "platform/LimitedTextEdit.h"

namespace orvalink::mail {

class CSendView : public platform::LimitedTextEdit {
    Q_OBJECT
public:
    static constexpr int kMaxCharacters = 64000;

    explicit CSendView(QWidget* parent = nullptr);
};

} // namespace orvalink::mail
