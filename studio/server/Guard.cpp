#include "studio/server/Guard.h"

#include <random>

#include "studio/server/StudioServer.h"

namespace studio {

namespace {

/// 256 random bits as 64 hex digits.
std::string makeToken() {
    std::random_device device;
    std::string token;
    for (int i = 0; i < 8; ++i) {
        char word[9];
        std::snprintf(word, sizeof word, "%08x", static_cast<unsigned>(device()));
        token += word;
    }
    return token;
}

/// Compares in time independent of where the texts differ, so the answer's timing tells an
/// attacker nothing about how much of a guessed token was right.
bool sameSecret(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

}  // namespace

std::string urlHost(const std::string& address) {
    return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

bool isWildcard(const std::string& address) { return address == "0.0.0.0" || address == "::"; }

bool isLoopback(const std::string& address) {
    return address == "localhost" || address == "::1" || address.rfind("127.", 0) == 0;
}

Guard::Guard(std::string address, bool requireToken) : address_(std::move(address)), requireToken_(requireToken) {
    if (requireToken_) token_ = makeToken();
}

void Guard::listening(int port) {
    port_ = port;
    const std::string suffix = ":" + std::to_string(port);
    allowedHosts_ = {lowerCase(urlHost(address_)) + suffix};
    if (isLoopback(address_))
        for (const char* name : {"127.0.0.1", "localhost", "[::1]"}) allowedHosts_.insert(name + suffix);
}

std::optional<std::string> Guard::refusal(const Request& request) const {
    const std::string hostHeader = lowerCase(request.headers.host);
    if (!allowedHosts_.contains(hostHeader) &&
        !(isWildcard(address_) && hostHeader.ends_with(":" + std::to_string(port_))))
        return "the request names another host (" + hostHeader + "); open the studio by its printed address";
    if (request.headers.origin) {
        const std::string origin = lowerCase(*request.headers.origin);
        const bool own = origin.rfind("http://", 0) == 0 && origin.substr(7) == hostHeader;
        if (!own) return "requests from other sites (" + origin + ") are refused";
    }
    if (request.headers.fetchSite == "cross-site") return "cross-site requests are refused";
    if (request.path.rfind("/api/", 0) == 0 && requireToken_) {
        std::string given;
        const std::string& authorization = request.headers.authorization;
        if (authorization.rfind("Bearer ", 0) == 0)
            given = authorization.substr(7);
        else if (const auto param = request.query.find("token"); param != request.query.end())
            given = param->second;
        if (!sameSecret(given, token_)) return "a valid token is required (the token of the printed URL)";
    }
    return std::nullopt;
}

}  // namespace studio
