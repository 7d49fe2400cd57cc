#pragma once

// The application's mail directory (one object, which the mail side's owner holds): the folder under which every mail
// folder's files lie, settings value "Mail Entry"/"SaveFolder", kept as a file-system path (its bytes exactly as the
// file system names them, so any folder can be the mail directory); with nothing stored, a default directory under the
// user's data folder. It is loaded at start-up (so downloads and saved mail have it before the settings sheet was ever
// opened), again whenever the account settings page opens, and changed by that page's folder browser and register
// button.
//
// The receive and compose threads read it while the settings page may change it on the GUI thread,
// so it is handed out as a copy under a lock rather than as a reference.
//
// The same section holds the user's list of mail folder paths ("SaveFolderItemCnt",
// "SaveFolderItem"n), which the settings page copies into the application when it opens.

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace orvalink::platform {
class Profile;
} // namespace orvalink::platform

namespace orvalink::mail {

inline constexpr const char* kMailEntrySection = "Mail Entry";

// $XDG_DATA_HOME/Orvalink/Mail (an absolute XDG_DATA_HOME only, else ~/.local/share/Orvalink/Mail).
std::string defaultMailDirectoryPath();

class MailDirectory {
public:
    // The mail directory as the file system names it; the mail folders' files are made below it
    // (store::folderFsPath). When none is set (nothing stored, which is how a new user starts) it
    // is the default one, defaultMailDirectoryPath(). A directory the user chose is used as it is
    // and never created by the program.
    std::string path() const;
    // True when no mail directory is set and path() is the default one.
    bool usesDefault() const;
    void setPath(std::string_view path);
    // Called before mail is received or saved: when the default directory is in use and missing,
    // it is created (its missing parents too), readable by the user alone (0700). Returns path(); a
    // directory that could not be made is left for the store to report when it opens its files.
    std::string prepare() const;
    // Sets the mail directory from a code page 932 text naming it.
    void set(std::string_view directory);
    // Sets the mail directory from "Mail Entry"/"SaveFolder" and returns the stored file-system
    // path (empty when none is stored: the default one is then in use).
    std::string load();
    std::string load(platform::Profile& profile);
    // Stores `path` as "Mail Entry"/"SaveFolder" and makes it the mail directory. False when the
    // settings file could not be written (the mail directory is changed all the same).
    bool store(platform::Profile& profile, std::string_view path);

    // The copied folder list; at most 100 entries, whatever "SaveFolderItemCnt" says.
    std::vector<std::string> saveFolderItems() const;
    void loadSaveFolderItems(platform::Profile& profile);

private:
    mutable std::mutex m_mutex;
    std::string m_path;
    std::vector<std::string> m_saveFolderItems;
};

} // namespace orvalink::mail
