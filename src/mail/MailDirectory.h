#pragma once

// The application's mail directory: the folder under which every mail folder's files lie, settings
// value "Mail Entry"/"SaveFolder", kept as a file-system path (its bytes exactly as the file system
// names them, so any folder can be the mail directory). It is loaded at start-up (so downloads and saved mail have it
// before the settings sheet was ever opened), again whenever the account settings page opens, and
// changed by that page's folder browser and register button.
//
// The receive and compose threads read it while the settings page may change it on the GUI thread,
// so it is handed out as a copy under a lock rather than as a reference.
//
// The same section holds the user's list of mail folder paths ("SaveFolderItemCnt",
// "SaveFolderItem"n), which the settings page copies into the application when it opens.

#include <string>
#include <string_view>
#include <vector>

namespace orvalink::platform {
class Profile;
} // namespace orvalink::platform

namespace orvalink::mail {

inline constexpr const char* kMailEntrySection = "Mail Entry";

// The mail directory as the file system names it; the mail folders' files are made below it
// (folders::folderFsPath), and it is never created by the program.
std::string mailDirectoryPath();
void setMailDirectoryPath(std::string_view path);
// Sets the mail directory from a code page 932 text naming it.
void setMailDirectory(std::string_view directory);
// Sets the mail directory from "Mail Entry"/"SaveFolder" (empty when missing) and returns its
// file-system path.
std::string loadMailDirectory();
std::string loadMailDirectory(platform::Profile& profile);
// Stores `path` as "Mail Entry"/"SaveFolder" and makes it the mail directory. False when the
// settings file could not be written (the mail directory is changed all the same).
bool storeMailDirectory(platform::Profile& profile, std::string_view path);

// The copied folder list; at most 100 entries, whatever "SaveFolderItemCnt" says.
std::vector<std::string> saveFolderItems();
void loadSaveFolderItems(platform::Profile& profile);

} // namespace orvalink::mail
