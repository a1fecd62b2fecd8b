#pragma once
// ".../view" without its slash: the page's relative addresses need the slash, so the page
// moves there, keeping the kernel and the token of the address.

#include "host/api_handler.hpp"

namespace page {

class PageRedirectHandler : public host::PlainHandler {
public:
    using host::PlainHandler::PlainHandler;
    void get(const host::PathArgs& path_args) override;
};

}  // namespace page
