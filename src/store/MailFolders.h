#pragma once

// The five fixed mail folders in the order the store lists them, each with the tree image that
// stands for it.

#include "store/MailStore.h"

#include <array>
#include <string_view>

namespace orvalink::store {

// メールボックス: the node above the fixed folders.
inline constexpr std::string_view kMailboxName = "\x83\x81\x81\x5b\x83\x8b\x83\x7b\x83\x62\x83\x4e\x83\x58";
// 送信するメール: mail waiting to be sent.
inline constexpr std::string_view kToSendFolder = "\x91\x97\x90\x4d\x82\xb7\x82\xe9\x83\x81\x81\x5b\x83\x8b";
// 削除したメール: deleted mail.
inline constexpr std::string_view kDeletedFolder = "\x8d\xed\x8f\x9c\x82\xb5\x82\xbd\x83\x81\x81\x5b\x83\x8b";

inline constexpr std::array<std::string_view, 5> kFixedFolders = {kReceivedFolder, kToSendFolder, kSentFolder,
                                                                  kSavedFolder, kDeletedFolder};

} // namespace orvalink::store
