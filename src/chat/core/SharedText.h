#pragma once

// An immutable text whose bytes are shared by every copy. A group's rows hold their header and
// body this way, and the right pane's row table copies only the reference: a message of 60,000
// bytes is kept once, however many tables list it.

#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace orvalink::chat {

class SharedText {
public:
    SharedText() = default;
    SharedText(std::string text) : m_text(std::make_shared<const std::string>(std::move(text))) {}
    SharedText(const char* text) : SharedText(std::string(text)) {}

    const std::string& str() const { return m_text ? *m_text : noText(); }
    operator const std::string&() const { return str(); }
    operator std::string_view() const { return str(); }
    std::size_t size() const { return str().size(); }
    bool empty() const { return str().empty(); }

    friend bool operator==(const SharedText& a, const SharedText& b) { return a.str() == b.str(); }
    friend bool operator==(const SharedText& a, const std::string& b) { return a.str() == b; }
    friend bool operator==(const SharedText& a, std::string_view b) { return a.str() == b; }
    friend bool operator==(const SharedText& a, const char* b) { return a.str() == b; }
    friend std::ostream& operator<<(std::ostream& out, const SharedText& t) { return out << t.str(); }

private:
    static const std::string& noText()
    {
        static const std::string e;
        return e;
    }
    std::shared_ptr<const std::string> m_text;
};

} // namespace orvalink::chat
