#pragma once

// Shared pieces of the receiving tests: a sink that records what the POP3 engine hands it, a
// byte script runner, and reading back the received-mail folder.

#include "mail/engine/Pop3Engine.h"
#include "platform/text/Cp932.h"
#include "store/MailStore.h"

#include <string>
#include <string_view>
#include <vector>

namespace orvalink::mail {

using Kind = orvalink::mail::Pop3Event::Kind;

inline std::string sj(const char* utf8)
{
    return platform::utf8ToCp932(utf8);
}

// Records every sink call; message data is kept per message.
class RecordingSink : public orvalink::mail::Pop3MessageSink {
public:
    struct Message {
        int number = 0;
        std::string data;
        std::string id;
        bool completed = false;
        bool abandoned = false;
    };

    std::string beginMessage(int number) override
    {
        messages.push_back({number, {}, {}, false, false});
        calls += "begin " + std::to_string(number) + ";";
        return failBegin;
    }
    std::string writeMessageData(std::string_view data) override
    {
        largestWrite = std::max(largestWrite, data.size());
        totalWritten += data.size();
        if (keepData)
            messages.back().data.append(data);
        return failWrite;
    }
    std::vector<std::string> completeMessage(int number, std::string_view id) override
    {
        messages.back().completed = true;
        messages.back().id = std::string(id);
        calls += "complete " + std::to_string(number) + ";";
        return completeErrors;
    }
    void abandonMessage(int number) override
    {
        messages.back().abandoned = true;
        calls += "abandon " + std::to_string(number) + ";";
    }

    std::vector<Message> messages;
    std::string calls;
    std::string failBegin;
    std::string failWrite;
    std::vector<std::string> completeErrors;
    bool keepData = true;
    std::size_t largestWrite = 0;
    std::size_t totalWritten = 0;
};

// The received-mail folder's messages, read back through the store.
inline std::vector<std::string> receivedMessages(const std::string& mailDir)
{
    std::vector<std::string> texts;
    const auto folder = orvalink::store::folderFsPath(mailDir, orvalink::store::kReceivedFolder);
    const auto listing = orvalink::store::readFolderIndex(*folder);
    if (!listing)
        return texts;
    for (const auto& entry : listing->entries)
        texts.push_back(orvalink::store::readFolderMessage(*folder, entry).value_or("<unreadable>"));
    return texts;
}

} // namespace orvalink::mail
