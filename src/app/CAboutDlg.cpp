#include "app/CAboutDlg.h"

#include "platform/SystemInfo.h"
#include "platform/TextCodec.h"
#include "platform/text/Cp932.h"
#include "res/ResourceIds.h"
#include "res/ResourceImages.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>

namespace orvalink::app {

using res::resourceIcon;

std::string CAboutDlg::systemText(int processorType, std::uint64_t physicalMemory)
{
    std::string text;
    switch (processorType) {
    case 386:
        text = platform::utf8ToCp932("プロセッサ Intel386\n");
        break;
    case 486:
        text = platform::utf8ToCp932("プロセッサ Intel486\n");
        break;
    case 586:
        text = platform::utf8ToCp932("プロセッサ Pentium\n");
        break;
    default:
        break;
    }
    char memory[128];
    std::snprintf(memory, sizeof memory, "%.2fMB", static_cast<double>(physicalMemory) / 1000.0 / 1024.0);
    text += platform::utf8ToCp932("Windowsが使用できる物理メモリ ") + memory;
    return text;
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(platform::uiTextThroughCp932("Orvalink のﾊﾞｰｼﾞｮﾝ情報"));
    setWindowIcon(resourceIcon(res::kIconMain));
    auto* layout = new QVBoxLayout(this);
    auto* icon = new QLabel(this);
    icon->setPixmap(resourceIcon(res::kIconMain).pixmap(32, 32));
    layout->addWidget(icon);
    layout->addWidget(new QLabel("Orvalink Version 1.0", this));
    auto* system =
        new QLabel(platform::toQString(systemText(platform::processorType(), platform::totalPhysicalMemory())), this);
    system->setObjectName("1041");
    layout->addWidget(system);
    auto* ok = new QPushButton("OK", this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignRight);
}

} // namespace orvalink::app
