#pragma once
// A scriptable Veyra platform on a free loopback port, following the protocol the platform
// client speaks. Each test says what each route answers and reads back what was asked.
//
// Out of the box: login gives the tokens "veyra-token" and "veyra-sdk-token"; the user has
// workspace 5 with the role "admin", projects 5 and 7 and model registry 3; every other route
// answers 200 {}. Every route but the login needs "Authorization: Bearer <one of the tokens>"
// (else 401 with code "AuthenticationError.INVALID_TOKEN"). Routes outside /v1/ need no token,
// so the same server can stand in for a notebook server's /api/kernels.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "veyra/client/platform_http.hpp"

namespace test_support {

struct PlatformRequestRecord {
    std::string method;
    std::string target;
    std::string authorization;
    std::string body;
};

struct WorkspaceSpec {
    int id;
    std::optional<std::string> role;  // nullopt: no "workspace_role" key
};

class FakePlatform {
public:
    FakePlatform();
    ~FakePlatform();
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    // "http://127.0.0.1:<port>"
    std::string url() const;

    // From now on METHOD TARGET answers with this status and body.
    void answer(std::string_view method, std::string_view target, int status,
                std::string_view body);
    // From now on METHOD TARGET reads the request and never answers.
    void hang(std::string_view method, std::string_view target);
    // From now on every answer is written only after this delay, as a slow platform's would be.
    void delay_answers(std::chrono::milliseconds delay);
    // What GET /v1/workspaces lists, in order.
    void set_workspaces(const std::vector<WorkspaceSpec>& workspaces);

    // Puts the platform client in the state a full login here leaves: this address, both
    // tokens, workspace 5 and project 5 (memory only; the settings file is not written).
    void log_in_client() const;

    // How often METHOD TARGET was asked.
    int calls(std::string_view method, std::string_view target) const;
    // Every request received, in order.
    std::vector<PlatformRequestRecord> requests() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Shortens the platform client's timeouts for one test, so a hung platform costs little.
class ScopedPlatformTimeouts {
public:
    explicit ScopedPlatformTimeouts(std::chrono::milliseconds limit)
        : saved_(veyra::client::timeouts()) {
        veyra::client::set_timeouts({limit, limit});
    }
    ~ScopedPlatformTimeouts() { veyra::client::set_timeouts(saved_); }

private:
    veyra::client::Timeouts saved_;
};

}  // namespace test_support
