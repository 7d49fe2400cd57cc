#pragma once

// The About box: the product and its version, and in static text 1041 this machine's processor
// class and physical memory.

#include <QDialog>
#include <cstdint>
#include <string>

namespace orvalink::app {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    // The text of static text 1041 for a processor type (386, 486, 586 or another) and a memory
    // size in bytes, in code page 932.
    static std::string systemText(int processorType, std::uint64_t physicalMemory);
};

} // namespace orvalink::app
