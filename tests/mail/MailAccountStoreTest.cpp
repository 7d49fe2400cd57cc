#include "mail/MailAccountStore.h"

#include "mail/AccountList.h"
#include "mail/MailDirectory.h"
#include "mail/MailTestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>

namespace orvalink::mail {

namespace {

class AccountStore : public ::testing::Test {
protected:
    std::map<std::string, std::string> section(const char* name) const
    {
        std::map<std::string, std::string> values;
        for (auto& [key, value] : sandbox.profile().entries(name))
            values[key] = value;
        return values;
    }
    ProfileSandbox sandbox;
    MailDirectory m_directory;
};

TEST_F(AccountStore, AccountIsWrittenUnderTheKeysExistingStoresUse)
{
    MailAccountStore store;
    store.write(2, MailAccount{"Name", "pop.host", "110", "user", "pw", "smtp.host", "25", "me@host"});
    const std::map<std::string, std::string> expected{
        {"Server Name2", "Name"}, {"POP Server2", "pop.host"},   {"POP PortNo2", "110"}, {"POP Accunt2", "user"},
        {"POP Password2", "pw"},  {"SMTP Server2", "smtp.host"}, {"SMTP PortNo2", "25"}, {"EMAIL ADRESS2", "me@host"},
    };
    EXPECT_EQ(section("Server Entry"), expected);
    EXPECT_EQ(store.read(2).popAccount, "user");
    EXPECT_EQ(store.read(3), MailAccount{});
}

TEST_F(AccountStore, SecurityKeysAreStoredOnlyWhenTheyHoldSomething)
{
    MailAccountStore store;
    MailAccount account{"Name", "pop.host", "995", "user", "pw", "smtp.host", "587", "me@host"};
    account.popSecurity = storedSecurity(TransportSecurity::Implicit);
    account.smtpSecurity = storedSecurity(TransportSecurity::StartTls);
    account.smtpAuth = "1";
    account.popCertPin = std::string(64, 'a');
    store.write(1, account);
    const auto stored = section("Server Entry");
    EXPECT_EQ(stored.at("POP Security1"), "2");
    EXPECT_EQ(stored.at("SMTP Security1"), "1");
    EXPECT_EQ(stored.at("SMTP Auth1"), "1");
    EXPECT_EQ(stored.count("SMTP User1"), 0u);
    EXPECT_EQ(store.read(1), account);
    EXPECT_EQ(transportSecurity(store.read(1).popSecurity), TransportSecurity::Implicit);

    // Cleared on the page: the keys go, and the store holds exactly the eight keys it always had.
    store.write(1, MailAccount{"Name", "pop.host", "110", "user", "pw", "smtp.host", "25", "me@host"});
    EXPECT_EQ(section("Server Entry").size(), 8u);
    EXPECT_EQ(transportSecurity(store.read(1).popSecurity), TransportSecurity::None);
    for (const char* text : {"", "0", "3", "2 ", "x"})
        EXPECT_EQ(transportSecurity(text), TransportSecurity::None) << text;
}

TEST_F(AccountStore, CountIsLimitedToTheAccountTables)
{
    const struct {
        std::optional<int> stored;
        int count;
    } cases[] = {{std::nullopt, 0}, {-3, 0}, {0, 0}, {7, 7}, {100, 100}, {101, 100}, {100000, 100}};
    MailAccountStore store;
    for (const auto& c : cases) {
        if (c.stored)
            sandbox.profile().writeInt("Server Entry", "Count", *c.stored);
        else
            sandbox.profile().removeKey("Server Entry", "Count");
        EXPECT_EQ(store.count(), c.count) << (c.stored ? *c.stored : -999);
    }
}

TEST_F(AccountStore, EmptyPortsGetTheirDefaultsInTheStoreOthersStayAsTheyAre)
{
    const struct {
        const char* pop;
        const char* smtp;
        const char* popAfter;
        const char* smtpAfter;
        const char* security = ""; // "POP Security" and "SMTP Security" alike
    } cases[] = {
        {"", "", "110", "25"},       {"", "", "995", "465", "2"},
        {"", "", "110", "587", "1"}, {"2525", "", "2525", "465", "2"},
        {"995", "", "995", "25"},    {"", "587", "110", "587"},
        {"0", "abc", "0", "abc"},
    };
    MailAccountStore store;
    store.setCount(1);
    for (const auto& c : cases) {
        MailAccount a = sampleAccount("A");
        a.popPort = c.pop;
        a.smtpPort = c.smtp;
        a.popSecurity = a.smtpSecurity = c.security;
        store.write(1, a);
        const MailAccount loaded = store.readWithPortDefaults(1);
        EXPECT_EQ(loaded.popPort, c.popAfter);
        EXPECT_EQ(loaded.smtpPort, c.smtpAfter);
        EXPECT_EQ(store.read(1).popPort, c.popAfter) << "store, pop " << c.pop;
        EXPECT_EQ(store.read(1).smtpPort, c.smtpAfter) << "store, smtp " << c.smtp;
        EXPECT_EQ(loaded.popPassword, a.popPassword);
    }
}

TEST_F(AccountStore, FindTakesTheFirstExactMatchAmongTheCountedAccounts)
{
    storeAccounts({"Work", "home", "Home", "home"}, 1);
    MailAccountStore store;
    store.write(6, sampleAccount("Beyond"));
    store.setCount(5);
    store.write(5, sampleAccount("Fifth"));
    const struct {
        const char* name;
        int number;
    } cases[] = {{"Work", 1},  {"home", 2},  {"Home", 3},   {"HOME", 0},
                 {"Work ", 0}, {"Fifth", 5}, {"Beyond", 0}, {"", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(store.find(c.name), c.number) << c.name;
    // Passing over one account finds the next of the same name.
    EXPECT_EQ(store.find("home", 2), 4);
    EXPECT_EQ(store.find("home", 4), 2);
    EXPECT_EQ(store.find("Work", 1), 0);
}

TEST_F(AccountStore, RemovingClosesUpTheNumbersAndEditFollowsItsAccount)
{
    const struct {
        int count;
        int edit;
        int remove;
        bool removed;
        std::vector<std::string> names;
        int editAfter;
    } cases[] = {
        {4, 4, 2, true, {"A", "C", "D"}, 3},  // the shown account moves down with the others
        {4, 1, 2, true, {"A", "C", "D"}, 1},  // an earlier one keeps its number
        {4, 2, 2, true, {"A", "C", "D"}, 2},  // the deleted one was shown: its successor is
        {4, 4, 4, true, {"A", "B", "C"}, 3},  // the last one was shown and deleted
        {1, 1, 1, true, {}, 0},               // nothing left
        {3, 0, 1, true, {"B", "C"}, 0},       // none shown stays none
        {3, 2, 0, false, {"A", "B", "C"}, 2}, // not an account
        {3, 2, 4, false, {"A", "B", "C"}, 2}, // beyond the count
    };
    const std::vector<std::string> all{"A", "B", "C", "D"};
    for (const auto& c : cases) {
        ProfileSandbox fresh;
        storeAccounts({all.begin(), all.begin() + c.count}, c.edit);
        MailAccountStore store;
        EXPECT_EQ(store.remove(c.remove), c.removed) << c.remove;
        EXPECT_EQ(storedNames(), c.names) << "remove " << c.remove << " of " << c.count;
        EXPECT_EQ(store.edit(), c.editAfter) << "remove " << c.remove << " of " << c.count;
        // Every field moved with its account, and no keys of a number beyond the count are left.
        for (int n = 1; n <= store.count(); ++n)
            EXPECT_EQ(store.read(n), sampleAccount(c.names[static_cast<std::size_t>(n - 1)]));
        if (c.removed) {
            EXPECT_EQ(store.read(c.count), MailAccount{}) << "old last number " << c.count;
        }
    }
}

TEST_F(AccountStore, MovingToFirstShiftsTheEarlierAccountsUp)
{
    const struct {
        int edit;
        int move;
        bool moved;
        std::vector<std::string> names;
        int editAfter;
    } cases[] = {
        {3, 3, true, {"C", "A", "B", "D"}, 1},  {1, 3, true, {"C", "A", "B", "D"}, 2},
        {2, 3, true, {"C", "A", "B", "D"}, 3},  {4, 3, true, {"C", "A", "B", "D"}, 4},
        {0, 4, true, {"D", "A", "B", "C"}, 0},  {2, 1, true, {"A", "B", "C", "D"}, 2},
        {2, 5, false, {"A", "B", "C", "D"}, 2}, {2, 0, false, {"A", "B", "C", "D"}, 2},
    };
    for (const auto& c : cases) {
        ProfileSandbox fresh;
        storeAccounts({"A", "B", "C", "D"}, c.edit);
        MailAccountStore store;
        EXPECT_EQ(store.moveToFirst(c.move), c.moved);
        EXPECT_EQ(storedNames(), c.names) << "move " << c.move;
        EXPECT_EQ(store.edit(), c.editAfter) << "move " << c.move << " with edit " << c.edit;
        EXPECT_EQ(store.count(), 4);
        for (int n = 1; n <= 4; ++n)
            EXPECT_EQ(store.read(n), sampleAccount(c.names[static_cast<std::size_t>(n - 1)]));
    }
}

TEST_F(AccountStore, AccountListReadsEveryCountedAccountAsStored)
{
    storeAccounts({"First", "Second"}, 1);
    MailAccountStore store;
    MailAccount second = sampleAccount("Second");
    second.popPort = "";
    second.popPassword = sj(" パス=ワード;#\\ ");
    store.write(2, second);
    store.write(3, sampleAccount("Uncounted"));

    const std::vector<MailAccount> accounts = readAccounts();
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[0], sampleAccount("First"));
    EXPECT_EQ(accounts[1], second);
    // A reader fills in nothing: the empty port stays empty in the store too.
    EXPECT_EQ(store.read(2).popPort, "");
}

TEST_F(AccountStore, AccountListStopsAtOneHundredAndReadsMissingKeysAsEmpty)
{
    sandbox.profile().writeInt("Server Entry", "Count", 150);
    sandbox.profile().writeString("Server Entry", "SMTP Server100", "last.example");
    sandbox.profile().writeString("Server Entry", "SMTP Server101", "beyond.example");
    const std::vector<MailAccount> accounts = readAccounts();
    ASSERT_EQ(accounts.size(), 100u);
    EXPECT_EQ(accounts[0], MailAccount{});
    EXPECT_EQ(accounts[99].smtpServer, "last.example");
    EXPECT_TRUE(readAccounts(sandbox.profile()) == accounts);
}

TEST_F(AccountStore, MailDirectoryAndFolderListAreLoadedFromMailEntry)
{
    EXPECT_EQ(m_directory.load(), "");
    auto& p = sandbox.profile();
    const std::string folder = "/home/" + sj("太郎") + "/mail";
    p.writeString("Mail Entry", "SaveFolder", folder);
    EXPECT_EQ(m_directory.path(), defaultMailDirectoryPath());
    // Stored as text by older versions, it reads as the same folder.
    EXPECT_EQ(m_directory.load(), "/home/太郎/mail");
    EXPECT_EQ(m_directory.path(), "/home/太郎/mail");

    p.writeInt("Mail Entry", "SaveFolderItemCnt", 3);
    p.writeString("Mail Entry", "SaveFolderItem1", sj("受信したメール"));
    p.writeString("Mail Entry", "SaveFolderItem3", "x\\y");
    m_directory.loadSaveFolderItems(p);
    EXPECT_EQ(m_directory.saveFolderItems(), (std::vector<std::string>{sj("受信したメール"), "", "x\\y"}));
    p.writeInt("Mail Entry", "SaveFolderItemCnt", -1);
    m_directory.loadSaveFolderItems(p);
    EXPECT_TRUE(m_directory.saveFolderItems().empty());
}

TEST_F(AccountStore, WithNoMailDirectoryStoredTheDefaultOneIsUsedAndMadePrivateWhenNeeded)
{
    namespace fs = std::filesystem;
    const std::string expected = sandbox.dataHome() + "/Orvalink/Mail";
    m_directory.load();
    EXPECT_EQ(defaultMailDirectoryPath(), expected);
    EXPECT_EQ(m_directory.path(), expected);
    EXPECT_TRUE(m_directory.usesDefault());
    EXPECT_FALSE(fs::exists(expected)) << "made only when mail is received or saved";
    EXPECT_EQ(m_directory.prepare(), expected);
    for (const std::string& made : {sandbox.dataHome() + "/Orvalink", expected}) {
        ASSERT_TRUE(fs::is_directory(made)) << made;
        EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_all) << made;
    }
    EXPECT_EQ(m_directory.prepare(), expected) << "an existing one is used as it is";

    // A relative XDG_DATA_HOME is not one: the home folder's data folder is.
    {
        orvalink::test::ScopedEnv relative("XDG_DATA_HOME", "relative/data");
        orvalink::test::ScopedEnv home("HOME", sandbox.dataHome() + "/home");
        EXPECT_EQ(defaultMailDirectoryPath(), sandbox.dataHome() + "/home/.local/share/Orvalink/Mail");
    }

    // A folder the user stored is used unchanged and never made.
    const std::string chosen = sandbox.dataHome() + "/chosen/mail";
    m_directory.store(sandbox.profile(), chosen);
    EXPECT_FALSE(m_directory.usesDefault());
    EXPECT_EQ(m_directory.prepare(), chosen);
    EXPECT_EQ(m_directory.path(), chosen);
    EXPECT_FALSE(fs::exists(sandbox.dataHome() + "/chosen"));
}

} // namespace

} // namespace orvalink::mail
