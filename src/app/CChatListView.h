#pragma once

// The main window's right pane: the rows of the shown chat group, read through a ReportRowSource.
// Each row has one cell, the row header (sender and time); an unread row shows its message text in
// a preview area under the cell, a read row is one line with the "read" image. The list holds per
// row only its cell, state and height; the message text is read from the source while the row's
// preview is painted.

#include "controls/CReportView.h"
#include "controls/ReportRowSource.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

class QListWidget;

namespace orvalink::controls {
struct ReportNotification;
} // namespace orvalink::controls

namespace orvalink::app {

using controls::CReportView;
using controls::ReportNotification;
using controls::ReportRowSource;
using controls::ReportSourceRow;

class CChatListView : public CReportView {
    Q_OBJECT
public:
    // row: the list's row; from: whom a reply goes to.
    using RowOpener =
        std::function<void(int row, const std::string& header, const std::string& body, const std::string& from)>;

    // columnChooser is the main window's side bar list box that lists hidden columns (may be null).
    // The view owns source; without one it lists nothing.
    explicit CChatListView(QWidget* parent = nullptr, QListWidget* columnChooser = nullptr,
                           std::unique_ptr<ReportRowSource> source = nullptr);
    // Writes the column layout to "Settings"/"ReportCtrl".
    ~CChatListView() override;

    ReportRowSource* source() const { return m_source.get(); }

    // Brings the rows in line with the source: rows gone from its start leave, new ones are added,
    // rows that stay are left as they are. Costs what changed, not what the list holds.
    void reloadRows();
    void ensureRowVisible(int row);
    // Selects and focuses the row numbered serial (ChatRow::serial), alone, and scrolls to it. False
    // when the list no longer holds it.
    bool selectRowWithSerial(std::uint64_t serial);
    // The source's rows changed: reloads them and shows the newest row, or, while the view is
    // hidden, only notes that it must do so when it is shown.
    void rowsChanged();
    bool stale() const { return m_stale; }
    // Does now what a hidden view left for later (for readers of the list such as the automation
    // channel).
    void bringUpToDate();

    // Called when the user opens a row (the chat write window's read mode plugs in here).
    static void setRowOpener(RowOpener opener);

protected:
    void onInitialUpdate() override;
    void showEvent(QShowEvent* event) override;

private:
    std::intptr_t onNotify(ReportNotification& n);
    void drawPreview(ReportNotification& n);
    void openRow(int row);
    void insertRow(int i, const ReportSourceRow& row);
    void refresh();
    // The source's index of the list's row, or -1 when the source no longer has it.
    int sourceIndex(int row) const;

    QListWidget* m_columnChooser;
    std::unique_ptr<ReportRowSource> m_source;
    // The numbers of the rows the control holds since the last reload, in order.
    std::deque<std::uint64_t> m_loadedSerials;
    bool m_stale = false;
};

} // namespace orvalink::app
