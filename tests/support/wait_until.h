// Waiting in tests without sleeping blindly: Qt events keep running while we wait.
#pragma once

#include <chrono>
#include <functional>

namespace newsbar::test {

// Processes Qt events (when there is an application) until condition() holds or timeout
// has passed; gives condition() as it stands at the end.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace newsbar::test
