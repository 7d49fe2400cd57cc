#pragma once

// The main window's right pane: the rows of the shown chat group, taken from rowTable(). Each row
// has one cell, the row header (sender and time); an unread row shows its message text in a
// preview area under the cell, a read row is one line with the "read" image.

#include "controls/CReportView.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QListWidget;

namespace orvalink::controls {

struct ReportNotification;

class CReportDemoView : public CReportView {
    Q_OBJECT
public:
    using RowOpener = std::function<void(int row, const std::string& header, const std::string& body)>;

    // columnChooser is the main window's side bar list box that lists hidden columns (may be null).
    explicit CReportDemoView(QWidget* parent = nullptr, QListWidget* columnChooser = nullptr);
    // Writes the column layout to "Settings"/"ReportCtrl".
    ~CReportDemoView() override;

    // Rebuilds every row from rowTable(); the main window calls it after refilling the table.
    void reloadRows();
    void ensureRowVisible(int row);

    // Called when the user opens a row (the chat write window's read mode plugs in here).
    static void setRowOpener(RowOpener opener);

protected:
    void onInitialUpdate() override;

private:
    std::intptr_t onNotify(ReportNotification& n);
    void drawPreview(ReportNotification& n);
    void openRow(int row);
    void insertRow(int i);

    QListWidget* m_columnChooser;
    // The numbers of the rows the control holds since the last reload, in order.
    std::vector<std::uint64_t> m_loadedSerials;
};

} // namespace orvalink::controls
