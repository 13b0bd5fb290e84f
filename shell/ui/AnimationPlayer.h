#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace orv::ui {

// The scanning animation: the clip "Recovery.avi" beside the program, played into the animation
// panel over its still picture and started again from the beginning once it is past frame 25.
// Without Qt Multimedia, or without the clip, nothing plays and the still picture stays.
class AnimationPlayer : public QObject
{
    Q_OBJECT
public:
    AnimationPlayer(QWidget* panel, QObject* parent = nullptr);
    ~AnimationPlayer() override;

    // Starts the clip; false when it cannot play here (no clip, no media support).
    bool start(const QString& clip);
    void stop();

    // Whether the clip can play here: this build has Qt Multimedia and its backend reads AVI files
    // on this machine.
    static bool available();

private:
    struct Impl;
    Impl* m_impl = nullptr;
};

} // namespace orv::ui
