// controller-sim: a reference controller server for trying and testing the
// plug-in without the streaming software. It owns the controller pipe (or
// socket), answers the state query, applies the actions' commands to its
// state, and writes every received message to stdout as one JSON line.
//
//   controller-sim [--pipe NAME] [--signed-in]
//
// NAME defaults to KESTREL_CONTROLLER_PIPE, else the product's pipe name.
// Lines on stdin drive it:
//   signin | signout              change the sign-in state and report it
//   support ID on|off             change an action's support and report it
//   state FUNCTION STATE          set a multi-state function (state name or index) and report it
//   drop                          close the current client's connection
//   garbage | zero | big N        send non-JSON text, a zero-byte message, an N-byte message
//   send TEXT                     send TEXT as it is
//   stall on|off                  stop (or resume) reading the client's messages; the link stays open
//   quit                          end
// Status lines on stdout ("listening NAME", "connected", "disconnected",
// "error ...") do not start with '{'; received messages do.

#include <atomic>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "controller-sim/ControllerModel.h"
#include "controller-sim/PipeServer.h"
#include "controller/PipeSystem.h"

namespace {

constexpr auto kPoll = std::chrono::milliseconds(20);

void Print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Control lines from stdin, handed from the reader thread to the server loop.
class ControlLines {
public:
    void Push(std::string line) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back(std::move(line));
    }
    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::string> lines;
        lines.swap(m_lines);
        return lines;
    }

private:
    std::mutex m_mutex;  // guards m_lines
    std::vector<std::string> m_lines;
};

void SendAll(PipeServer& server, const std::vector<std::string>& messages) {
    for (const auto& message : messages) {
        if (!server.Send(message)) Print("error send failed");
    }
}

// Runs one control line; false for "quit".
bool Control(const std::string& line, PipeServer& server, ControllerModel& model, bool& stalled) {
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    if (verb == "quit") return false;
    if (verb == "signin" || verb == "signout") {
        model.SetSignedIn(verb == "signin");
        SendAll(server, {model.SignInReport()});
    } else if (verb == "support") {
        std::string id, setting;
        words >> id >> setting;
        if (!model.SetSupported(id, setting == "on")) return Print("error unknown action " + id), true;
        SendAll(server, {model.SupportReport()});
    } else if (verb == "state") {
        std::string function, state;
        words >> function >> state;
        if (!model.SetState(function, state)) return Print("error unknown state " + line), true;
        SendAll(server, {model.FunctionReport(function)});
    } else if (verb == "drop") {
        if (server.HasClient()) Print("disconnected");
        server.DropClient();
    } else if (verb == "garbage") {
        SendAll(server, {"this is not JSON {"});
    } else if (verb == "zero") {
        SendAll(server, {std::string()});
    } else if (verb == "big") {
        size_t size = 0;
        words >> size;
        SendAll(server, {std::string(size, 'x')});
    } else if (verb == "stall") {
        std::string setting;
        words >> setting;
        stalled = setting == "on";
    } else if (verb == "send") {
        SendAll(server, {line.size() > 5 ? line.substr(5) : std::string()});
    } else if (!verb.empty()) {
        Print("error unknown command " + verb);
    }
    return true;
}

void PrintReceived(const std::string& text) {
    auto document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded()) document = nlohmann::json{{"unparsed", text}};
    Print(document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

}  // namespace

int main(int argc, char** argv) {
    std::string name = DefaultControllerPipeName();
    bool signedIn = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--pipe" && i + 1 < argc) {
            name = argv[++i];
        } else if (argument == "--signed-in") {
            signedIn = true;
        } else {
            std::fprintf(stderr, "usage: controller-sim [--pipe NAME] [--signed-in]\n");
            return 1;
        }
    }

    PipeServer server(name);
    if (!server.Listen()) {
        Print("error cannot listen on " + PipeAddress(name));
        return 2;
    }
    ControllerModel model(signedIn);
    ControlLines control;
    std::atomic<bool> quit{false};
    bool stalled = false;  // the client's messages are left unread
    // Detached: a blocking read of stdin cannot be interrupted portably.
    std::thread([&control] {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            control.Push(line);
        }
    }).detach();
    Print("listening " + name);

    while (!quit) {
        for (const auto& line : control.Take()) {
            if (!Control(line, server, model, stalled)) quit = true;
        }
        if (quit) break;
        if (!server.HasClient()) {
            if (server.WaitForClient(kPoll)) Print("connected");
            continue;
        }
        if (stalled) {
            std::this_thread::sleep_for(kPoll);
            continue;
        }
        auto message = server.Receive(kPoll);
        if (!server.HasClient()) {
            Print("disconnected");
            continue;
        }
        if (!message) continue;
        PrintReceived(*message);
        try {
            SendAll(server, model.Handle(*message));
        } catch (const std::exception&) {
            // A command document of an unexpected shape changes nothing.
        }
    }
    std::fflush(stdout);
    std::_Exit(0);  // the stdin reader may still be blocked
}
