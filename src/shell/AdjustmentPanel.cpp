#include "shell/AdjustmentPanel.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cstdio>

#include "settings/JobSettings.h"
#include "shell/FloatSlider.h"

namespace mv::shell {

namespace {

// The fields of the float sliders and how their labels show them.
struct SliderDef {
    const char* name;  // slider object name; the label is name + "Text"
    const char* title; // the label in front of the slider
    float JobSettings::*field;
    float min, max;
    float fineStep; // one step with Alt held
    const char* format;
    float mul, add; // shown value = field * mul + add
    int resetTag;   // the tag of its Reset button; 3: Reset Colour's, it has none
    const char* tip;
};

const SliderDef kSliders[] = {
    {"saturation", QT_TRANSLATE_NOOP("AdjustmentPanel", "Saturation"), &JobSettings::saturation, 0, 4, 0.001f, "%0.1f",
     100, -100, 3, QT_TRANSLATE_NOOP("AdjustmentPanel", "Colour saturation: left for grey, right for stronger colours")},
    {"brightness", QT_TRANSLATE_NOOP("AdjustmentPanel", "Brightness"), &JobSettings::brightness, -1, 1, 0.001f, "%0.1f",
     100, 0, 3, QT_TRANSLATE_NOOP("AdjustmentPanel", "Brightness added to every pixel")},
    {"contrast", QT_TRANSLATE_NOOP("AdjustmentPanel", "Contrast"), &JobSettings::contrast, 0.25f, 4, 0.001f, "%0.1f",
     100, -100, 3, QT_TRANSLATE_NOOP("AdjustmentPanel", "Contrast about mid-grey")},
    {"exposure", QT_TRANSLATE_NOOP("AdjustmentPanel", "Exposure"), &JobSettings::exposureEV, -10, 10, 0.01f, "%0.2fev",
     1, 0, 4, QT_TRANSLATE_NOOP("AdjustmentPanel", "Exposure in stops: +1 doubles the light")},
    {"mono", QT_TRANSLATE_NOOP("AdjustmentPanel", "Monochrome"), &JobSettings::monoIntensity, 0, 1, 0.001f, "%0.1f%%",
     100, 0, 5, QT_TRANSLATE_NOOP("AdjustmentPanel", "Strength of the monochrome tint (its colour: Tint Colour…)")},
    {"sepia", QT_TRANSLATE_NOOP("AdjustmentPanel", "Sepia"), &JobSettings::sepiaIntensity, 0, 1, 0.001f, "%0.1f%%", 100,
     0, 6, QT_TRANSLATE_NOOP("AdjustmentPanel", "Strength of the sepia tone")},
    {"blur", QT_TRANSLATE_NOOP("AdjustmentPanel", "Blur"), &JobSettings::blurRadius, 0, 100, 0.001f, "%0.1f%%", 100, 0,
     7, QT_TRANSLATE_NOOP("AdjustmentPanel", "Gaussian blur radius")},
    {"rotate", QT_TRANSLATE_NOOP("AdjustmentPanel", "Straighten"), &JobSettings::rotateAngle, kStraightenRange.low,
     kStraightenRange.high, 0.00174f, "%0.1f°", 57.325f, 0, 8,
     QT_TRANSLATE_NOOP("AdjustmentPanel", "Turns the picture to straighten a tilted horizon")},
    {"sharpen", QT_TRANSLATE_NOOP("AdjustmentPanel", "Sharpen"), &JobSettings::sharpenValue, 0, 10, 0.001f, "%0.1f%%",
     100, 0, 9, QT_TRANSLATE_NOOP("AdjustmentPanel", "Sharpens the picture's detail")},
};

QString formatLabel(const char* format, double value)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, format, value);
    return QString::fromUtf8(buf);
}

} // namespace

