#include "shell/ui/AnimationPlayer.h"

#include <QFileInfo>
#include <QWidget>

#ifdef ORV_HAVE_MULTIMEDIA
#include <QMediaFormat>
#include <QMediaMetaData>
#include <QMediaPlayer>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QVideoWidget>
#endif

namespace orv::ui {

#ifdef ORV_HAVE_MULTIMEDIA

struct AnimationPlayer::Impl
{
    QPointer<QWidget> panel;
    QMediaPlayer* player = nullptr;
    // The panel owns the video picture and may go first when the window is taken down.
    QPointer<QVideoWidget> video;
    QTimer timer; // AviTimer: every 200 ms, rewinds the clip past frame 25
    bool playing = false;
};

AnimationPlayer::AnimationPlayer(QWidget* panel, QObject* parent) : QObject(parent), m_impl(new Impl)
{
    m_impl->panel = panel;
    m_impl->timer.setInterval(200);
    connect(&m_impl->timer, &QTimer::timeout, this, [this] {
        if (!m_impl->playing || !m_impl->player)
            return;
        double rate = m_impl->player->metaData().value(QMediaMetaData::VideoFrameRate).toDouble();
        if (rate <= 0)
            rate = 13.0;
        const double frame = static_cast<double>(m_impl->player->position()) * rate / 1000.0;
        if (frame > 25.0) {
            m_impl->player->setPosition(0);
            m_impl->player->play();
        }
    });
}

AnimationPlayer::~AnimationPlayer()
{
    stop();
    delete m_impl;
}

bool AnimationPlayer::available()
{
    // Being built with Qt Multimedia is not enough: only a media backend that reads AVI files plays
    // the clip (with no GStreamer plug-ins at all the player even crashes). The backend lists what
    // it can read on this machine. It does not list Motion JPEG among its codecs even where it
    // decodes it: the plug-ins that read AVI bring the JPEG decoder with them.
    static const bool playable = [] {
        QMediaFormat format;
        return format.supportedFileFormats(QMediaFormat::Decode).contains(QMediaFormat::AVI);
    }();
    return playable;
}

bool AnimationPlayer::start(const QString& clip)
{
    if (!available() || !QFileInfo::exists(clip) || !m_impl->panel)
        return false;
    if (!m_impl->player) {
        m_impl->video = new QVideoWidget(m_impl->panel);
        m_impl->video->setGeometry(m_impl->panel->rect());
        m_impl->video->hide();
        m_impl->player = new QMediaPlayer(this);
        m_impl->player->setVideoOutput(m_impl->video);
        // Playing before the clip is loaded stalls now and then: start once it is.
        connect(m_impl->player, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
            if (!m_impl->playing)
                return;
            if (status == QMediaPlayer::LoadedMedia) {
                if (m_impl->video)
                    m_impl->video->show();
                m_impl->player->play();
            } else if (status == QMediaPlayer::EndOfMedia) {
                m_impl->player->setPosition(0);
                m_impl->player->play();
            } else if (status == QMediaPlayer::InvalidMedia) {
                stop();
            }
        });
    }
    m_impl->playing = true;
    m_impl->player->setSource(QUrl::fromLocalFile(clip));
    m_impl->timer.start();
    return true;
}

void AnimationPlayer::stop()
{
    m_impl->timer.stop();
    m_impl->playing = false;
    if (m_impl->player)
        m_impl->player->stop();
    if (m_impl->video)
        m_impl->video->hide();
}

#else

struct AnimationPlayer::Impl
{};

AnimationPlayer::AnimationPlayer(QWidget* panel, QObject* parent) : QObject(parent)
{
    Q_UNUSED(panel);
}

AnimationPlayer::~AnimationPlayer() = default;

bool AnimationPlayer::available()
{
    return false;
}

bool AnimationPlayer::start(const QString&)
{
    return false;
}

void AnimationPlayer::stop() {}

#endif

} // namespace orv::ui
