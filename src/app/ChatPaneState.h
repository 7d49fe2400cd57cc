#pragma once

// What the main window shows of the chat groups, kept apart from the groups themselves: the group
// whose rows the right pane lists, and whether the folder tree has done its first fill (until
// then its nodes are no groups' yet). The main window owns it; the tree sets both, and the window,
// the pane's row opener and the automation channel read them. Main thread only.

namespace orvalink::app {

class ChatPaneState {
public:
    // The group the right pane shows (an index into the group table).
    int currentGroup() const { return m_currentGroup; }
    void setCurrentGroup(int group) { m_currentGroup = group; }

    // Set by the tree when its first fill is done (it observes the groups from then on), cleared
    // when it stops observing them.
    bool treeReady() const { return m_treeReady; }
    void setTreeReady(bool ready) { m_treeReady = ready; }

    // Group g was deleted and groupCount groups are left: the current group follows its group, or
    // stays on the index when its own group went (the last index has no group left and moves
    // back).
    void groupRemoved(int group, int groupCount);

private:
    int m_currentGroup = 0;
    bool m_treeReady = false;
};

} // namespace orvalink::app
