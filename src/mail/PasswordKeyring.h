#pragma once

// Mail passwords in the desktop's keyring (the Secret Service, through libsecret), one item per
// account: kind ("pop" or "smtp"), server and user name identify it, so renumbering accounts keeps
// their passwords. Without a session bus or a Secret Service there is no keyring (session() gives
// null) and the settings store keeps the passwords as before. Reading never asks to unlock: an item
// in a locked collection reads as absent, so start-up and receiving never wait for a prompt.

#include <memory>
#include <optional>
#include <string>

namespace orvalink::mail {

class PasswordKeyring {
public:
    enum class Kind { Pop, Smtp };

    virtual ~PasswordKeyring() = default;

    // The keyring of the desktop session, opened on first use; null when there is none (also when
    // the program was built without libsecret).
    static PasswordKeyring* session();
    // A keyring on the Secret Service of the current session bus, or null.
    static std::unique_ptr<PasswordKeyring> open();

    // password is code page 932 bytes, stored as they are. False when the keyring refused it.
    virtual bool store(Kind kind, const std::string& server, const std::string& user, const std::string& password) = 0;
    virtual std::optional<std::string> lookup(Kind kind, const std::string& server, const std::string& user) = 0;
    virtual bool remove(Kind kind, const std::string& server, const std::string& user) = 0;
};

} // namespace orvalink::mail
