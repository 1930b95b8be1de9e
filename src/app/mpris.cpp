#include "app/mpris.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "app/application_id.h"
#include "app/player_state.h"
#include "app/player_window.h"
#include "runtime/qt_text.h"

namespace newsbar {

namespace {

const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kServiceName = QStringLiteral("org.mpris.MediaPlayer2.newsbar");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
// An episode is named by its audio URL (hashed to fit an object path), which stays with it
// when a refresh inserts rows above it.
const QString kTrackPrefix = QStringLiteral("/io/github/newsbar/track/");

// The programme an episode belongs to, from the marker in its title.
constexpr const char* kProgrammes[][2] = {{"小涟早报：", "小涟早报"}, {"小涟晚报：", "小涟晚报"}};

// The programme named by the first marker in the title; empty for a title without one.
QString ProgrammeOf(const QString& title) {
  QString programme;
  qsizetype first = -1;
  for (const auto& [marker, name] : kProgrammes) {
    const qsizetype at = title.indexOf(QString::fromUtf8(marker));
    if (at >= 0 && (first < 0 || at < first)) {
      first = at;
      programme = QString::fromUtf8(name);
    }
  }
  return programme;
}

constexpr qlonglong kMicroseconds = 1000000;

// org.mpris.MediaPlayer2: the application as a whole.
class RootAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ CanQuit)
  Q_PROPERTY(bool CanRaise READ CanRaise)
  Q_PROPERTY(bool HasTrackList READ HasTrackList)
  Q_PROPERTY(QString Identity READ Identity)
  Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

 public:
  explicit RootAdaptor(Mpris* owner) : QDBusAbstractAdaptor(owner), owner_(owner) {}

  bool CanQuit() const { return true; }
  bool CanRaise() const { return true; }
  bool HasTrackList() const { return false; }
  QString Identity() const { return QStringLiteral("newsbar"); }
  QString DesktopEntry() const { return QString::fromLatin1(kApplicationId); }
  // Nothing can be opened from outside: the player plays its own two programmes.
  QStringList SupportedUriSchemes() const { return {}; }
  QStringList SupportedMimeTypes() const { return {}; }

 public slots:
  void Raise() { owner_->Raise(); }
  void Quit() { owner_->Quit(); }

 private:
  Mpris* owner_;
};

// org.mpris.MediaPlayer2.Player: the playback buttons, the slider and what they show.
class PlayerAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
  Q_PROPERTY(double Rate READ Rate)
  Q_PROPERTY(double MinimumRate READ Rate)
  Q_PROPERTY(double MaximumRate READ Rate)
  Q_PROPERTY(QVariantMap Metadata READ Metadata)
  Q_PROPERTY(QString LoopStatus READ LoopStatus WRITE SetLoopStatus)
  Q_PROPERTY(bool Shuffle READ Shuffle WRITE SetShuffle)
  Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
  Q_PROPERTY(qlonglong Position READ Position)
  Q_PROPERTY(bool CanGoNext READ CanGoNext)
  Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
  Q_PROPERTY(bool CanPlay READ CanPlay)
  Q_PROPERTY(bool CanPause READ CanPause)
  Q_PROPERTY(bool CanSeek READ CanSeek)
  Q_PROPERTY(bool CanControl READ CanControl)

 public:
  explicit PlayerAdaptor(Mpris* owner) : QDBusAbstractAdaptor(owner), owner_(owner) {
    setAutoRelaySignals(false);
    connect(owner, &Mpris::seeked, this, &PlayerAdaptor::Seeked);
  }

  QString PlaybackStatus() const { return owner_->PlaybackStatus(); }
  double Rate() const { return 1.0; }
  QVariantMap Metadata() const { return owner_->Metadata(); }
  QString LoopStatus() const { return owner_->LoopStatus(); }
  void SetLoopStatus(const QString& status) { owner_->SetLoopStatus(status); }
  bool Shuffle() const { return owner_->Shuffle(); }
  void SetShuffle(bool shuffle) { owner_->SetShuffle(shuffle); }
  double Volume() const { return owner_->Volume(); }
  void SetVolume(double volume) { owner_->SetVolume(volume); }
  qlonglong Position() const { return owner_->Position(); }
  bool CanGoNext() const { return owner_->CanGoNext(); }
  bool CanGoPrevious() const { return owner_->CanGoPrevious(); }
  bool CanPlay() const { return owner_->CanPlay(); }
  bool CanPause() const { return owner_->CanPause(); }
  bool CanSeek() const { return owner_->CanSeek(); }
  bool CanControl() const { return true; }

 public slots:
  void Next() { owner_->Next(); }
  void Previous() { owner_->Previous(); }
  void Pause() { owner_->Pause(); }
  void PlayPause() { owner_->PlayPause(); }
  void Stop() { owner_->Stop(); }
  void Play() { owner_->Play(); }
  void Seek(qlonglong Offset) { owner_->Seek(Offset); }
  void SetPosition(const QDBusObjectPath& TrackId, qlonglong Position) {
    owner_->SetPosition(TrackId.path(), Position);
  }
  // Nothing can be opened from outside (SupportedUriSchemes is empty).
  void OpenUri(const QString&) {}

 signals:
  void Seeked(qlonglong Position);

 private:
  Mpris* owner_;
};

}  // namespace

