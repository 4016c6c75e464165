#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gateway/api/api.h"
#include "gateway/fleet/unit_json.h"
#include "tests/support/fake_unit_link.h"
#include "tests/support/manual_clock.h"
#include "tests/support/running_gateway.h"
#include "unit_link/unit_checks.h"

namespace vantrel::testing {

/// A unit in memory: its status as presses and steps leave it, a count of its status reads,
/// and what a test makes it do: refuse its link, fail its updates, or hold every exchange until
/// released. Each exchange may take time on the clock, as a slow unit's would.
class FakeUnit {
  public:
    void Set(std::size_t at, std::uint8_t value) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_status[at] = value;
    }
    std::uint8_t Get(std::size_t at) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_status[at];
    }
    int StatusReads() const { return Count(m_statusReads); }
    /// When each status read was answered, on the clock.
    std::vector<Clock::TimePoint> ReadTimes() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_readTimes;
    }
    int Presses() const { return Count(m_presses); }
    int Held() const { return Count(m_held); }
    /// When each Open was tried, on the clock.
    std::vector<Clock::TimePoint> Opens() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_opens;
    }
    void Refuse(bool refuse) { Flag(m_refuse, refuse); }
    /// Set before the gateway starts: the unit is on a serial port, which reads its versions
    /// and reaches its net controller.
    void OnSerialPort() { m_serial = true; }
    bool Serial() const { return m_serial; }
    void FailUpdates(bool fail) { Flag(m_failUpdates, fail); }
    /// While held, every exchange waits until Hold(false).
    void Hold(bool hold) {
        Flag(m_hold, hold);
        m_released.notify_all();
    }
    /// Each exchange moves `clock` on this much.
    void TakeTime(Clock::Duration each) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_exchangeTime = each;
    }
    /// Called at the start of each exchange, on the link's thread.
    void OnExchange(std::function<void()> seen) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_onExchange = std::move(seen);
    }

    // The link's side.
    Outcome Exchange(ManualClock& clock) {
        std::function<void()> seen;
        Clock::Duration time{};
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            ++m_held;
            m_released.wait(lock, [&] { return !m_hold; });
            --m_held;
            seen = m_onExchange;
            time = m_exchangeTime;
        }
        if (seen) seen();
        if (time.count() > 0) clock.Advance(time);
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_refuse ? Outcome(Failure{Fault::kNothingReceived}) : Outcome();
    }
    void NoteOpen(Clock::TimePoint at) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_opens.push_back(at);
    }
    Result<StatusBlock> ReadStatus(Clock::TimePoint at) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_statusReads;
        m_readTimes.push_back(at);
        return m_status;
    }
    void Press(const Button& button) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_presses;
        if (button.effect == ButtonEffect::Lamp) m_status[button.index] ^= 1;
        if (button.effect == ButtonEffect::Input) m_status[status_byte::kInput] = button.index;
    }
    std::int32_t Step(Level level, StepDirection direction) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return FakeUnitLink::Step(m_status, level, direction, FakeUnitLink::Stepping::Clamp);
    }
    Outcome Update() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_failUpdates ? Outcome(Failure{Fault::kNothingReceived}) : Outcome();
    }

  private:
    int Count(const int& count) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return count;
    }
    void Flag(bool& flag, bool value) {
        std::lock_guard<std::mutex> lock(m_mutex);
        flag = value;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    StatusBlock m_status{};
    int m_statusReads = 0;
    std::vector<Clock::TimePoint> m_readTimes;
    int m_presses = 0;
    int m_held = 0;
    std::vector<Clock::TimePoint> m_opens;
    bool m_serial = false;
    bool m_refuse = false;
    bool m_failUpdates = false;
    bool m_hold = false;
    Clock::Duration m_exchangeTime{0};
    std::function<void()> m_onExchange;
};

/// The link to a FakeUnit: the shared fake, with its exchanges held, timed and refused as the
/// FakeUnit says, and its status kept there, where the test reads it; its levels move only by
/// steps.
class FleetUnitLink : public FakeUnitLink {
  public:
    FleetUnitLink(FakeUnit& unit, ManualClock& clock) : m_unit(unit), m_clock(clock) {}

    Outcome Open() override {
        m_unit.NoteOpen(m_clock.Now());
        return FakeUnitLink::Open();
    }
    Result<StatusBlock> ReadStatus() override {
        return Then([&] { return m_unit.ReadStatus(m_clock.Now()); });
    }
    bool ReadsVersions() const override { return m_unit.Serial(); }
    Outcome Press(const Button& button) override {
        return Then([&] {
            m_unit.Press(button);
            return Outcome();
        });
    }
    Result<std::int32_t> StepLevel(Level level, StepDirection direction) override {
        return Then([&] { return Result<std::int32_t>(m_unit.Step(level, direction)); });
    }
    Outcome UpdateMainFirmware(const firmware::Image&, const firmware::ProgressSink&) override {
        return Then([&] { return m_unit.Update(); });
    }
    Outcome UpdateNetFirmware(const firmware::Image&, const firmware::ProgressSink&) override {
        return Then([&] { return m_unit.Update(); });
    }

  protected:
    Outcome Begin() override { return m_unit.Exchange(m_clock); }

  private:
    FakeUnit& m_unit;
    ManualClock& m_clock;
};

/// The gateway's core in this process: its units on fake links, the jobs, the audit log in
/// memory and the API, on a clock the test moves. Requests go to the API as the network core
/// hands them over, from a client at the gateway's own loopback name.
class InProcessGateway {
  public:
    static constexpr int kPort = 8023;

