// A JSON answer of the API, never cached: every answer is the state of its moment.
#pragma once

#include <httplib.h>

#include <string>

inline void Json(httplib::Response& res, int status, const std::string& body) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(body, "application/json");
}
