#pragma once

// For tests: while it exists, every message box is recorded instead of shown and answered from a
// queue of results (IDOK once the queue is empty).

#include "platform/MessageBox.h"

#include <deque>
#include <mutex>
#include <vector>

namespace orvalink::platform {

class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(std::deque<int> answers = {});
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    void pushAnswer(int result);
    std::vector<MessageBoxCall> calls() const;

private:
    mutable std::mutex m_mutex;
    std::deque<int> m_answers;
    std::vector<MessageBoxCall> m_calls;
};

} // namespace orvalink::platform
