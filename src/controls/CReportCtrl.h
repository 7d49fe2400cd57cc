#pragma once

// The program's report list: rows of cells under a flat header, where every row may carry a
// preview area of its own height below its cells, drawn by the parent. Columns are defined once
// and shown or hidden at run time; rows sit in a display order that sorting rearranges without
// moving the rows themselves. Scrolling is by whole rows vertically and by pixels horizontally.
//
// Positions called "display positions" index the display order; "rows" index the row list. The
// rows, their order, selection, focus and what is in view live in a ReportModel; the control
// paints it and turns keys and clicks into the model's inputs.

#include "controls/ImageList.h"
#include "controls/ReportTypes.h"
#include "controls/model/ReportModel.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QListWidget;

class QScrollBar;

namespace orvalink::controls {

class CFlatHeaderCtrl;
class ReportColumnChooser;
struct HeaderNotification;

class CReportCtrl : public QWidget {
    Q_OBJECT
public:
    // The parent's side of the notifications; the return value is read as the table of
    // notifications says (non-zero can veto a state change, skip the own click handling, ...).
    using Notifier = std::function<std::intptr_t(ReportNotification&)>;
    using Comparer = std::function<int(int subItem, int row1, int row2)>;

    static constexpr int kMaxColors = 32;
    static constexpr int kDefaultColumnWidth = 200;

    CReportCtrl(int style, QWidget* parent, int id = 0);
    ~CReportCtrl() override;

    int id() const { return m_id; }
    void setNotifier(Notifier notifier) { m_notifier = std::move(notifier); }
    void setCompareCallback(Comparer compare) { m_comparer = std::move(compare); }
    // Where the text of a cell left empty comes from while its row is painted: a list whose texts are
    // read lazily holds no text of its own, and only the rows in view are asked for.
    using TextProvider = std::function<std::string(int row, int subItem)>;
    void setTextProvider(TextProvider provider) { m_textProvider = std::move(provider); }
    // Virtual rows: the list keeps no row of its own, only their display order and the states of the
    // rows selected or focused (ReportModel::setVirtualRows). The provider fills what a row's cell
    // shows apart from its text (image, check, colour; RCIS_BOLD in the state) when the row is
    // painted or asked for; the text comes from the text provider. A row's data is its row number.
    // Rows cannot be inserted or deleted one by one; deleteAllItems ends the virtual mode.
    using ItemProvider = std::function<void(ReportItem& item)>;
    bool setVirtualItems(int count, ItemProvider provider);

    // Columns.
    int defineSubItem(int position, const ReportSubItem& subItem, bool refreshChooser = true);
    bool undefineSubItem(int subItem);
    int activateSubItem(int subItem, int position);
    bool deactivateSubItem(int subItem);
    int subItemCount() const { return static_cast<int>(m_subItems.size()); }
    const ReportSubItem* subItem(int id) const;
    // Header index showing subItem, or -1.
    int headerIndexOf(int subItem) const;
    // Subitem ids of the shown columns, left to right.
    std::vector<int> shownSubItems() const;
    int totalWidth() const { return m_totalWidth; }

    // Rows.
    int insertItem(const ReportItem& item);
    int insertItem(int row, std::string_view text, int image = -1, int check = -1, int textColor = -1);
    bool setItem(const ReportItem& item);
    bool getItem(ReportItem& item) const;
    std::string getItemText(int row, int subItem) const;
    bool deleteItem(int row);
    // Deletes rows 0 to count - 1 in one step, with the result of deleting row 0 count times.
    bool deleteFirstItems(int count);
    bool deleteAllItems();
    int itemCount() const { return m_model.rowCount(); }
    // True while every row is shown at its own position (no sort has rearranged them).
    bool isNaturalOrder() const { return m_model.isNaturalOrder(); }
    int rowState(int row) const { return m_model.rowState(row); }
    int selectedCount() const { return m_model.selectedCount(); }
    int rowAt(int position) const { return m_model.rowAt(position); }
    int positionOf(int row) const { return m_model.positionOf(row); }
    const std::vector<int>& displayOrder() const { return m_model.displayOrder(); }
    const ReportModel& model() const { return m_model; }

