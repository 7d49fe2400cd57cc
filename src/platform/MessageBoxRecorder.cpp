#include "platform/MessageBoxRecorder.h"

namespace orvalink::platform {

MessageBoxRecorder::MessageBoxRecorder(std::deque<int> answers) : m_answers(std::move(answers))
{
    setMessageBoxResponder([this](const MessageBoxCall& call) {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(call);
        if (m_answers.empty())
            return IDOK;
        const int r = m_answers.front();
        m_answers.pop_front();
        return r;
    });
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    setMessageBoxResponder(nullptr);
}

void MessageBoxRecorder::pushAnswer(int result)
{
    std::lock_guard lock(m_mutex);
    m_answers.push_back(result);
}

std::vector<MessageBoxCall> MessageBoxRecorder::calls() const
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

} // namespace orvalink::platform
