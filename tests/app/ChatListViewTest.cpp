#include "app/CChatListView.h"
#include "app/ChatRowSource.h"
#include "chat/ChatGroupTable.h"
#include "controls/CFlatHeaderCtrl.h"
#include "controls/CReportCtrl.h"
#include "controls/ControlsTestSupport.h"
#include "controls/ReportRowSource.h"
#include "controls/TextContrast.h"
#include "platform/Profile.h"
#include "res/ResourceIds.h"
#include "support/SettingsSandbox.h"

#include <QListWidget>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

namespace orvalink::app {

using chat::ChatGroupTable;
using chat::ChatRow;
using chat::RowKind;
using namespace controls;

namespace {

const QColor kHighlight(0, 0, 128);

class ChatListViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        chatTable.clear();
        window = std::make_unique<QWidget>();
        window->resize(700, 600);
        chooser = new QListWidget(window.get());
        chooser->hide();
        auto rows = std::make_unique<ChatRowSource>(chatTable);
        source = rows.get();
        view = new CChatListView(window.get(), chooser, std::move(rows));
        view->setGeometry(0, 0, 600, 500);
        QPalette pal = view->palette();
        pal.setColor(QPalette::Base, Qt::white);
        pal.setColor(QPalette::Highlight, kHighlight);
        pal.setColor(QPalette::HighlightedText, Qt::white);
        view->setPalette(pal);
        showActive(window.get());
        CChatListView::setRowOpener(
            [this](int row, const std::string& header, const std::string& body, const std::string& from) {
                opened.push_back({row, header, body, from});
            });
    }
    void TearDown() override
    {
        CChatListView::setRowOpener(nullptr);
        window.reset();
        chatTable.clear();
    }
    CReportCtrl* ctrl() const { return view->reportCtrl(); }
    void arrive(ChatRow row, int g = 0)
    {
        chatTable.groups[static_cast<std::size_t>(g)].rows.push_back(std::move(row));
        showGroup(g);
    }
    void showGroup(int g)
    {
        source->setGroup(g);
        view->reloadRows();
    }
    int rowTop(int position) const
    {
        int y = ctrl()->rowArea().top();
        for (int p = ctrl()->firstVisible(); p < position; ++p) {
            ReportItem item;
            item.item = ctrl()->rowAt(p);
            item.subItem = 0;
            ctrl()->getItem(item);
            y += ctrl()->rowHeight() + item.preview;
        }
        return y;
    }

    struct Opened {
        int row;
        std::string header;
        std::string body;
        std::string from;
    };
    orvalink::test::SettingsSandbox settings;
    ChatGroupTable chatTable;
    std::unique_ptr<QWidget> window;
    QListWidget* chooser = nullptr;
    CChatListView* view = nullptr;
    ChatRowSource* source = nullptr;
    std::vector<Opened> opened;
};

TEST_F(ChatListViewTest, InitialUpdateSetsUpOneMessageColumn)
{
    ASSERT_NE(ctrl(), nullptr);
    EXPECT_EQ(ctrl()->style(), RCS_SINGLESEL | RCS_REMOVECOLUMNS);
    ASSERT_EQ(ctrl()->subItemCount(), 1);
    EXPECT_EQ(ctrl()->subItem(0)->text, "Message");
    EXPECT_EQ(ctrl()->subItem(0)->width, 800);
    EXPECT_EQ(ctrl()->shownSubItems(), std::vector<int>{0});
    EXPECT_EQ(ctrl()->colorCount(), 5);
    EXPECT_FALSE(ctrl()->headerCtrl()->style() & HDS_DRAGDROP);
    EXPECT_EQ(ctrl()->headerCtrl()->property(FH_PROPERTY_DRAGCURSOR), res::kCursorRemoveColumn);
    EXPECT_EQ(ctrl()->imageList().imageWidth(), 16);
    EXPECT_GT(ctrl()->imageList().count(), res::kReportImageRead);
    EXPECT_EQ(ctrl()->subItemList(), chooser);
    EXPECT_GE(ctrl()->rowHeight(), 16); // raised to the image height
    EXPECT_EQ(ctrl()->geometry(), view->rect());
}

