// HTTP/1.1 on Boost.Beast: accepts, reads each request under one deadline
// and its size limits, hands it to the handlers on a worker pool (the store
// may block), writes the answer, logs it. Runs until SIGTERM or SIGINT, then
// stops accepting, finishes what is in flight and returns within 2 s.
#pragma once

#include <functional>
#include <string>

struct ServiceOptions;
struct ServiceContext;

// `on_listening` gets the bound port (useful with port 0). False with `error`
// when the address cannot be bound.
bool run_http_server(const ServiceOptions& options, ServiceContext& context, const std::function<void(int)>& on_listening,
                     std::string& error);
