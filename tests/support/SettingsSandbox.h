#pragma once

// A private settings folder for one test: XDG_CONFIG_HOME points into a scratch folder and the
// program's settings store is opened there. The variable is put back when the sandbox ends.

#include "platform/Profile.h"
#include "support/TestFiles.h"

#include <string>

namespace orvalink::test {

class SettingsSandbox {
public:
    SettingsSandbox() { platform::Profile::reopenApplication(); }

    const std::string& path() const { return m_dir.path(); }
    platform::Profile& profile() const { return platform::Profile::application(); }

private:
    TempDir m_dir{"orvalink-settings"};
    ScopedEnv m_configHome{"XDG_CONFIG_HOME", m_dir.path()};
};

} // namespace orvalink::test
