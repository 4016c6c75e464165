// The network session against a unit played by the fuzz input: login, READMAC, code 25, then
// command codes. The input is read in the order things happen: the replies of the login, the
// MAC and code 25 as chunks (see FuzzedStream), then for each further pass one byte, the
// command code, followed by the chunks its replies take.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "presenters/net_session.h"
#include "tests/fuzz/checking_view.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/fuzzed_stream.h"
#include "tests/support/fake_clock.h"
#include "unit/command_table.h"

namespace {

using vantrel::fuzzing::Require;

// "%d.%d.%d.%d" with each field 0 to 255, then CR LF: exactly as the session formats it.
bool IsDottedLine(const std::string& text) {
    int fields[4];
    if (std::sscanf(text.c_str(), "%d.%d.%d.%d", &fields[0], &fields[1], &fields[2], &fields[3]) !=
        4) {
        return false;
    }
    for (int field : fields) {
        if (field < 0 || field > 255) return false;
    }
    char line[20];
    std::snprintf(line, sizeof line, "%d.%d.%d.%d\r\n", fields[0], fields[1], fields[2], fields[3]);
    return text == line;
}

bool IsKnownLine(const std::string& text) {
    for (const char* line :
         {"admin\r\n", "846\r\n", "READMAC\r\n", "READIP\r\n", "READMASK\r\n", "READGATEWAY\r\n",
          "IPMODE\r\n", "SETIPMODE=S\r\n", "SETIPMODE=D\r\n"}) {
        if (text == line) return true;
    }
    for (int code = 1; code <= 255; ++code) {
        const vantrel::Command& command = vantrel::CommandFor(static_cast<std::uint8_t>(code));
        if (command.text != nullptr && text == command.text) return true;
        if (command.readText != nullptr && text == command.readText) return true;
    }
    for (const char* name : {"MASK=", "GATEWAY=", "IP="}) {
        const std::string prefix(name);
        if (text.compare(0, prefix.size(), prefix) == 0)
            return IsDottedLine(text.substr(prefix.size()));
    }
    return false;
}

// What holds after every pass, whatever the unit sent.
void CheckPass(const vantrel::PanelState& state, const vantrel::fuzzing::CheckingView& view) {
    Require(state.m_nCommand == 0, "a pass clears its code");
    Require(state.m_bLinkDown == 0 || state.m_bLinkDown == 1, "the link flag is 0 or 1");
    Require(state.m_nIpMode <= 2, "the IP mode is 0, 1 or 2");
    Require(state.m_bPollPaused == 0, "the session leaves the poll running");
    Require(view.SwapsBalanced(), "every swapped picture is put back within its pass");
}

// A code that carries out an exchange: on a broken connection its send or receive fails.
bool HasExchange(std::uint8_t code) { return code >= 1 && code <= 29; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vantrel::fuzzing::FuzzInput input(data, size);
    vantrel::testing::FakeClock clock;
    vantrel::fuzzing::FuzzedStream stream(input, IsKnownLine);
    vantrel::PanelState state;
    vantrel::fuzzing::CheckingView view(state);
    state.StoreLinkDown(0);  // as Connect leaves it
    state.m_bPollPaused = 1;
    {
        vantrel::NetSession session(state, view, stream, clock);
        Require(session.Start(), "an accepted connection starts the session");
        Require(state.m_nCommand == 25, "the session stores code 25 after the login");
        Require(state.m_bPollPaused == 0, "the session lets the poll run after the login");
        std::uint8_t code = 25;
        while (true) {
            const bool brokenBefore = stream.Broken();
            const bool goesOn = session.RunPass();
            CheckPass(state, view);
            Require(goesOn == (state.m_bLinkDown == 0), "the loop goes on while the link is up");
            if (brokenBefore && HasExchange(code)) {
                Require(!goesOn, "a broken connection ends the session at its next exchange");
            }
            if (code == 24) Require(!goesOn, "Apply ends the session");
            if (!goesOn) break;
            std::optional<std::uint8_t> next = input.Byte();
            if (!next) break;
            code = *next;
            state.StoreCommand(code);
        }
        session.End();
        Require(stream.Closes() == 1, "the session closes its socket once");
        stream.Release();
    }
    return 0;
}
