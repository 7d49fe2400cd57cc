#pragma once

// Names of the work files of one downloaded message, all in the mail directory. The message file
// is the received-mail folder's file-system path (folderFsPath) followed by the server's message number and ".qel";
// each filing pass writes the next file under the message file's name with a suffix appended.

#include <string>

namespace orvalink::store {

// "%s%d.qel" of the folder path and the message number: for message 3, ".../受信したメール3.qel".
inline std::string messageTempFileName(const std::string& folderPath, int messageNumber)
{
    return folderPath + std::to_string(messageNumber) + ".qel";
}

// Written by the cleanup pass.
inline std::string tabFileName(const std::string& messageTempFile)
{
    return messageTempFile + "tab";
}

// Written by the code conversion.
inline std::string cnvFileName(const std::string& messageTempFile)
{
    return messageTempFile + "cnv";
}

// Where a message that could not be filed is kept: the folder path, ".kept." and the message's id
// as a file-name text (idText). One file per id: a later failure of the same message replaces it,
// and filing the message removes it.
inline std::string keptFileName(const std::string& folderPath, const std::string& idText)
{
    return folderPath + ".kept." + idText;
}

} // namespace orvalink::store
