// Running a bound cpp-httplib server on a thread of its own.
#pragma once

#include <thread>

namespace httplib {
class Server;
}

namespace newsbar::loopback {

// Starts server's loop (the server is bound already) and returns once the loop runs, or
// has given up: the library's stop() does nothing before its loop runs, so a server
// stopped right after starting would otherwise keep its thread's join waiting for ever.
std::thread ListenInThread(httplib::Server& server);

}  // namespace newsbar::loopback
