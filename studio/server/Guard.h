#pragma once
/// The checks every request passes before it is served: the Host it names (against DNS
/// rebinding), its Origin and fetch site (against requests from other sites' pages), and for the
/// API the random token of the printed URL (against any other local program or page).

#include <optional>
#include <set>
#include <string>

#include "studio/server/Api.h"

namespace studio {

class Guard {
public:
    /// `requireToken`: a random token is made, and the API refuses requests without it.
    Guard(std::string address, bool requireToken);

    /// The server listens on `port`: the Host values that name it.
    void listening(int port);
    /// Why the request is refused, or nothing when it may go on.
    std::optional<std::string> refusal(const Request& request) const;

    /// Empty when no token is required.
    const std::string& token() const { return token_; }

private:
    std::string address_;
    bool requireToken_;
    std::string token_;
    int port_ = 0;
    std::set<std::string> allowedHosts_;  ///< values of the Host header that name this server
};

/// The address as it stands in a URL's authority (IPv6 in brackets).
std::string urlHost(const std::string& address);
/// True for 0.0.0.0 and ::, which listen on every address.
bool isWildcard(const std::string& address);

}  // namespace studio
