#pragma once
// A horizontal slider over a float range. It moves in coarse steps, and in
// fine steps while Alt is held (keys and wheel alike).
#include <QSlider>

#include <QKeyEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace mv::shell {

class FloatSlider : public QSlider {
    Q_OBJECT
public:
    FloatSlider(double min, double max, double fineStep, QWidget* parent = nullptr)
        : QSlider(Qt::Horizontal, parent), fine_(fineStep)
    {
        setRange(static_cast<int>(std::lround(min / fine_)), static_cast<int>(std::lround(max / fine_)));
        coarse_ = fineStep >= 1 ? 1 : 10;
        setSingleStep(coarse_);
        setPageStep(coarse_ * 10);
    }

    float floatValue() const { return static_cast<float>(value() * fine_); }
    void setFloatValue(double v) { setValue(static_cast<int>(std::lround(v / fine_))); }
    // The slider stands where `v` would put it.
    bool holds(double v) const { return value() == std::clamp(static_cast<int>(std::lround(v / fine_)), minimum(), maximum()); }
    double fineStep() const { return fine_; }

protected:
    void keyPressEvent(QKeyEvent* e) override
    {
        setSingleStep((e->modifiers() & Qt::AltModifier) ? 1 : coarse_);
        QSlider::keyPressEvent(e);
    }
    void wheelEvent(QWheelEvent* e) override
    {
        setSingleStep((e->modifiers() & Qt::AltModifier) ? 1 : coarse_);
        QSlider::wheelEvent(e);
    }

private:
    double fine_;
    int coarse_;
};

} // namespace mv::shell
