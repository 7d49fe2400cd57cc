#pragma once

// The set-up shared by the chat benchmarks: a private network namespace (so that nothing reaches
// the real network) and Qt's offscreen platform.

#include "support/PrivateNetwork.h"

#include <cstdio>
#include <cstdlib>

namespace orvalink::chat {

// False (after saying why) when the benchmark cannot run here.
inline bool enterBenchNetwork()
{
    orvalink::test::enterPrivateNetwork();
    if (!orvalink::test::privateNetworkReady()) {
        std::printf("skipped: %s\n", orvalink::test::privateNetworkSkipReason().c_str());
        return false;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return true;
}

} // namespace orvalink::chat
