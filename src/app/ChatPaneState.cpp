#include "app/ChatPaneState.h"

namespace orvalink::app {

void ChatPaneState::groupRemoved(int group, int groupCount)
{
    if (m_currentGroup > group || (m_currentGroup == group && group == groupCount && group > 0))
        --m_currentGroup;
}

} // namespace orvalink::app