TEST_F(ChatListViewTest, ReloadBuildsUnreadPersonalAndReadRows)
{
    auto& rows = chatTable.groups[0].rows;
    rows.push_back(ChatRow{"alice  2026/12/07  10:00:00", 30, "hi all", RowKind::Message, true});
    rows.push_back(ChatRow{"bob|home  2026/12/07  10:01:00", 45, "just you", RowKind::PersonalMessage, true});
    rows.push_back(ChatRow{"carol  2026/12/07  10:02:00", 30, "old news", RowKind::Message, false});
    showGroup(0);
    ASSERT_EQ(ctrl()->itemCount(), 3);
    struct Expect {
        int mask;
        int image;
        int preview;
        int background;
        int textColor;
        std::intptr_t data;
    } expected[] = {
        {RCIF_TEXT | RCIF_PREVIEW | RCIF_STATE | RCIF_DATA, -1, 30, -1, -1, 0},
        {RCIF_TEXT | RCIF_PREVIEW | RCIF_STATE | RCIF_DATA | RCIF_BKCOLOR | RCIF_TEXTCOLOR, -1, 45, 4, 2, 1},
        {RCIF_TEXT | RCIF_IMAGE | RCIF_STATE | RCIF_DATA, res::kReportImageRead, 0, -1, -1, 0},
    };
    for (int i = 0; i < 3; ++i) {
        ReportItem item;
        item.item = i;
        item.subItem = 0;
        ASSERT_TRUE(ctrl()->getItem(item));
        EXPECT_EQ(item.text, rows[static_cast<std::size_t>(i)].header) << i;
        EXPECT_EQ(item.mask, expected[i].mask) << i;
        EXPECT_EQ(item.image, expected[i].image) << i;
        EXPECT_EQ(item.preview, expected[i].preview) << i;
        EXPECT_EQ(item.background, expected[i].background) << i;
        EXPECT_EQ(item.textColor, expected[i].textColor) << i;
        EXPECT_EQ(item.state, RCIS_BOLD) << i;
        EXPECT_EQ(item.data, expected[i].data) << i;
    }
}

TEST_F(ChatListViewTest, PaintsPersonalRowsReadRowsAndThePreviewText)
{
    auto& rows = chatTable.groups[0].rows;
    rows.push_back(ChatRow{"alice", 40, "WWWW", RowKind::Message, true});
    rows.push_back(ChatRow{"bob", 40, "WWWW", RowKind::PersonalMessage, true});
    rows.push_back(ChatRow{"carol", 40, "never shown", RowKind::Message, false});
    showGroup(0);
    const int r = ctrl()->rowHeight();
    const QImage img = grabImage(ctrl());
    const int right = ctrl()->rowArea().width() - 20;

    // Personal row: colour 4 behind it, its header in colour 2 made readable on it.
    EXPECT_EQ(img.pixelColor(right, rowTop(1) + r / 2), QColor(125, 84, 126));
    EXPECT_EQ(img.pixelColor(right, rowTop(1) + r + 20), QColor(125, 84, 126));
    EXPECT_GT(controls::countColour(img, QRect(0, rowTop(1), 100, r),
                                    controls::legibleOn(QColor(0, 64, 128), QColor(125, 84, 126)), 24),
              0);
    EXPECT_EQ(img.pixelColor(right, rowTop(0) + r / 2), QColor(Qt::white));

    // Preview text: in the highlight colour, 40 pixels in and 2 below the cell band.
    const QRect preview(0, rowTop(0) + r, right, 40);
    const QRect ink = controls::inkBox(img, preview, Qt::white);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_GE(ink.left(), 40);
    EXPECT_LE(ink.left(), 43);
    EXPECT_GE(ink.top(), rowTop(0) + r + 2);
    EXPECT_GT(controls::countColour(img, preview, kHighlight, 40), 0);

    // Read row: one line with image 4 at the cell's left, nothing below it.
    EXPECT_EQ(rowTop(3) - rowTop(2), r);
    const QImage readImage =
        ctrl()->imageList().image(res::kReportImageRead).toImage().convertToFormat(QImage::Format_RGB32);
    const int imageTop = rowTop(2) + (r - 16) / 2;
    const int sp = ctrl()->spacing();
    int same = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            if (readImage.pixelColor(x, y) != QColor(255, 0, 255) &&
                img.pixelColor(sp + x, imageTop + y) == readImage.pixelColor(x, y))
                ++same;
    EXPECT_GT(same, 30);
    // Magenta is transparent.
    EXPECT_EQ(controls::countColour(img, QRect(sp, imageTop, 16, 16), QColor(255, 0, 255), 0), 0);
}

// The pixel of rect that stands out most from background: the colour the text was drawn in.
QColor inkOf(const QImage& img, QRect rect, QColor background)
{
    QColor best = background;
    rect = rect.intersected(img.rect());
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (controls::contrastRatio(img.pixelColor(x, y), background) > controls::contrastRatio(best, background))
                best = img.pixelColor(x, y);
    return best;
}

