#pragma once

// The column chooser: a list box, given by the owner, that lists the defined columns which are
// not shown. Its entries look like headings (push buttons); dragging one onto the header shows
// the column where the header's hot divider marks.

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <memory>

class QListWidget;

class QStyledItemDelegate;

namespace orvalink::controls {

class CFlatHeaderDragWnd;
class CReportCtrl;

class ReportColumnChooser : public QObject {
    Q_OBJECT
public:
    ReportColumnChooser(CReportCtrl* ctrl, QListWidget* list);
    ~ReportColumnChooser() override;

    QListWidget* list() const { return m_guard ? m_list : nullptr; }
    void refill();
    bool dragging() const { return m_dragWnd != nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void beginDrag(QPoint globalPoint);
    void moveDrag(QPoint globalPoint);
    void endDrag(bool drop);

    CReportCtrl* m_ctrl;
    // The list box belongs to the owner and may go first. It is watched as a plain QObject: while
    // it is being destroyed it is no longer a QListWidget.
    QListWidget* m_list;
    QPointer<QObject> m_guard;
    QStyledItemDelegate* m_delegate = nullptr;
    int m_pressSubItem = -1;
    QPoint m_pressPoint;
    std::unique_ptr<CFlatHeaderDragWnd> m_dragWnd;
};

} // namespace orvalink::controls
