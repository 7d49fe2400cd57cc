#pragma once

// The right pane while a mail folder is shown: a find box over the folder's list (columns
// 差出人, 件名, 日付, サイズ). The list keeps no row of its own (its rows are virtual): only the
// display order and, while the find box filters, the numbers of the records shown; what the rows in
// view show is read from the folder's index as they are painted.
// Unread rows carry the unread image in bold; a click on a column header sorts by that column (the
// date by the moment it means, the size by number). Typing in the find box (Ctrl+F goes there)
// keeps only the rows whose sender or subject holds the text.

#include "app/MailRowSource.h"

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;

namespace orvalink::controls {
class CReportCtrl;
struct ReportItem;
} // namespace orvalink::controls

namespace orvalink::app {

class CMailListView : public QWidget {
    Q_OBJECT
public:
    // Opens the message of record `index` of the shown folder (the read window plugs in here).
    using Opener = std::function<void(const MailRowSource& source, int index)>;

    explicit CMailListView(QWidget* parent = nullptr);
    ~CMailListView() override;

    // Shows the folder named `folderName` (code page 932) whose files are `folderPath` (a
    // file-system path without extension).
    void showFolder(const std::string& folderName, const std::string& folderPath);
    // Reads the shown folder's index again (a download filed messages into it).
    void reload();
    const std::string& folderName() const { return m_folderName; }
    const MailRowSource& source() const { return m_source; }

    controls::CReportCtrl* reportCtrl() const { return m_ctrl; }
    QLineEdit* findBox() const { return m_find; }
    // The line saying that part of the index could not be read (hidden when all of it could).
    QLabel* noticeLabel() const { return m_notice; }

    int shownCount() const;
    int selectedCount() const;
    // The record shown in list row `row` (not display position), or -1.
    int sourceIndex(int row) const;
    // Opens list row `row`: marks it read (its status word in the index file) and hands it to the
    // opener.
    void openRow(int row);
    void setOpener(Opener opener) { m_opener = std::move(opener); }
    // Marks record `index` read, in the file and in the list.
    void markRead(int index);
    // Sorts by the column, its keys taken once for the sort and let go after it (a header click).
    void sortBy(int subItem, bool ascending);

signals:
    // The folder's count, its unread count or the selected count changed.
    void countsChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void fillRows();
    void applyFilter();
    // What a row shows besides its texts: the unread image and bold, or the read image.
    void describeRow(controls::ReportItem& item) const;

    QLineEdit* m_find = nullptr;
    QLabel* m_notice = nullptr;
    controls::CReportCtrl* m_ctrl = nullptr;
    MailRowSource m_source;
    std::string m_folderName;
    std::string m_filter;
    // The records shown while the find box filters, in record order; empty shows every record.
    std::vector<std::uint32_t> m_shown;
    Opener m_opener;
};

} // namespace orvalink::app