TEST_F(ChatListViewTest, RowTextIsReadableOnTheRowsColour)
{
    // A palette whose highlight is a middle blue: white on it is under 4.5 too.
    QPalette pal = view->palette();
    pal.setColor(QPalette::Highlight, QColor(48, 140, 198));
    view->setPalette(pal);
    QFont big = ctrl()->font();
    big.setPixelSize(20);
    ctrl()->setFont(big);
    auto& rows = chatTable.groups[0].rows;
    rows.push_back(ChatRow{"WWWW", 40, "WWWW", RowKind::Message, true});
    rows.push_back(ChatRow{"WWWW", 40, "WWWW", RowKind::PersonalMessage, true});
    showGroup(0);
    ctrl()->setFocus();
    const struct {
        const char* what;
        int row;
        bool selected;
        QColor background;
    } cases[] = {
        {"personal row", 1, false, QColor(125, 84, 126)},
        {"selected personal row", 1, true, QColor(48, 140, 198)},
        {"selected row", 0, true, QColor(48, 140, 198)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ReportItem state;
        state.item = c.row;
        state.subItem = 0;
        state.mask = RCIF_STATE;
        state.state = RCIS_BOLD | (c.selected ? RCIS_SELECTED : 0);
        ctrl()->setItem(state);
        const int r = ctrl()->rowHeight();
        const QImage img = grabImage(ctrl());
        const int right = ctrl()->rowArea().width() - 20;
        const QColor bg = img.pixelColor(right, rowTop(c.row) + r / 2);
        ASSERT_EQ(bg, c.background);
        const QColor header = inkOf(img, QRect(0, rowTop(c.row), 200, r), bg);
        const QColor preview = inkOf(img, QRect(40, rowTop(c.row) + r, 200, 36), bg);
        EXPECT_GE(controls::contrastRatio(header, bg), 4.5) << header.name().toStdString();
        EXPECT_GE(controls::contrastRatio(preview, bg), 4.5) << preview.name().toStdString();
        state.state = RCIS_BOLD;
        ctrl()->setItem(state);
    }
}

TEST_F(ChatListViewTest, ASortedListStaysSortedAsRowsArrive)
{
    for (int i = 10; i < 40; ++i)
        arrive(ChatRow{"n" + std::to_string(i), 30, "text", RowKind::Message, true});
    const int last = ctrl()->itemCount() - 1;
    view->ensureRowVisible(last); // as the main window keeps the newest row in view
    ASSERT_GT(ctrl()->firstVisible(), 0);

    // A descending sort: the newest row, at the top now, stays in view.
    ctrl()->sortItems(0, false);
    EXPECT_EQ(ctrl()->rowAt(0), last);
    EXPECT_EQ(ctrl()->firstVisible(), 0);

    // A row arrives: it takes its place in the chosen order and the arrow still says descending.
    arrive(ChatRow{"n40", 30, "text", RowKind::Message, true});
    view->ensureRowVisible(ctrl()->itemCount() - 1);
    bool ascending = true;
    EXPECT_EQ(ctrl()->headerCtrl()->sortColumn(&ascending), ctrl()->headerIndexOf(0));
    EXPECT_FALSE(ascending);
    ASSERT_EQ(ctrl()->itemCount(), 31);
    for (int p = 0; p < ctrl()->itemCount(); ++p)
        EXPECT_EQ(ctrl()->getItemText(ctrl()->rowAt(p), 0), "n" + std::to_string(40 - p)) << p;
    EXPECT_EQ(ctrl()->firstVisible(), 0);

    // Ascending again, and a row whose text sorts first goes to the top.
    ctrl()->sortItems(0, true);
    arrive(ChatRow{"a", 30, "text", RowKind::Message, true});
    EXPECT_EQ(ctrl()->getItemText(ctrl()->rowAt(0), 0), "a");
    EXPECT_EQ(ctrl()->getItemText(ctrl()->rowAt(ctrl()->itemCount() - 1), 0), "n40");
}

TEST_F(ChatListViewTest, ALongMessageShowsWhatItsStartWouldShow)
{
    // Only the start of a long text is laid out: what shows must be what the whole text shows.
    // Each body is drawn alone and compared with a short one that holds just enough to fill the
    // preview (and still ends in the ellipsis).
    std::string words;
    for (int i = 0; words.size() < 60000; ++i)
        words += "word" + std::to_string(i) + (i % 17 == 16 ? "\r\n" : (i % 5 == 4 ? "\t" : " "));
    const std::string unbroken(60000, 'x');
    for (const std::string& body : {words, unbroken}) {
        QImage shown[2];
        for (int k = 0; k < 2; ++k) {
            chatTable.groups[0].rows.clear();
            arrive(ChatRow{"sender", 78, k == 0 ? body : body.substr(0, 3000), RowKind::Message, true});
            shown[k] = grabImage(ctrl());
        }
        EXPECT_TRUE(shown[0] == shown[1]) << body.substr(0, 20);
        const QRect preview(0, rowTop(0) + ctrl()->rowHeight(), ctrl()->rowArea().width(), 70);
        EXPECT_FALSE(controls::inkBox(shown[0], preview, Qt::white).isEmpty());
    }
}

TEST_F(ChatListViewTest, OpeningAnUnreadRowCollapsesItAtOnce)
{
    arrive(ChatRow{"alice", 30, "first", RowKind::Message, true});
    arrive(ChatRow{"bob", 30, "second", RowKind::Message, true, 0, "10.0.0.2#12121#bob"});
    const int r = ctrl()->rowHeight();
    QTest::mouseDClick(ctrl(), Qt::LeftButton, {}, QPoint(50, rowTop(1) + r / 2));
    ReportItem item;
    item.item = 1;
    item.subItem = 0;
    ASSERT_TRUE(ctrl()->getItem(item));
    EXPECT_EQ(item.image, res::kReportImageRead);
    EXPECT_EQ(item.preview, 0);
    EXPECT_EQ(item.state & ~RCIS_FOCUSED & ~RCIS_SELECTED, 0); // not bold any more
    EXPECT_EQ(item.text, "bob");
    EXPECT_FALSE(chatTable.groups[0].rows[1].unread);
    EXPECT_TRUE(chatTable.groups[0].rows[0].unread);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].row, 1);
    EXPECT_EQ(opened[0].header, "bob");
    EXPECT_EQ(opened[0].body, "second");
    EXPECT_EQ(opened[0].from, "10.0.0.2#12121#bob"); // a reply goes to the member who sent it
    // The next reload keeps it read.
    showGroup(0);
    item.item = 1;
    ASSERT_TRUE(ctrl()->getItem(item));
    EXPECT_EQ(item.image, res::kReportImageRead);
}

