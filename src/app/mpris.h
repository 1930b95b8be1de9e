// The player on the desktop's media bus: media keys and the desktop's media controls
// drive the window through the same handlers as its buttons, and see the episode, the
// playback status and the position. Bus name "org.mpris.MediaPlayer2.newsbar" (with an
// ".instance<pid>" suffix when another player holds it), object /org/mpris/MediaPlayer2.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

namespace newsbar {

class PlayerWindow;

class Mpris : public QObject {
  Q_OBJECT
 public:
  // Registers at once on `bus`. Without a bus, or when registration fails, the object
  // does nothing at all (Registered() is false) and the window works as before.
  explicit Mpris(PlayerWindow& window, QDBusConnection bus = QDBusConnection::sessionBus());
  ~Mpris() override;
  Mpris(const Mpris&) = delete;
  Mpris& operator=(const Mpris&) = delete;

  bool Registered() const { return registered_; }
  // The bus name held, empty when not registered.
  QString ServiceName() const { return registered_ ? serviceName_ : QString(); }

  // What the two interfaces read and do; the adaptors in mpris.cpp forward here.
  PlayerWindow* Window() const { return window_; }
  QString PlaybackStatus() const;
  QVariantMap Metadata() const;
  qlonglong Position() const;  // microseconds
  bool CanGoNext() const;
  bool CanGoPrevious() const;
  bool CanPlay() const;
  bool CanPause() const;
  bool CanSeek() const;
  // The loop button's modes: "None" in order, "Track" repeat one; Shuffle for shuffle.
  QString LoopStatus() const;
  bool Shuffle() const;
  // The media's volume, 0 to 1.
  double Volume() const;

  void PlayPause();
  void Play();
  void Pause();
  void Next();
  void Previous();
  void Stop();
  void Seek(qlonglong offset);
  void SetPosition(const QString& trackId, qlonglong position);
  // As the loop button sets the mode, picture and all. "Playlist" (no mode of the
  // player's) changes nothing; clearing Shuffle goes back to in order.
  void SetLoopStatus(const QString& status);
  void SetShuffle(bool shuffle);
  void SetVolume(double volume);
  void Raise();
  void Quit();

  // Sends PropertiesChanged for whatever differs from what was last announced.
  void AnnounceChanges();

 signals:
  // The media was sent to another position (microseconds).
  void seeked(qlonglong position);

 private:
  // The current episode's row, or -1 while none has started.
  int TrackRow() const;
  // The object path that names the episode of a row.
  QString TrackId(int row) const;
  void SeekTo(qlonglong position);
  // The properties whose changes are announced (Position is not: it moves all the time,
  // and jumps are announced by `seeked`).
  QVariantMap AnnouncedProperties() const;

  QPointer<PlayerWindow> window_;
  QDBusConnection bus_;
  QString serviceName_;
  bool registered_ = false;
  QVariantMap announced_;
};

}  // namespace newsbar
