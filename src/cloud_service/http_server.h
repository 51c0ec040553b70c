#pragma once

#include <httplib.h>

#include <memory>
#include <string>

// The service's HTTP server: plain HTTP, or HTTPS when `certificate` and `key` name PEM files
// (the certificate first, then its intermediates; the key unencrypted). The server is always
// made; when the files cannot be used, `error` says which and why and the server is not valid.
std::unique_ptr<httplib::Server> makeHttpServer(const std::string& certificate,
                                                const std::string& key, std::string& error);

// cpp-httplib listens with a backlog of five connections; many clients connecting at once
// overflow it and their requests fail. Widens the backlog of a bound server.
bool widenBacklog(httplib::Server& server, int connections);
