#include "controls/CReportView.h"

#include "controls/CReportCtrl.h"

namespace orvalink::controls {

CReportView::CReportView(QWidget* parent) : QWidget(parent)
{
    // The control covers the whole client area; the view never paints a background of its own.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
}

CReportView::~CReportView() = default;

void CReportView::initialUpdate()
{
    if (m_ctrl)
        return;
    m_ctrl = new CReportCtrl(0, this, 0);
    m_ctrl->setGeometry(rect());
    m_ctrl->show();
    setFocusProxy(m_ctrl);
    setFocusPolicy(Qt::StrongFocus);
    onInitialUpdate();
}

void CReportView::resizeEvent(QResizeEvent*)
{
    if (m_ctrl)
        m_ctrl->setGeometry(rect());
}

} // namespace orvalink::controls
