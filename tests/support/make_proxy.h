// Proxy records as the settings store holds them, for the tests that go
// through a proxy.
#pragma once

#include <string>

#include "settings/proxy_record.h"

namespace vardane::test {

// A record of type for server:port that authenticates when user is given.
inline ProxyRecord MakeProxy(int type, const std::string& server, int port,
                             const std::string& user = {}, const std::string& password = {}) {
    ProxyRecord proxy;
    proxy.Type = type;
    proxy.Server = server;
    proxy.Port = port;
    proxy.Authenticate = !user.empty();
    proxy.User = user;
    proxy.Password = password;
    return proxy;
}

}  // namespace vardane::test