TEST_F(ChatListViewTest, OpeningARowOfACappedTableMarksTheRightChatRow)
{
    auto& rows = chatTable.groups[0].rows;
    for (int i = 0; i < kPaneRowCapacity + 2; ++i)
        rows.push_back(ChatRow{"m" + std::to_string(i), 0, "b" + std::to_string(i), RowKind::Message, true});
    showGroup(0);
    ASSERT_EQ(ctrl()->itemCount(), kPaneRowCapacity);
    QTest::mouseDClick(ctrl(), Qt::LeftButton, {}, QPoint(50, rowTop(0) + ctrl()->rowHeight() / 2));
    EXPECT_FALSE(rows[2].unread);
    EXPECT_TRUE(rows[0].unread);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].header, "m2");
}

// A source that says it holds more rows than the pane can list.
class CountedRows : public ReportRowSource {
public:
    int count = 0;
    int rowCount() const override { return count; }
    ReportSourceRow row(int i) const override
    {
        if (i < 0 || i >= kPaneRowCapacity)
            std::abort(); // read past what the pane lists
        headers[static_cast<std::size_t>(i)] = "h" + std::to_string(i);
        ReportSourceRow r;
        r.header = headers[static_cast<std::size_t>(i)];
        r.unread = i % 2;
        r.height = 20;
        return r;
    }
    std::string_view body(int) const override { return "body"; }
    int find(std::uint64_t, int hint) const override { return hint < std::min(count, kPaneRowCapacity) ? hint : -1; }
    void markRead(int) override {}
    mutable std::vector<std::string> headers = std::vector<std::string>(kPaneRowCapacity);
};

