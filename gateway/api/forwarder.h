#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gateway/fleet/unit_owners.h"
#include "gateway/net/gateway_headers.h"
#include "gateway/net/http_client.h"
#include "gateway/net/http_message.h"

namespace vantrel::gateway {

/// Whether a unit's name may go into a request to another gateway: a name of the units file
/// (an address, a port's name, a word), never one that a path would read otherwise.
bool ForwardableUnit(const std::string& unit);
/// The request as `self` passes it on with the cluster's `key`: its method, path (each segment
/// escaped again), query and body, with the client's own Authorization and Content-Type, and the
/// group it is part of or whom it is for.
HttpCall ForwardedCall(const HttpRequest& request, const std::string& self, const std::string& key);
/// `value` as a query parameter's value, commas kept: a list of units passed on as it was read.
std::string QueryValue(const std::string& value);
/// The refusal of a command this gateway cannot have run now: 503, to be asked again shortly.
HttpResponse NotServedHere(const std::string& why);

/// Passes commands to the gateways that own their units, and answers each with its owner's
/// reply. A pass holds one of a few threads of its own for as long as its owner takes, so the
/// network core never waits on another gateway; more than can wait are refused at once.
class Forwarder {
  public:
    struct Limits {
        std::chrono::milliseconds connect{1000};  // an owner gone is told quickly
        std::chrono::milliseconds answer{30000};  // beyond a command's own start and answer limits
        std::size_t threads = 8;
        std::size_t mostWaiting = 1024;
    };

    /// `self`: this gateway's id, which every request passed on names; over https, the owners'
    /// certificates chain to the system's authorities, or to those in `authorities` alone.
    Forwarder(std::string self, const Limits& limits, std::string authorities = "");
    ~Forwarder() { Close(); }
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;

    /// The cluster's key, which every request passed on carries; before the first pass.
    void SetKey(std::string key);

    /// Passes `request` to `owner`; `respond` is given the owner's status, body and
    /// Retry-After, or 503 when the owner cannot be reached or answer in time.
    void Pass(const GatewayMember& owner, HttpRequest request, Respond respond);
    /// Ends the passes under way and their threads, and answers whatever still waits, and any
    /// later pass, with 503; while the server can still send the answers.
    void Close();

  private:
    struct Pending {
        GatewayMember owner;
        HttpRequest request;
        Respond respond;
        std::string key;
    };
    void Run(HttpClient& client);
    HttpResponse Exchange(HttpClient& client, const Pending& pending) const;

    const std::string m_self;
    const Limits m_limits;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<Pending> m_waiting;
    bool m_stopping = false;
    std::string m_key;
    std::vector<std::unique_ptr<HttpClient>> m_clients;
    std::vector<std::thread> m_threads;  // last: they start when the rest is made
};

}  // namespace vantrel::gateway
