#pragma once

#include <QAnimationDriver>
#include <QApplication>

// Qt's animation clock, moved by hand while the object lives: animations advance only by step().
class SteppedAnimationClock : public QAnimationDriver {
public:
    SteppedAnimationClock() { install(); }
    ~SteppedAnimationClock() override { uninstall(); }

    qint64 elapsed() const override { return now_; }
    void step(qint64 ms)
    {
        QApplication::processEvents(); // Qt registers new animations with the clock from the event loop
        now_ += ms;
        advance();
    }

private:
    qint64 now_ = 0;
};