TEST_F(ChatListViewTest, ReloadOfAFullSourceNeverReadsPastWhatThePaneLists)
{
    auto rows = std::make_unique<CountedRows>();
    CountedRows* counted = rows.get();
    auto* full = new CChatListView(window.get(), nullptr, std::move(rows));
    full->setGeometry(0, 0, 600, 500);
    full->show();
    CReportCtrl* list = full->reportCtrl();
    for (int count : {kPaneRowCapacity, kPaneRowCapacity + 500, 0}) {
        counted->count = count;
        full->reloadRows();
        EXPECT_EQ(list->itemCount(), std::min(count, kPaneRowCapacity)) << count;
    }
    counted->count = kPaneRowCapacity;
    full->reloadRows();
    full->ensureRowVisible(kPaneRowCapacity - 1);
    EXPECT_EQ(list->getItemText(kPaneRowCapacity - 1, 0), "h" + std::to_string(kPaneRowCapacity - 1));
    EXPECT_EQ(list->firstVisible(), list->bottomPosition());
    EXPECT_GT(list->firstVisible(), 0);
}

// The shown group's rows, counting what the pane reads of them.
class WatchedRows : public ChatRowSource {
public:
    explicit WatchedRows(ChatGroupTable& table) : ChatRowSource(table) {}
    mutable int rowsRead = 0;
    mutable int bodiesRead = 0;
    ReportSourceRow row(int i) const override
    {
        ++rowsRead;
        return ChatRowSource::row(i);
    }
    std::string_view body(int i) const override
    {
        ++bodiesRead;
        return ChatRowSource::body(i);
    }
};

TEST_F(ChatListViewTest, ARefreshReadsWhatChangedAndAPaintWhatShows)
{
    auto& rows = chatTable.groups[0].rows;
    for (int i = 0; i < kPaneRowCapacity; ++i)
        rows.push_back(ChatRow{"m" + std::to_string(i), 30, "b" + std::to_string(i), RowKind::Message, true,
                               ChatGroupTable::nextRowSerial()});
    auto watched = std::make_unique<WatchedRows>(chatTable);
    WatchedRows* counted = watched.get();
    auto* pane = new CChatListView(window.get(), nullptr, std::move(watched));
    pane->setGeometry(0, 0, 600, 500);
    pane->show();
    counted->setGroup(0);
    pane->rowsChanged();
    ASSERT_EQ(pane->reportCtrl()->itemCount(), kPaneRowCapacity);

    // Three arrivals in the full group: three rows leave the top, three come in at the bottom.
    for (int k = 0; k < 3; ++k) {
        rows.pop_front();
        rows.push_back(
            ChatRow{"new" + std::to_string(k), 30, "nb", RowKind::Message, true, ChatGroupTable::nextRowSerial()});
    }
    counted->rowsRead = 0;
    counted->bodiesRead = 0;
    pane->rowsChanged();
    EXPECT_LE(counted->rowsRead, 3 + 2); // the new rows, and the two ends of the rows that stay
    EXPECT_EQ(counted->bodiesRead, 0);
    CReportCtrl* list = pane->reportCtrl();
    ASSERT_EQ(list->itemCount(), kPaneRowCapacity);
    for (int i : {0, 1, 4000, kPaneRowCapacity - 4, kPaneRowCapacity - 1})
        EXPECT_EQ(list->getItemText(i, 0), rows[static_cast<std::size_t>(i)].header) << i;
    EXPECT_EQ(list->firstVisible(), list->bottomPosition()); // the newest row in view

    // A paint reads the bodies of the rows in view only.
    (void)grabImage(list);
    EXPECT_GT(counted->bodiesRead, 0);
    EXPECT_LE(counted->bodiesRead, list->rowsThatFit(list->firstVisible(), false, true));
}

TEST_F(ChatListViewTest, ACheckBoxClickFlipsTheCell)
{
    arrive(ChatRow{"alice", 0, "x", RowKind::Message, true});
    ReportItem item;
    item.item = 0;
    item.subItem = 0;
    item.mask = RCIF_CHECK;
    item.check = 0;
    ctrl()->setItem(item);
    const QPoint onBox(ctrl()->spacing() + 2, rowTop(0) + ctrl()->rowHeight() / 2);
    QTest::mouseClick(ctrl(), Qt::LeftButton, {}, onBox);
    ASSERT_TRUE(ctrl()->getItem(item));
    EXPECT_EQ(item.check, 1);
    QTest::mouseClick(ctrl(), Qt::LeftButton, {}, QPoint(200, rowTop(0) + 2));
    ASSERT_TRUE(ctrl()->getItem(item));
    EXPECT_EQ(item.check, 1); // a click beside the box leaves it
}

TEST_F(ChatListViewTest, DestructionWritesTheColumnLayout)
{
    window.reset();
    EXPECT_EQ(platform::Profile::application().getString("Settings", "ReportCtrl"), "(1,1) 800 0");
}

} // namespace

} // namespace orvalink::app