Mpris::Mpris(PlayerWindow& window, QDBusConnection bus) : window_(&window), bus_(std::move(bus)) {
  if (!bus_.isConnected()) return;
  new RootAdaptor(this);
  new PlayerAdaptor(this);
  if (!bus_.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors)) return;
  // A second player on the same desktop takes a name of its own.
  serviceName_ = kServiceName;
  if (!bus_.registerService(serviceName_)) {
    serviceName_ = kServiceName + QStringLiteral(".instance") +
                   QString::number(QCoreApplication::applicationPid());
    if (!bus_.registerService(serviceName_)) {
      bus_.unregisterObject(kObjectPath);
      return;
    }
  }
  registered_ = true;

  // Both are raised after the change (the window's own tick handler is connected first),
  // so what is announced is the state after it.
  connect(&window, &PlayerWindow::playbackChanged, this, &Mpris::AnnounceChanges);
  connect(&window, &PlayerWindow::loopModeChanged, this, &Mpris::AnnounceChanges);
  // The media may stop by itself (end of the list); the play timer notices within a second.
  connect(window.playTimer, &Timer::tick, this, &Mpris::AnnounceChanges);
  // A jump resumes stopped media, as moving the slider does; paused media stays paused.
  connect(&window, &PlayerWindow::positionJumped, this, [this] {
    emit seeked(Position());
    AnnounceChanges();
  });
  announced_ = AnnouncedProperties();
}

Mpris::~Mpris() {
  if (!registered_) return;
  bus_.unregisterService(serviceName_);
  bus_.unregisterObject(kObjectPath);
}

QString Mpris::TrackId(int row) const {
  const Text audioUrl = window_->episodeList->CellText(row, kAudioColumn);
  const QByteArray hash = QCryptographicHash::hash(
      QByteArray::fromRawData(audioUrl.data(), static_cast<qsizetype>(audioUrl.size())),
      QCryptographicHash::Sha1);
  return kTrackPrefix + QString::fromLatin1(hash.toHex().left(16));
}

int Mpris::TrackRow() const {
  // Before the first episode starts the playback buttons are disabled.
  if (!window_ || !window_->playPauseButton->isEnabled()) return -1;
  const int row = CurrentRow;
  return row >= 0 && row < window_->episodeList->RowCount() ? row : -1;
}

QString Mpris::PlaybackStatus() const {
  if (!window_) return QStringLiteral("Stopped");
  switch (window_->Media().State()) {
    case 1:
      // Waiting for a lost stream to come back: no sound, the place kept.
      if (window_->Media().Waiting()) return QStringLiteral("Paused");
      return QStringLiteral("Playing");
    case 3:
      return QStringLiteral("Paused");
    default:
      return QStringLiteral("Stopped");
  }
}

QVariantMap Mpris::Metadata() const {
  const int row = TrackRow();
  if (row < 0) {
    return {{QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(kNoTrack))}};
  }
  const QString title = ToQString(window_->episodeList->CellText(row, kTitleColumn));
  QVariantMap metadata{
      {QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(TrackId(row)))},
      {QStringLiteral("xesam:title"), title},
  };
  // The programme is the album of its episodes, and the only author the catalogue names.
  const QString programme = ProgrammeOf(title);
  if (!programme.isEmpty()) {
    metadata.insert(QStringLiteral("xesam:album"), programme);
    metadata.insert(QStringLiteral("xesam:artist"), QStringList{programme});
  }
  const QString cover = ToQString(window_->episodeList->CellText(row, kCoverColumn));
  if (!cover.isEmpty()) metadata.insert(QStringLiteral("mpris:artUrl"), cover);
  // The length the window shows (whole seconds); unknown for media that did not open, and
  // until the started episode's length is known.
  const qlonglong length = window_->StartUnderWay() ? 0 : window_->progress->MaximumPosition();
  if (length > 0) metadata.insert(QStringLiteral("mpris:length"), length * kMicroseconds);
  return metadata;
}

qlonglong Mpris::Position() const {
  if (!window_) return 0;
  const int milliseconds = window_->Media().Position();
  return milliseconds > 0 ? qlonglong{milliseconds} * 1000 : 0;
}

QString Mpris::LoopStatus() const {
  return LoopMode == 2 ? QStringLiteral("Track") : QStringLiteral("None");
}

bool Mpris::Shuffle() const {
  return LoopMode == 3;
}

double Mpris::Volume() const {
  return window_ ? window_->Media().Volume() : 1.0;
}

void Mpris::SetLoopStatus(const QString& status) {
  if (!window_) return;
  if (status == QStringLiteral("Track")) {
    window_->SetLoopMode(2);
  } else if (status == QStringLiteral("None") && LoopMode == 2) {
    window_->SetLoopMode(1);
  }
  AnnounceChanges();
}