AdjustmentPanel::AdjustmentPanel(JobSettings& settings, QWidget* parent)
    : QDialog(parent, Qt::Tool), settings_(settings)
{
    setObjectName("filterPanel");
    setWindowTitle(tr("Adjustments"));
    auto* v = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    int row = 0;
    auto addSlider = [&](const QString& name, const QString& title, float min, float max, float fine, int resetTag,
                         const QString& tip) {
        auto* label = new QLabel(title + ":", this);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto* slider = new FloatSlider(min, max, fine, this);
        slider->setObjectName(name + "Slider");
        slider->setAccessibleName(title);
        slider->setToolTip(tip + tr(". Arrow keys step; with Alt held, finer."));
        slider->setMinimumWidth(200);
        label->setBuddy(slider);
        auto* value = new QLabel(this);
        value->setObjectName(name + "Text");
        value->setMinimumWidth(64);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setAccessibleName(title + tr(" value"));
        grid->addWidget(label, row, 0);
        grid->addWidget(slider, row, 1);
        grid->addWidget(value, row, 2);
        if (resetTag >= 4) {
            auto* reset = new QPushButton(tr("Reset"), this);
            reset->setObjectName(name + "ResetButton");
            reset->setAccessibleName(tr("Reset %1").arg(title));
            reset->setToolTip(tr("Back to no %1").arg(title.toLower()));
            connect(reset, &QPushButton::clicked, this, [this, resetTag] { emit command(resetTag); });
            grid->addWidget(reset, row, 3);
        }
        connect(slider, &QSlider::valueChanged, this, [this] { emit command(0); });
        sliders_[name] = slider;
        sliderLabels_[name] = value;
        ++row;
    };
    for (const SliderDef& d : kSliders)
        addSlider(d.name, tr(d.title), d.min, d.max, d.fineStep, d.resetTag, tr(d.tip));

    auto* resetRow = new QHBoxLayout;
    auto button = [this](const QString& title, const char* name, const QString& tip, int tag) {
        auto* b = new QPushButton(title, this);
        b->setObjectName(name);
        b->setToolTip(tip);
        connect(b, &QPushButton::clicked, this, [this, tag] { emit command(tag); });
        return b;
    };
    resetRow->addWidget(button(tr("Tint Colour…"), "monoColorButton", tr("Colour of the monochrome tint"), 1));
    resetRow->addStretch();
    resetRow->addWidget(button(tr("Reset Colour"), "resetColorButton",
                               tr("Saturation, brightness and contrast back to neutral"), 3));
    resetRow->addWidget(button(tr("Reset All"), "resetAllButton", tr("Every adjustment back to neutral"), 2));
    grid->addLayout(resetRow, row++, 0, 1, 4);
    keyframesNote_ = new QLabel(tr("This movie follows its keyframes: the adjustments are taken from them. "
                                   "Change them in the keyframe editor (Crop: Custom), or choose another crop "
                                   "to use the sliders."),
                                this);
    keyframesNote_->setObjectName("keyframesNote");
    keyframesNote_->setWordWrap(true);
    keyframesNote_->setStyleSheet("QLabel { background: palette(tooltip-base); color: palette(tooltip-text); "
                                  "padding: 4px; }");
    keyframesNote_->hide();
    grid->addWidget(keyframesNote_, row++, 0, 1, 4);
    grid->setRowMinimumHeight(row++, 8);

    // Smoothing, in the same columns as the adjustments
    tweenCheckbox_ = new QCheckBox(tr("Tween frames"), this);
    tweenCheckbox_->setObjectName("tweenCheckbox");
    tweenCheckbox_->setToolTip(tr("Insert blended frames between the images"));
    motionBlurCheckbox_ = new QCheckBox(tr("Motion blur"), this);
    motionBlurCheckbox_->setObjectName("motionBlurCheckbox");
    motionBlurCheckbox_->setToolTip(tr("Mix each frame with the ones before it"));
    auto intSlider = [&](const QString& name, const QString& title, int min, int max, int r, QCheckBox* box) {
        auto* slider = new FloatSlider(min, max, 1, this);
        slider->setObjectName(name + "Slider");
        slider->setAccessibleName(title);
        auto* value = new QLabel(this);
        value->setObjectName(name + "Text");
        value->setAccessibleName(title + tr(" value"));
        value->setMinimumWidth(64);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(box, row + r, 0);
        grid->addWidget(slider, row + r, 1);
        grid->addWidget(value, row + r, 2);
        connect(slider, &QSlider::valueChanged, this, [this] { emit command(0); });
        sliders_[name] = slider;
        sliderLabels_[name] = value;
    };
    // As many as a movie uses: more would be held to these when it starts.
    intSlider("tween", tr("Tween frames"), 1, kMaxTweenFrames, 0, tweenCheckbox_);
    intSlider("motion", tr("Motion blur frames"), 1, kMotionStoreSize, 1, motionBlurCheckbox_);
    connect(tweenCheckbox_, &QCheckBox::clicked, this, [this] { emit command(17); });
    connect(motionBlurCheckbox_, &QCheckBox::clicked, this, [this] { emit command(18); });
    // Deflicker: a switch and its window, in images.
    deflickerCheckbox_ = new QCheckBox(tr("Deflicker"), this);
    deflickerCheckbox_->setObjectName("deflickerCheckbox");
    deflickerCheckbox_->setToolTip(tr("Even out the brightness from image to image, keeping slow changes of light"));
    deflickerWindowField_ = new QSpinBox(this);
    deflickerWindowField_->setObjectName("deflickerWindowField");
    deflickerWindowField_->setAccessibleName(tr("Deflicker window"));
    deflickerWindowField_->setToolTip(
        tr("Changes of light slower than this many images are kept; Automatic: the window the images support best"));
    // One below the smallest window stands for the automatic choice.
    deflickerWindowField_->setRange(static_cast<int>(kDeflickerWindowRange.low) - 1,
                                    static_cast<int>(kDeflickerWindowRange.high));
    deflickerWindowField_->setSpecialValueText(tr("Automatic"));
    deflickerWindowField_->setSuffix(tr(" images"));
    auto* brightness = new QPushButton(tr("&Brightness…"), this);
    brightness->setObjectName("brightnessButton");
    brightness->setToolTip(tr("Plot the brightness of the listed images and the curve deflicker follows"));
    connect(brightness, &QPushButton::clicked, this, &AdjustmentPanel::brightnessWanted);
    grid->addWidget(deflickerCheckbox_, row + 2, 0);
    grid->addWidget(deflickerWindowField_, row + 2, 1, Qt::AlignLeft);
    grid->addWidget(brightness, row + 2, 2, 1, 2, Qt::AlignRight);
    connect(deflickerCheckbox_, &QCheckBox::clicked, this, [this] { emit command(19); });
    connect(deflickerWindowField_, &QSpinBox::valueChanged, this, [this] { emit command(19); });
    // Rows with and without a reset button the same height.
    const int rowHeight = QPushButton(tr("Reset")).sizeHint().height();
    for (int r = 0; r < grid->rowCount(); ++r)
        if (r != row - 1)
            grid->setRowMinimumHeight(r, rowHeight);
    grid->setColumnStretch(1, 1);
    v->addLayout(grid);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    v->addWidget(line);

    // Options
    auto* options = new QGridLayout;
    auto check = [&](QCheckBox*& box, const char* name, const QString& title, const QString& tip, int tag, int r,
                     int c) {
        box = new QCheckBox(title, this);
        box->setObjectName(name);
        box->setToolTip(tip);
        connect(box, &QCheckBox::clicked, this, [this, tag] { emit command(tag); });
        options->addWidget(box, r, c);
    };
    check(skipCheckbox_, "skipCheckbox", tr("Skip image checks"),
          tr("List images without reading them: faster, but no dates, GPS or size checks"), 10, 0, 0);
    check(kmlCheckbox_, "kmlCheckbox", tr("Write KML file"), tr("Write the images' GPS positions as a KML file"), 12,
          0, 1);
    check(animCheckbox_, "animCheckbox", tr("Save animation"), tr("Save the keyframes beside the movie"), 11, 1, 0);
    check(verticalCheckbox_, "verticalCheckbox", tr("Portrait"), tr("Exchange the width and height of the frame size"),
          13, 1, 1);
    v->addLayout(options);

    auto* range = new QHBoxLayout;
    timeRangeCheckbox_ = new QCheckBox(tr("Only images taken from"), this);
    timeRangeCheckbox_->setObjectName("timeRangeCheckbox");
    timeRangeCheckbox_->setToolTip(tr("Use only images whose capture time of day lies in the range"));
    connect(timeRangeCheckbox_, &QCheckBox::clicked, this, [this] { emit command(14); });
    auto timeField = [this](QLineEdit*& field, const char* name, const QString& title, int tag) {
        field = new QLineEdit(this);
        field->setObjectName(name);
        field->setAccessibleName(title);
        field->setToolTip(tr("Time of day as h:mm:ss"));
        field->setMaximumWidth(80);
        connect(field, &QLineEdit::editingFinished, this, [this, tag] { emit command(tag); });
    };
    timeField(rangeFromText_, "rangeFromText", tr("Time range start"), 15);
    auto* to = new QLabel(tr("to"), this);
    timeField(rangeToText_, "rangeToText", tr("Time range end"), 16);
    to->setBuddy(rangeToText_);
    range->addWidget(timeRangeCheckbox_);
    range->addWidget(rangeFromText_);
    range->addWidget(to);
    range->addWidget(rangeToText_);
    range->addStretch();
    v->addLayout(range);
}

