// The catalogue's transport on its own, with a short time-out so every fault can be
// tried quickly: each call returns within its bound, a failed exchange gives nothing
// (never half a body passed off as the whole), and a complete reply comes back
// byte for byte whatever its status.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "net/com_http_request.h"
#include "support/fault_server.h"

namespace newsbar::test {
namespace {

using namespace std::chrono_literals;

constexpr int kTimeoutSeconds = 1;
// Connect, a hop or two of the redirect loop, a busy machine.
constexpr auto kBound = std::chrono::seconds(kTimeoutSeconds) + 3s;

const std::string kPage = R"({"code":0,"data":{"list":[{"title":"a","duration":1}]}})";

struct Outcome {
  Fault fault;
  // The body expected back: nothing (failed), the page, half of it, or the server's
  // own text for an error status.
  std::string body;
};

void PrintTo(const Outcome& outcome, std::ostream* out) {
  *out << FaultName(outcome.fault);
}

class CatalogueTransport : public testing::TestWithParam<Outcome> {};

TEST_P(CatalogueTransport, ReturnsWithinTheTimeoutWithAWholeBodyOrNone) {
  FaultServer server(GetParam().fault, kPage);
  server.SetDripInterval(200ms);
  int status = -1;
  QElapsedTimer clock;
  clock.start();
  const ByteSet body = ComHttpRequest({.url = server.Url("/catalogue?_=1"),
                                       .method = 1,
                                       .statusCode = &status,
                                       .timeoutSeconds = kTimeoutSeconds});
  EXPECT_LE(clock.elapsed(), std::chrono::milliseconds(kBound).count());
  EXPECT_EQ(std::string(body.begin(), body.end()), GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CatalogueTransport,
    testing::Values(Outcome{Fault::kNone, kPage}, Outcome{Fault::kRefuse, ""},
                    Outcome{Fault::kSilent, ""}, Outcome{Fault::kHeadersThenStall, ""},
                    Outcome{Fault::kEndlessBody, ""}, Outcome{Fault::kEarlyClose, ""},
                    Outcome{Fault::kNotFound, "not found\n"},
                    Outcome{Fault::kServerError, "internal error\n"},
                    Outcome{Fault::kTruncated, kPage.substr(0, kPage.size() / 2)},
                    // One byte every 200 ms: the whole reply would take 10 s and more.
                    Outcome{Fault::kDrip, ""}, Outcome{Fault::kDripBody, ""},
                    Outcome{Fault::kRedirectLoop, ""}),
    [](const testing::TestParamInfo<Outcome>& info) {
      return std::string(FaultName(info.param.fault));
    });

}  // namespace
}  // namespace newsbar::test
