#pragma once
// What the platform's answers become: each record keeps the platform's JSON object as it came,
// and the front end gets it unchanged.

#include <boost/json/object.hpp>

namespace veyra::client {

struct PlatformRecord {
    boost::json::object fields;
};

struct TokenInfo : PlatformRecord {};
struct UserInfo : PlatformRecord {};
struct WorkspaceInfo : PlatformRecord {};
struct ProjectInfo : PlatformRecord {};
struct ModelRegistryInfo : PlatformRecord {};

}  // namespace veyra::client
