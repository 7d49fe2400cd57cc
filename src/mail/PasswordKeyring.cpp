#include "mail/PasswordKeyring.h"

#include <cstdlib>

#if ORVALINK_HAVE_LIBSECRET
#include <libsecret/secret.h>
#endif

namespace orvalink::mail {

#if ORVALINK_HAVE_LIBSECRET

namespace {

const SecretSchema* schema()
{
    static const SecretSchema s = {"org.orvalink.Orvalink.MailPassword",
                                   SECRET_SCHEMA_NONE,
                                   {{"kind", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                   0,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr};
    return &s;
}

const char* kindName(PasswordKeyring::Kind kind)
{
    return kind == PasswordKeyring::Kind::Pop ? "pop" : "smtp";
}

class SecretServiceKeyring final : public PasswordKeyring {
public:
    explicit SecretServiceKeyring(SecretService* service) : m_service(service) {}
    ~SecretServiceKeyring() override { g_object_unref(m_service); }

    bool store(Kind kind, const std::string& server, const std::string& user, const std::string& password) override
    {
        GError* error = nullptr;
        const std::string label = "Orvalink " + std::string(kindName(kind)) + " " + user + "@" + server;
        SecretValue* value = secret_value_new(password.data(), static_cast<gssize>(password.size()), "text/plain");
        GHashTable* attributes = attributesOf(kind, server, user);
        const gboolean ok = secret_service_store_sync(m_service, schema(), attributes, SECRET_COLLECTION_DEFAULT,
                                                      label.c_str(), value, nullptr, &error);
        g_hash_table_unref(attributes);
        secret_value_unref(value);
        g_clear_error(&error);
        return ok;
    }

    std::optional<std::string> lookup(Kind kind, const std::string& server, const std::string& user) override
    {
        GError* error = nullptr;
        GHashTable* attributes = attributesOf(kind, server, user);
        // No SECRET_SEARCH_UNLOCK: a locked item is not offered, and nothing prompts.
        GList* items =
            secret_service_search_sync(m_service, schema(), attributes, SECRET_SEARCH_LOAD_SECRETS, nullptr, &error);
        g_hash_table_unref(attributes);
        g_clear_error(&error);
        std::optional<std::string> found;
        for (GList* i = items; i && !found; i = i->next) {
            if (SecretValue* value = secret_item_get_secret(SECRET_ITEM(i->data))) {
                gsize length = 0;
                const gchar* bytes = secret_value_get(value, &length);
                found = std::string(bytes, length);
                secret_value_unref(value);
            }
        }
        g_list_free_full(items, g_object_unref);
        return found;
    }

    bool remove(Kind kind, const std::string& server, const std::string& user) override
    {
        GError* error = nullptr;
        GHashTable* attributes = attributesOf(kind, server, user);
        secret_service_clear_sync(m_service, schema(), attributes, nullptr, &error);
        g_hash_table_unref(attributes);
        const bool ok = error == nullptr;
        g_clear_error(&error);
        return ok;
    }

private:
    static GHashTable* attributesOf(Kind kind, const std::string& server, const std::string& user)
    {
        GHashTable* a = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free);
        g_hash_table_insert(a, g_strdup("kind"), g_strdup(kindName(kind)));
        g_hash_table_insert(a, g_strdup("server"), g_strdup(server.c_str()));
        g_hash_table_insert(a, g_strdup("user"), g_strdup(user.c_str()));
        return a;
    }

    SecretService* m_service;
};

} // namespace

std::unique_ptr<PasswordKeyring> PasswordKeyring::open()
{
    // Only a session bus that is there: no bus is started (an X11 autolaunch) to look for one.
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!bus || !*bus)
        return nullptr;
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (!service) {
        g_clear_error(&error);
        return nullptr;
    }
    // A bus without a Secret Service gives a proxy whose session cannot be opened.
    if (!secret_service_get_session_algorithms(service)) {
        g_object_unref(service);
        return nullptr;
    }
    return std::make_unique<SecretServiceKeyring>(service);
}

#else

std::unique_ptr<PasswordKeyring> PasswordKeyring::open()
{
    return nullptr;
}

#endif

PasswordKeyring* PasswordKeyring::session()
{
    static const std::unique_ptr<PasswordKeyring> keyring = open();
    return keyring.get();
}

} // namespace orvalink::mail
