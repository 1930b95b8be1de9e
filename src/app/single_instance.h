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
#include <functional>
#include <future>

namespace newsbar {

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

  std::future<Claim> pending_;
  Claim claim_;
  QPointer<QWidget> window_;
};

}  // namespace newsbar
