#include "controls/ReportColumnChooser.h"

#include "controls/CFlatHeaderCtrl.h"
#include "controls/CFlatHeaderDragWnd.h"
#include "controls/CReportCtrl.h"
#include "platform/TextCodec.h"

#include <QApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <qdrawutil.h>

namespace orvalink::controls {

namespace {

// Entries look like headings: push buttons, pressed while selected.
class ChooserEntryDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const bool pressed = option.state & QStyle::State_Selected;
        p->fillRect(option.rect, option.palette.color(QPalette::Button));
        qDrawShadePanel(p, option.rect, option.palette, pressed, 1);
        p->setPen(option.palette.color(QPalette::ButtonText));
        p->drawText(option.rect.adjusted(6 + (pressed ? 1 : 0), pressed ? 1 : 0, -6, 0),
                    Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, index.data(Qt::DisplayRole).toString());
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(option.fontMetrics.height() + 6);
        return s;
    }
};

} // namespace

ReportColumnChooser::ReportColumnChooser(CReportCtrl* ctrl, QListWidget* list)
    : m_ctrl(ctrl), m_list(list), m_guard(list)
{
    m_delegate = new ChooserEntryDelegate(list);
    list->setItemDelegate(m_delegate);
    list->setBackgroundRole(QPalette::Base);
    list->viewport()->installEventFilter(this);
    list->installEventFilter(this);
}

ReportColumnChooser::~ReportColumnChooser()
{
    m_dragWnd.reset();
    if (m_guard) {
        m_list->viewport()->removeEventFilter(this);
        m_list->removeEventFilter(this);
        if (m_list->itemDelegate() == m_delegate)
            m_list->setItemDelegate(nullptr);
        delete m_delegate;
    }
}

void ReportColumnChooser::refill()
{
    if (!m_guard)
        return;
    m_list->clear();
    for (int id = 0; id < m_ctrl->subItemCount(); ++id) {
        if (m_ctrl->headerIndexOf(id) >= 0)
            continue;
        auto* entry = new QListWidgetItem(platform::toQString(m_ctrl->subItem(id)->text));
        entry->setData(Qt::UserRole, id);
        m_list->addItem(entry);
    }
}

bool ReportColumnChooser::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease &&
        type != QEvent::KeyPress)
        return false;
    if (!m_guard)
        return false;
    switch (type) {
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (watched != m_list->viewport() || e->button() != Qt::LeftButton)
            return false;
        QListWidgetItem* entry = m_list->itemAt(e->position().toPoint());
        m_pressSubItem = entry ? entry->data(Qt::UserRole).toInt() : -1;
        m_pressPoint = e->position().toPoint();
        return false;
    }
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (m_dragWnd) {
            moveDrag(e->globalPosition().toPoint());
            return true;
        }
        if (m_pressSubItem >= 0 && (e->buttons() & Qt::LeftButton) &&
            (e->position().toPoint() - m_pressPoint).manhattanLength() >= QApplication::startDragDistance()) {
            beginDrag(e->globalPosition().toPoint());
            return true;
        }
        return false;
    }
    case QEvent::MouseButtonRelease: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (m_dragWnd && e->button() == Qt::LeftButton) {
            moveDrag(e->globalPosition().toPoint());
            endDrag(true);
            return true;
        }
        m_pressSubItem = -1;
        return false;
    }
    case QEvent::KeyPress:
        if (m_dragWnd && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            endDrag(false);
            return true;
        }
        return false;
    default:
        return false;
    }
}

void ReportColumnChooser::beginDrag(QPoint globalPoint)
{
    const ReportSubItem* def = m_ctrl->subItem(m_pressSubItem);
    if (!def)
        return;
    CFlatHeaderCtrl* header = m_ctrl->headerCtrl();
    HeaderItem heading;
    heading.width = def->width < 0 ? CReportCtrl::kDefaultColumnWidth : def->width;
    heading.format = def->format & (HDF_JUSTIFYMASK | HDF_IMAGE | HDF_STRING);
    heading.text = def->text;
    heading.image = def->image;
    const QSize size(heading.width, header->layoutHeight());
    m_dragWnd = std::make_unique<CFlatHeaderDragWnd>(QRect(globalPoint, size), header, heading);
    m_dragWnd->show();
    m_list->viewport()->grabMouse();
    moveDrag(globalPoint);
}

void ReportColumnChooser::moveDrag(QPoint globalPoint)
{
    m_dragWnd->centreOn(globalPoint);
    CFlatHeaderCtrl* header = m_ctrl->headerCtrl();
    const QPoint inHeader = header->mapFromGlobal(globalPoint);
    const QPoint inList = m_list->mapFromGlobal(globalPoint);
    if (header->isVisible() && header->rect().contains(inHeader)) {
        header->setHotDividerAt(globalPoint);
        m_list->viewport()->setCursor(Qt::ArrowCursor);
    } else {
        header->setHotDivider(-1);
        m_list->viewport()->setCursor(m_list->rect().contains(inList) ? QCursor(Qt::ArrowCursor)
                                                                      : QCursor(Qt::ForbiddenCursor));
    }
}

void ReportColumnChooser::endDrag(bool drop)
{
    CFlatHeaderCtrl* header = m_ctrl->headerCtrl();
    const int divider = header->hotDivider();
    const int id = m_dragWnd ? m_pressSubItem : -1;
    m_dragWnd.reset();
    header->setHotDivider(-1);
    m_list->viewport()->releaseMouse();
    m_list->viewport()->setCursor(Qt::ArrowCursor);
    m_pressSubItem = -1;
    if (drop && divider >= 0 && id >= 0)
        m_ctrl->activateSubItem(id, divider);
}

} // namespace orvalink::controls
