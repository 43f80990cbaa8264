// The one way the setup talks to the network: scheme-chosen transport, one
// connection per attempt, up to three attempts, up to seven redirects.
#pragma once

#include "net/http.h"

namespace tarncore {

class HttpClient {
public:
    static HttpResponse execute(const HttpRequest& request, Error& error);
    static HttpResponse execute_once(const HttpRequest& request, Error& error);
    static HttpResponse exchange(Transport& transport, const HttpRequest& request, const Url& url,
                                 Error& error);
};

}  // namespace tarncore