bool AdjustmentPanel::event(QEvent* e)
{
    if (e->type() == QEvent::Show || e->type() == QEvent::WindowActivate)
        emit activated();
    return QDialog::event(e);
}

void AdjustmentPanel::setSlidersFromSettings()
{
    for (const SliderDef& d : kSliders) {
        QSignalBlocker b(sliders_[d.name]);
        sliders_[d.name]->setFloatValue(settings_.*d.field);
    }
    QSignalBlocker bt(sliders_["tween"]), bm(sliders_["motion"]);
    sliders_["tween"]->setValue(settings_.tweenFrames);
    sliders_["motion"]->setValue(settings_.motionFrames);
}

void AdjustmentPanel::showAdjustments(bool atStart)
{
    setSlidersFromSettings();
    writeLabels(atStart);
}

void AdjustmentPanel::readSliders()
{
    for (const SliderDef& d : kSliders) {
        // A slider keeps its field exactly until it is moved: its steps
        // cannot hold every value the preferences or a keyframe file give.
        if (!sliders_[d.name]->holds(settings_.*d.field))
            settings_.*d.field = sliders_[d.name]->floatValue();
    }
    settings_.tweenFrames = static_cast<std::uint16_t>(sliders_["tween"]->value());
    settings_.motionFrames = static_cast<std::uint16_t>(sliders_["motion"]->value());
}