void Mpris::SetShuffle(bool shuffle) {
  if (!window_) return;
  if (shuffle) {
    window_->SetLoopMode(3);
  } else if (LoopMode == 3) {
    window_->SetLoopMode(1);
  }
  AnnounceChanges();
}

void Mpris::SetVolume(double volume) {
  if (!window_) return;
  window_->Media().SetVolume(volume);
  AnnounceChanges();
}

bool Mpris::CanGoNext() const {
  return window_ && window_->nextButton->isEnabled();
}
bool Mpris::CanGoPrevious() const {
  return window_ && window_->previousButton->isEnabled();
}
bool Mpris::CanPlay() const {
  return window_ && window_->playPauseButton->isEnabled();
}
bool Mpris::CanPause() const {
  return CanPlay();
}
bool Mpris::CanSeek() const {
  return window_ && window_->progress->isEnabled() && TrackRow() >= 0 &&
         !window_->StartUnderWay() && window_->progress->MaximumPosition() > 0;
}

// Each acts only where its button would: a disabled button does nothing when clicked.
void Mpris::PlayPause() {
  if (CanPlay()) window_->OnPlayPauseClicked();
  AnnounceChanges();
}

void Mpris::Play() {
  if (CanPlay() && window_->Media().State() != 1) window_->OnPlayPauseClicked();
  AnnounceChanges();
}

void Mpris::Pause() {
  if (CanPause() && window_->Media().State() == 1) window_->OnPlayPauseClicked();
  AnnounceChanges();
}

void Mpris::Next() {
  if (CanGoNext()) window_->OnNextClicked();
  AnnounceChanges();
}

void Mpris::Previous() {
  if (CanGoPrevious()) window_->OnPreviousClicked();
  AnnounceChanges();
}

// The window has no stop button; the nearest it has is what the end of the list does:
// stop the media and close it, leaving the title and the list as they are.
void Mpris::Stop() {
  if (window_) window_->PlayEpisode(-1);
  AnnounceChanges();
}

void Mpris::Seek(qlonglong offset) {
  if (!CanSeek()) return;
  const qlonglong length = qlonglong{window_->progress->MaximumPosition()} * kMicroseconds;
  const qlonglong target = std::max<qlonglong>(0, Position() + offset);
  // Past the end the episode ends, and the loop mode picks what follows, as at its end.
  if (target > length) {
    window_->OnEpisodeEnded();
    AnnounceChanges();
    return;
  }
  SeekTo(target);
}

void Mpris::SetPosition(const QString& trackId, qlonglong position) {
  if (!CanSeek() || trackId != TrackId(TrackRow())) return;
  if (position < 0 || position > qlonglong{window_->progress->MaximumPosition()} * kMicroseconds)
    return;
  SeekTo(position);
}

// As if the user had moved the slider there (the slider counts whole seconds), except
// that paused media stays paused.
void Mpris::SeekTo(qlonglong position) {
  window_->JumpTo(static_cast<int>(position / kMicroseconds));
}

void Mpris::Raise() {
  if (!window_) return;
  window_->show();
  window_->raise();
  window_->activateWindow();
}

// The close button ends the process at once, so first let this call's reply go out: it
// leaves after the slot returns, and the bus answers the question below only after it
// has read everything sent before it.
void Mpris::Quit() {
  if (!window_) return;
  QTimer::singleShot(0, this, [this] {
    if (registered_) {
      bus_.call(QDBusMessage::createMethodCall(
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")),
                QDBus::Block, 1000);
    }
    if (window_) window_->closeButton->click();
  });
}

QVariantMap Mpris::AnnouncedProperties() const {
  return {{QStringLiteral("PlaybackStatus"), PlaybackStatus()},
          {QStringLiteral("Metadata"), Metadata()},
          {QStringLiteral("CanGoNext"), CanGoNext()},
          {QStringLiteral("CanGoPrevious"), CanGoPrevious()},
          {QStringLiteral("CanPlay"), CanPlay()},
          {QStringLiteral("CanPause"), CanPause()},
          {QStringLiteral("CanSeek"), CanSeek()},
          {QStringLiteral("LoopStatus"), LoopStatus()},
          {QStringLiteral("Shuffle"), Shuffle()},
          {QStringLiteral("Volume"), Volume()}};
}

void Mpris::AnnounceChanges() {
  if (!registered_ || !window_) return;
  const QVariantMap now = AnnouncedProperties();
  QVariantMap changed;
  for (auto entry = now.cbegin(); entry != now.cend(); ++entry) {
    if (announced_.value(entry.key()) != entry.value()) changed.insert(entry.key(), entry.value());
  }
  announced_ = now;
  if (changed.isEmpty()) return;
  QDBusMessage signal =
      QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                 QStringLiteral("PropertiesChanged"));
  signal << kPlayerInterface << changed << QStringList();
  bus_.send(signal);
}

}  // namespace newsbar

#include "mpris.moc"