    /// `naming`: the names and labels of those units that have them.
    explicit InProcessGateway(const std::vector<std::string>& names,
                              const gateway::MonitorOptions& options = {},
                              const std::map<std::string, gateway::UnitNaming>& naming = {})
        : units(clock, MakeLinks(), options) {
        for (const std::string& name : names) {
            const auto described = naming.find(name);
            units.Add(
                name, clients::Target{name, false, 0},
                [this](const gateway::UnitSnapshot& s) {
                    hub.Publish("unit", gateway::UnitJson(s).dump());
                    api.UnitChanged(s);
                },
                described == naming.end() ? gateway::UnitNaming{} : described->second);
        }
        api.SetListening(kPort, false, false);
    }
    ~InProcessGateway() {
        for (auto& [name, unit] : fakes) unit->Hold(false);
        jobs.Close();
        units.Stop();
    }

    /// Starts the monitors: a unit's fake is set as the test wants by then.
    void Start() { units.Start(); }
    FakeUnit& Unit(const std::string& name) { return *fakes.at(name); }
    gateway::UnitMonitor& Monitor(const std::string& name) { return *units.Find(name); }
    gateway::LinkState Link(const std::string& name) { return Monitor(name).Snapshot().link; }

    /// Waits until every monitor and the watch wait on the clock: only then does moving it
    /// mean what the test says.
    bool Settled() {
        return WaitUntil([&] { return clock.Waiting() == fakes.size() + 1; },
                         std::chrono::seconds(10));
    }
    /// Moves the clock on a watch's period at a time until `done`: the unit table's watch,
    /// which keeps the down rule and the deadlines, looks at least once a period.
    bool Watched(const std::function<bool()>& done) {
        return WaitUntil(
            [&] {
                if (done()) return true;
                clock.Advance(std::chrono::milliseconds(100));
                return false;
            },
            std::chrono::seconds(10));
    }
    bool AllUp() {
        return WaitUntil(
            [&] {
                for (auto& [name, unit] : fakes) {
                    if (Link(name) != gateway::LinkState::Up) return false;
                }
                return true;
            },
            std::chrono::seconds(10));
    }

    /// A request as a client on loopback sends it; the response comes when the API gives it.
    std::future<gateway::HttpResponse> Send(const std::string& method, const std::string& target,
                                            const std::string& body = "",
                                            const std::string& type = "application/json") {
        gateway::HttpRequest request;
        request.method = method;
        const std::size_t query = target.find('?');
        request.path = target.substr(0, query);
        if (query != std::string::npos) request.query = target.substr(query + 1);
        request.headers = {{"Host", "127.0.0.1:" + std::to_string(kPort)}};
        if (method == "POST" || method == "PUT") request.headers.emplace_back("Content-Type", type);
        request.body = body;
        request.peer = "127.0.0.1";
        auto response = std::make_shared<std::promise<gateway::HttpResponse>>();
        std::future<gateway::HttpResponse> answer = response->get_future();
        std::size_t bodyLimit = 0;
        if (std::optional<gateway::HttpResponse> refused = api.Admit(request, bodyLimit)) {
            response->set_value(std::move(*refused));
        } else {
            api.Serve(std::move(request),
                      [response](gateway::HttpResponse r) { response->set_value(std::move(r)); });
        }
        return answer;
    }
    /// The response to a request that needs no more of the clock; status 0 if none came.
    gateway::HttpResponse Call(const std::string& method, const std::string& target,
                               const std::string& body = "",
                               const std::string& type = "application/json") {
        return Answer(Send(method, target, body, type));
    }
    static gateway::HttpResponse Answer(std::future<gateway::HttpResponse> pending) {
        if (pending.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            gateway::HttpResponse none;
            none.status = 0;
            return none;
        }
        return pending.get();
    }
    static nlohmann::json Json(const gateway::HttpResponse& response) {
        return nlohmann::json::parse(response.body, nullptr, false);
    }

    /// Whether the event stream has carried `needle` since it was last forgotten, waiting a
    /// little for it.
    bool Streamed(const std::string& needle) {
        return WaitUntil([&] { return Carried(needle); }, std::chrono::seconds(10));
    }
    /// Whether it has by now.
    bool Carried(const std::string& needle) {
        Drain();
        return m_streamed.find(needle) != std::string::npos;
    }
    /// Forgets what the stream has carried so far.
    void ForgetStream() {
        Drain();
        m_streamed.clear();
    }

    ManualClock clock;
    std::map<std::string, std::unique_ptr<FakeUnit>> fakes;
    gateway::EventHub hub{4};

  private:
    void Drain() {
        std::string event;
        while (m_events->Next(event, std::chrono::milliseconds(0)) && !event.empty()) {
            m_streamed += event;
        }
    }
    gateway::UnitLinkMaker MakeLinks() {
        return [this](const clients::Target& target, const std::atomic<int32_t>&) {
            std::unique_ptr<FakeUnit>& unit = fakes[target.name];
            unit = std::make_unique<FakeUnit>();
            return std::make_unique<FleetUnitLink>(*unit, clock);
        };
    }

    std::shared_ptr<gateway::Subscription> m_events = hub.Subscribe();
    std::string m_streamed;

  public:
    gateway::Units units;
    gateway::FirmwareJobs jobs{units, hub, clock};
    gateway::Tokens tokens;
    gateway::AuditLog audit;
    gateway::Api api{units, hub, jobs, tokens, audit};
};

}  // namespace vantrel::testing
