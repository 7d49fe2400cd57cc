#pragma once

// A view that hosts one CReportCtrl filling its client area. The control is created once, on the
// view's first update; the view keeps it sized to its client area and passes the focus to it.

#include <QWidget>

namespace orvalink::controls {

class CReportCtrl;

class CReportView : public QWidget {
    Q_OBJECT
public:
    explicit CReportView(QWidget* parent = nullptr);
    ~CReportView() override;

    // The first update: creates the control (once), then lets the derived view set it up.
    void initialUpdate();
    CReportCtrl* reportCtrl() const { return m_ctrl; }

protected:
    virtual void onInitialUpdate() {}
    void resizeEvent(QResizeEvent* event) override;

private:
    CReportCtrl* m_ctrl = nullptr;
};

} // namespace orvalink::controls