void AdjustmentPanel::writeLabels(bool atStart)
{
    for (const SliderDef& d : kSliders) {
        const char* format = (atStart && d.field == &JobSettings::rotateAngle) ? "%0.2f°" : d.format;
        sliderLabels_[d.name]->setText(formatLabel(format, settings_.*d.field * d.mul + d.add));
    }
    sliderLabels_["tween"]->setText(QString::number(sliders_["tween"]->value()));
    sliderLabels_["motion"]->setText(QString::number(sliders_["motion"]->value()));
}

void AdjustmentPanel::showSettings()
{
    rangeFromText_->setText(QString::fromStdString(timeText(settings_.fromTime)));
    rangeToText_->setText(QString::fromStdString(timeText(settings_.toTime)));
    timeRangeCheckbox_->setChecked(settings_.isTimeRange);
    kmlCheckbox_->setChecked(settings_.isCreateKML);
    skipCheckbox_->setChecked(settings_.isSkipVerify);
    if (settings_.isSkipVerify)
        kmlCheckbox_->setChecked(false);
    kmlCheckbox_->setEnabled(!settings_.isSkipVerify);
    animCheckbox_->setChecked(settings_.isSaveAnim);
    verticalCheckbox_->setChecked(settings_.isVertical);
    setSlidersFromSettings();
    sliderLabels_["tween"]->setText(QString::number(settings_.tweenFrames));
    sliderLabels_["motion"]->setText(QString::number(settings_.motionFrames));
    sliders_["tween"]->setEnabled(settings_.isTweening);
    tweenCheckbox_->setChecked(settings_.isTweening);
    sliders_["motion"]->setEnabled(settings_.isMotionBlur);
    motionBlurCheckbox_->setChecked(settings_.isMotionBlur);
    {
        QSignalBlocker b(deflickerWindowField_);
        deflickerWindowField_->setValue(settings_.deflickerWindow == 0 ? deflickerWindowField_->minimum()
                                                                       : settings_.deflickerWindow);
    }
    deflickerCheckbox_->setChecked(settings_.isDeflicker);
    deflickerWindowField_->setEnabled(settings_.isDeflicker);
}

