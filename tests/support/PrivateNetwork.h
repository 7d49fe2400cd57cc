#pragma once

#include <string>

namespace orvalink::test {

// A test program that opens chat sockets runs in a network namespace of its own: loopback up and a
// veth pair whose end v0 holds 10.0.0.1/24 with the default route, so that a broadcast to
// 255.255.255.255 leaves through v0 and comes back to the sender, and nothing can reach the real
// network. The namespace ends with the process, so nothing is left behind whatever a test does.

// Moves the calling process into a fresh private network namespace. Needs root, or a kernel that
// lets an ordinary user make a user namespace (becomeRootInUserNamespace() is tried first); on
// failure the reason is kept and privateNetworkReady() stays false.
void enterPrivateNetwork();
// For a user without root: moves the process (still single-threaded) into a new user namespace in
// which its own uid is root, so that it may make network namespaces. True at once for root; false
// with userNamespaceFailure() saying why when the kernel refuses.
bool becomeRootInUserNamespace();
const std::string& userNamespaceFailure();
bool privateNetworkReady();
const std::string& privateNetworkSkipReason();

// The address of this host in the private network.
inline constexpr const char* kPrivateHostAddress = "10.0.0.1";

#define ORVALINK_REQUIRE_PRIVATE_NETWORK()                                                                             \
    do {                                                                                                               \
        if (!::orvalink::test::privateNetworkReady())                                                                  \
            GTEST_SKIP() << "needs a private network namespace: " << ::orvalink::test::privateNetworkSkipReason();     \
    } while (0)

} // namespace orvalink::test
