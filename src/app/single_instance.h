// One player per user session. The first launch holds the bus name kApplicationId on the
// session bus and answers org.freedesktop.Application.Activate on /io/github/newsbar/newsbar
// by bringing its window forward; a later launch finds the name taken, asks its holder to
// come forward and ends. Without a session bus every launch is a player of its own.
//
// Connecting to the bus costs some tens of milliseconds (the D-Bus library loads, the
// bus answers), so the claim runs on a thread of its own while the window is being built;
// the window's thread waits only for what is left of it, just before the window shows.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QVariantMap>
#include <QWidget>
#include <chrono>
#include <functional>
#include <future>

namespace newsbar {

// How long the first load's requests wait for the claim before they go out all the same
// (a session bus that is slow to answer must not hold up the start).
inline constexpr std::chrono::milliseconds kClaimWaitForRequests{100};

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  enum class Role {
    kFirst,           // this process holds the name and answers later launches
    kAlone,           // no session bus, or it did not answer: a player of its own
    kHandedOver,      // another player holds the name and was asked to come forward
    kHandOverFailed,  // another player holds the name but did not answer
  };
  using BusConnector = std::function<QDBusConnection()>;

  // Starts the claim at once on a thread of its own: `connect` gives the bus there, then
  // one request for the name and, when it is taken, one call to its holder, each
  // bounded by `timeoutMs`.
  explicit SingleInstance(BusConnector connect = &QDBusConnection::sessionBus,
                          int timeoutMs = 3000);
  ~SingleInstance() override;
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // The outcome of the claim, waiting for it the first time if it is still under way.
  Role role();
  // From any thread: whether this launch is to be a player (it holds the name, or there
  // is no bus to ask), waiting at most `bound` for the claim; true when it has not come
  // by then. A later launch uses it to send nothing before it ends.
  bool WillPlay(std::chrono::milliseconds bound) const;
  // The window that later launches bring forward.
  void SetWindow(QWidget& window) { window_ = &window; }

  // A later launch asked for this player: the window is shown, unminimised, raised and
  // activated. What the caller sent about its launch is not needed for that.
  void Activate(const QVariantMap& platformData);

 private:
  struct Claim {
    Role role = Role::kAlone;
    QDBusConnection bus{QString()};
    bool objectRegistered = false;
  };
  // Runs on the claim's thread.
  Claim MakeClaim(const BusConnector& connect, int timeoutMs);

  // Set in the constructor, then only read (from any thread).
  std::shared_future<Claim> pending_;
  Claim claim_;  // the window's thread's copy, once taken
  bool claimTaken_ = false;
  QPointer<QWidget> window_;
};

}  // namespace newsbar
