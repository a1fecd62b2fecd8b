#pragma once
// What the platform's answers become: each record keeps the platform's JSON object as it came
// (`kwargs`), and `to_dict` gives it to the front end unchanged.

#include <boost/json/object.hpp>

namespace veyra::client {

struct PlatformRecord {
    boost::json::object kwargs;
    boost::json::object to_dict() const { return kwargs; }
};

struct TokenInfo : PlatformRecord {};
struct UserInfo : PlatformRecord {};
struct WorkspaceInfo : PlatformRecord {};
struct ProjectInfo : PlatformRecord {};
struct ModelRegistryInfo : PlatformRecord {};

}  // namespace veyra::client
