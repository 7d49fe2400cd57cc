#pragma once

// What one desktop notification says about the chat messages that arrived since it was first
// shown: one message names its sender and group with the start of its text; several are counted,
// with the newest named. Texts are UTF-8 (the notification service's); the messages come in code
// page 932.

#include <cstdint>
#include <string>
#include <string_view>

namespace orvalink::app {

class NotificationBatch {
public:
    // The start of a message shown in the notification, in characters.
    static constexpr std::size_t kTextChars = 80;

    struct Message {
        int group = -1;
        std::uint64_t serial = 0; // the row's number (ChatRow::serial)
        std::string sender;       // code page 932
        std::string groupName;    // code page 932
        std::string text;         // code page 932
        bool personal = false;
    };

    void add(Message message);
    void clear();
    int count() const { return m_count; }
    bool empty() const { return m_count == 0; }
    // The newest message: the one the notification's action shows.
    const Message& newest() const { return m_newest; }

    std::string summary() const;
    std::string body() const;

    // The display name in a member key ("address#port#name").
    static std::string senderOf(std::string_view memberKey);
    // The first `chars` characters of a message on one line (line breaks become spaces), with "…"
    // when cut.
    static std::string startOf(std::string_view utf8, std::size_t chars);

private:
    int m_count = 0;
    int m_personal = 0;
    Message m_newest;
};

} // namespace orvalink::app