    // Colours, images, chooser, header.
    int insertColor(int index, const QColor& color);
    bool deleteColor(int index);
    int colorCount() const { return static_cast<int>(m_colors.size()); }
    void setImageList(const ImageList& images);
    const ImageList& imageList() const { return m_images; }
    void setSubItemList(QListWidget* list);
    QListWidget* subItemList() const;
    CFlatHeaderCtrl* headerCtrl() const { return m_header; }

    int hitTest(ReportHitTest& hit) const;
    bool ensureVisible(int row, bool partialOk);
    bool sortItems(int subItem, bool ascending);
    virtual int compareItems(int subItem, int row1, int row2);

    int style() const { return m_style; }
    bool modifyStyle(int remove, int add);
    bool setProperty(int id, std::intptr_t value);

    // The saved column layout: "(n,m)", the width of every definition, the ids shown.
    std::string columnLayout() const;
    bool writeProfile(std::string_view section, std::string_view key) const;

    // Metrics and scrolling state.
    int rowHeight() const { return m_rowHeight; }
    QSize checkSize() const { return m_checkSize; }
    int spacing() const { return m_spacing; }
    QRect rowArea() const { return m_rowArea; }
    int firstVisible() const { return m_model.firstVisible(); }
    int horizontalPosition() const { return m_hpos; }
    int focusedPosition() const { return m_model.focusedPosition(); }
    int anchorPosition() const { return m_model.anchorPosition(); }
    // Rows that fit from position start forward (backward when backward is set).
    int rowsThatFit(int start, bool backward, bool partialOk) const
    {
        return m_model.rowsThatFit(start, backward, partialOk);
    }
    // The last scroll position: the first position from which the last row still fits.
    int bottomPosition() const { return m_model.bottomPosition(); }
    void scrollToPosition(int position);
    QScrollBar* verticalBar() const { return m_vbar; }
    QScrollBar* horizontalBar() const { return m_hbar; }

    // The colours in use (from the palette, so they follow the system's colour changes).
    QColor backgroundColor() const;
    QColor textColor() const;

protected:
    virtual void drawCell(QPainter& painter, QRect rect, const ReportItem& item);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    friend class ReportColumnChooser;
    using Row = ReportModel::Row;

    std::intptr_t notify(ReportNotification& n);
    std::intptr_t onHeaderNotify(HeaderNotification& n);
    void layout();
    // After rows were added, removed or changed height: the vertical range only, unless the
    // vertical scroll bar appears or goes (which changes the row area's width).
    void updateVerticalRange();
    // Writes the descriptor's fields; repaints when the row is in view.
    bool applyItem(const ReportItem& item, int position);
    void updateMetrics();
    void refreshHeaderOrder();
    void refillChooser();
    // Shows the model's first visible position on the scroll bar and repaints.
    void showModelScroll();
    ReportNotification mouseNotification(int code, QMouseEvent* event) const;
    void handlePress(QMouseEvent* event);
    void setHorizontalPosition(int pos);
    void drawRow(QPainter& p, int position, QRect rowRect, const QRect& paintArea);
    bool hasFocusForDrawing() const;

    int m_style;
    int m_id;
    Notifier m_notifier;
    Comparer m_comparer;
    TextProvider m_textProvider;
    ItemProvider m_itemProvider;
    CFlatHeaderCtrl* m_header = nullptr;
    QScrollBar* m_vbar = nullptr;
    QScrollBar* m_hbar = nullptr;
    std::unique_ptr<ReportColumnChooser> m_chooser;

    std::vector<ReportSubItem> m_subItems;
    ReportModel m_model;
    std::vector<QColor> m_colors;
    ImageList m_images;

    int m_spacing = 6;
    QSize m_checkSize{8, 8};
    std::string m_emptyText = "There are no items to show in this view.";
    Qt::PenStyle m_gridStyle = Qt::SolidLine;
    QFont m_boldFont;
    int m_rowHeight = 10;

    int m_totalWidth = 0;
    std::vector<int> m_headerOrder; // header indexes left to right, refreshed before painting
    bool m_columnsChanged = true;

    QRect m_rowArea;
    int m_hpos = 0; // horizontal scroll position in pixels
    bool m_inLayout = false;
    QPixmap m_buffer;
};

} // namespace orvalink::controls
