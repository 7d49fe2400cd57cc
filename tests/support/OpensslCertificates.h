#pragma once

// Throw-away certificates made with the openssl command line in a test's scratch folder: ca.pem
// (a CA, its key ca.key) and server.pem with server.key, signed by that CA for 127.0.0.1. Point
// OpenSSL at the CA with SSL_CERT_FILE=<dir>/ca.pem to make the server trusted.

#include <cstdlib>
#include <string>

namespace orvalink::test {

inline bool makeOpensslCertificates(const std::string& dir)
{
    const std::string command =
        "cd '" + dir +
        "' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ca.key -out ca.pem "
        "-days 2 -subj '/CN=Orvalink Test CA' -addext basicConstraints=critical,CA:TRUE "
        "-addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null"
        " && openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout server.key -out server.csr "
        "-subj '/CN=127.0.0.1' 2>/dev/null"
        " && printf 'subjectAltName=IP:127.0.0.1\\nextendedKeyUsage=serverAuth\\n' > server.ext"
        " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 "
        "-extfile server.ext 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

} // namespace orvalink::test
