// One request/reply exchange with a deadline, shared by the request tool and
// the tests that talk to the stand-in.
#pragma once

#include <chrono>
#include <string>

// Sends text on a fresh request socket and waits up to timeout for the reply;
// false when none came. A bad endpoint throws zmq::error_t.
bool requestReply(const std::string& endpoint, const std::string& text, std::string* reply,
                  std::chrono::milliseconds timeout);
