#include "platform/MessageBox.h"

#include "platform/TextCodec.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <future>
#include <memory>
#include <mutex>

namespace orvalink::platform {

namespace {

std::mutex g_responderMutex;
std::function<int(const MessageBoxCall&)> g_messageBoxResponder;
std::function<std::optional<std::string>(std::string_view)> g_folderResponder;
std::function<std::optional<std::string>(std::string_view)> g_saveFileResponder;

// Runs f on the GUI thread and returns its result; the caller blocks meanwhile. Without an
// application object there is no GUI thread: nothing runs and fallback is returned.
template <typename R, typename F> R onGuiThread(F f, R fallback)
{
    auto* app = QCoreApplication::instance();
    if (!app || !qobject_cast<QApplication*>(app))
        return fallback;
    if (app->thread() == QThread::currentThread())
        return f();
    // The answer comes back through a promise, an ordering ThreadSanitizer sees (a blocking queued
    // call waits on Qt's own semaphore, which it does not). A call the GUI thread drops unrun (the
    // application going) answers the fallback, as the blocking call returned then.
    struct Answer {
        std::promise<R> promise;
        R fallback;
        bool given = false;
        ~Answer()
        {
            if (!given)
                promise.set_value(fallback);
        }
    };
    auto answer = std::make_shared<Answer>();
    answer->fallback = fallback;
    std::future<R> result = answer->promise.get_future();
    QMetaObject::invokeMethod(
        app,
        [answer, &f] {
            answer->promise.set_value(f());
            answer->given = true;
        },
        Qt::QueuedConnection);
    answer.reset();
    return result.get();
}

int showMessageBox(const QString& text, const QString& caption, unsigned type)
{
    QMessageBox box;
    box.setWindowTitle(caption);
    box.setText(text);
    switch (type & 0xF0) {
    case MB_ICONSTOP:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case MB_ICONEXCLAMATION:
        box.setIcon(QMessageBox::Warning);
        break;
    case MB_ICONINFORMATION:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    switch (type & 0xF) {
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case MB_YESNOCANCEL:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    }
    // The default button: the first unless the caller names the second or third.
    const QList<QAbstractButton*> order = [&box] {
        QList<QAbstractButton*> buttons;
        for (QMessageBox::StandardButton b : {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel})
            if (QAbstractButton* button = box.button(b))
                buttons.append(button);
        return buttons;
    }();
    const int defaultIndex = (type & MB_DEFBUTTON3) == MB_DEFBUTTON3 ? 2 : (type & MB_DEFBUTTON2) ? 1 : 0;
    if (defaultIndex < order.size())
        box.setDefaultButton(qobject_cast<QPushButton*>(order[defaultIndex]));
    switch (box.exec()) {
    case QMessageBox::Ok:
        return IDOK;
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return IDCANCEL;
    }
}

} // namespace

void setMessageBoxResponder(std::function<int(const MessageBoxCall&)> responder)
{
    std::lock_guard lock(g_responderMutex);
    g_messageBoxResponder = std::move(responder);
}

void setFolderPickerResponder(std::function<std::optional<std::string>(std::string_view title)> responder)
{
    std::lock_guard lock(g_responderMutex);
    g_folderResponder = std::move(responder);
}

int messageBox(std::string_view text, std::string_view caption, unsigned type)
{
    std::function<int(const MessageBoxCall&)> responder;
    {
        std::lock_guard lock(g_responderMutex);
        responder = g_messageBoxResponder;
    }
    if (responder)
        return responder(MessageBoxCall{std::string(text), std::string(caption), type});
    const QString qText = toQString(text);
    const QString qCaption = toQString(caption);
    return onGuiThread<int>([&] { return showMessageBox(qText, qCaption, type); }, 0);
}

void postMessageBox(std::string text, std::string caption, unsigned type)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        messageBox(text, caption, type);
        return;
    }
    QMetaObject::invokeMethod(
        app, [text = std::move(text), caption = std::move(caption), type] { messageBox(text, caption, type); },
        Qt::QueuedConnection);
}

std::optional<std::string> pickFolder(std::string_view title, std::string_view initialFolder)
{
    std::function<std::optional<std::string>(std::string_view)> responder;
    {
        std::lock_guard lock(g_responderMutex);
        responder = g_folderResponder;
    }
    if (responder)
        return responder(title);
    const QString qTitle = toQString(title);
    const QString qInitial = QString::fromStdString(toFileName(initialFolder));
    const QString chosen =
        onGuiThread<QString>([&] { return QFileDialog::getExistingDirectory(nullptr, qTitle, qInitial); }, QString());
    if (chosen.isEmpty())
        return std::nullopt;
    const QByteArray utf8 = chosen.toUtf8();
    const std::string_view utf8View(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    std::string path = fromFileName(utf8View);
    if (toFileName(path) != utf8View)
        return std::nullopt; // a name code page 932 cannot hold: the program could not open it again
    return path;
}

std::optional<std::string> pickFolderPath(std::string_view title, std::string_view initialPath)
{
    std::function<std::optional<std::string>(std::string_view)> responder;
    {
        std::lock_guard lock(g_responderMutex);
        responder = g_folderResponder;
    }
    if (responder)
        return responder(title);
    const QString qTitle = toQString(title);
    const QString qInitial =
        QFile::decodeName(QByteArray(initialPath.data(), static_cast<qsizetype>(initialPath.size())));
    const QString chosen =
        onGuiThread<QString>([&] { return QFileDialog::getExistingDirectory(nullptr, qTitle, qInitial); }, QString());
    if (chosen.isEmpty())
        return std::nullopt;
    const QByteArray path = QFile::encodeName(chosen);
    return std::string(path.constData(), static_cast<std::size_t>(path.size()));
}

void setSaveFilePickerResponder(std::function<std::optional<std::string>(std::string_view suggestedName)> responder)
{
    std::lock_guard lock(g_responderMutex);
    g_saveFileResponder = std::move(responder);
}

std::optional<std::string> pickSaveFilePath(std::string_view title, std::string_view suggestedName,
                                            std::string_view initialPath)
{
    std::function<std::optional<std::string>(std::string_view)> responder;
    {
        std::lock_guard lock(g_responderMutex);
        responder = g_saveFileResponder;
    }
    if (responder)
        return responder(suggestedName);
    const QString qTitle = toQString(title);
    QString start = QFile::decodeName(QByteArray(initialPath.data(), static_cast<qsizetype>(initialPath.size())));
    if (!start.isEmpty() && !start.endsWith(u'/'))
        start += u'/';
    start += toQString(suggestedName);
    const QString chosen =
        onGuiThread<QString>([&] { return QFileDialog::getSaveFileName(nullptr, qTitle, start); }, QString());
    if (chosen.isEmpty())
        return std::nullopt;
    const QByteArray path = QFile::encodeName(chosen);
    return std::string(path.constData(), static_cast<std::size_t>(path.size()));
}

} // namespace orvalink::platform
