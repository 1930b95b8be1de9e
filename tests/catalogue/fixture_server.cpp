// The loopback catalogue fixture as a process of its own, for running build/newsbar by
// hand (screenshots, trying things out) without the network:
//
//   fixture_server <catalogue port> <time port>
//
// serves both programmes on 127.0.0.1:<catalogue port> (http and https on the same port)
// and the time on 127.0.0.1:<time port>, with eight episodes per programme ending with
// today's at UTC+8. It prints the two build settings that point the player at it and
// runs until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "support/catalogue_fixture.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <catalogue port> <time port>\n", argv[0]);
    return 2;
  }
  // Block the stop signals before any thread starts, so that only sigwait sees them.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  using newsbar::test::CatalogueFixture;
  using newsbar::test::FixtureProgramme;
  // Clips of two minutes, so an episode is still playing when you look.
  CatalogueFixture fixture({.timePort = std::atoi(argv[2]),
                            .combined = true,
                            .combinedPort = std::atoi(argv[1]),
                            .clipMilliseconds = 120000});

  const std::time_t now = std::time(nullptr);
  std::tm gmt{};
  gmtime_r(&now, &gmt);
  char date[64];
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &gmt);
  fixture.SetDateHeader(std::string(date));
  // Newest first from today at UTC+8 (listed by the player from 05:00 on).
  const std::time_t beijing = now + 8 * 3600;
  std::tm today{};
  gmtime_r(&beijing, &today);
  for (const FixtureProgramme programme :
       {FixtureProgramme::kMorning, FixtureProgramme::kEvening}) {
    fixture.SetEpisodes(programme, fixture.MakeEpisodes(programme, today.tm_year + 1900,
                                                        today.tm_mon + 1, today.tm_mday, 8));
  }

  const newsbar::Endpoints endpoints = fixture.Endpoints();
  std::printf("-DNEWSBAR_CATALOGUE_HOST=%s -DNEWSBAR_TIME_URL=%s\n",
              endpoints.catalogueHost.c_str(), endpoints.timeUrl.c_str());
  std::fflush(stdout);
  int signal = 0;
  sigwait(&stop, &signal);
  return 0;
}