void AdjustmentPanel::setTimeRangeChecked(bool on) { timeRangeCheckbox_->setChecked(on); }

void AdjustmentPanel::showKeyframesNote(bool on) { keyframesNote_->setVisible(on); }

void AdjustmentPanel::apply(int tag)
{
    // The resets: all (tag 2), or the sliders whose reset tag is this one.
    if (tag >= 2 && tag <= 9) {
        const JobSettings neutral; // the adjustments start at their neutral values
        for (const SliderDef& d : kSliders)
            if (tag == 2 || d.resetTag == tag)
                settings_.*d.field = neutral.*d.field;
        showAdjustments();
        return;
    }
    switch (tag) {
    case 0:
        readSliders();
        writeLabels();
        break;
    case 10:
        settings_.isSkipVerify = skipCheckbox_->isChecked();
        if (settings_.isSkipVerify)
            kmlCheckbox_->setChecked(false);
        else
            kmlCheckbox_->setChecked(settings_.isCreateKML);
        kmlCheckbox_->setEnabled(!settings_.isSkipVerify);
        break;
    case 11:
        settings_.isSaveAnim = animCheckbox_->isChecked();
        break;
    case 12:
        settings_.isCreateKML = kmlCheckbox_->isChecked();
        break;
    case 13:
        settings_.isVertical = verticalCheckbox_->isChecked();
        break;
    case 14:
        settings_.isTimeRange = timeRangeCheckbox_->isChecked();
        if (settings_.isTimeRange) {
            settings_.fromTime = parseTime(rangeFromText_->text().toStdString());
            settings_.toTime = parseTime(rangeToText_->text().toStdString());
        }
        break;
    case 15:
        settings_.fromTime = parseTime(rangeFromText_->text().toStdString());
        break;
    case 16:
        settings_.toTime = parseTime(rangeToText_->text().toStdString());
        break;
    case 17:
    case 18: {
        const bool tween = tag == 17;
        QCheckBox* box = tween ? tweenCheckbox_ : motionBlurCheckbox_;
        QCheckBox* other = tween ? motionBlurCheckbox_ : tweenCheckbox_;
        if (tween)
            settings_.setTweening(box->isChecked());
        else
            settings_.setMotionBlur(box->isChecked());
        if (box->isChecked()) {
            other->setChecked(false);
            sliders_[tween ? "motion" : "tween"]->setEnabled(false);
            readSliders();
            writeLabels();
        }
        sliders_[tween ? "tween" : "motion"]->setEnabled(box->isChecked());
        break;
    }
    case 19:
        settings_.isDeflicker = deflickerCheckbox_->isChecked();
        settings_.deflickerWindow = deflickerWindowField_->value() == deflickerWindowField_->minimum()
                                        ? 0
                                        : deflickerWindowIn(deflickerWindowField_->value());
        deflickerWindowField_->setEnabled(settings_.isDeflicker);
        break;
    default:
        break;
    }
}

} // namespace mv::shell
