// orvalink-imeprobe: the chat write window's text and the compose window's body in one window
// titled "imeprobe", for driving a real input method with real keys. Every change of committed
// text is printed as "chat TEXT" or "compose TEXT" (UTF-8 of the code page 932 text the program
// would send). Focus starts in the chat text and moves to the compose body once the chat text
// holds a non-ASCII character. Opens no socket.

#include "chat/CSendChatView.h"
#include "mail/CSendView.h"
#include "platform/text/Cp932.h"

#include <QApplication>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cstdio>

int main(int argc, char** argv)
{
    using namespace orvalink;
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("imeprobe"));
    auto* layout = new QVBoxLayout(&window);
    auto* chat = new chat::CSendChatView(&window);
    auto* compose = new mail::CSendView(&window);
    layout->addWidget(chat);
    layout->addWidget(compose);
    auto print = [](const char* what, const std::string& cp932) {
        std::printf("%s %s\n", what, platform::cp932ToUtf8(cp932).c_str());
        std::fflush(stdout);
    };
    QObject::connect(chat, &QPlainTextEdit::textChanged, [&] {
        print("chat", chat->text());
        const std::string t = chat->text();
        if (std::any_of(t.begin(), t.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
            QTimer::singleShot(300, compose, [compose] { compose->setFocus(); });
    });
    QObject::connect(compose, &QPlainTextEdit::textChanged, [&] { print("compose", compose->text()); });
    window.resize(500, 400);
    window.show();
    window.activateWindow();
    chat->setFocus();
    return QApplication::exec();
}
