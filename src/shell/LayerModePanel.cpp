#include "shell/LayerModePanel.h"

#include <QButtonGroup>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace mv::shell {

LayerModePanel::LayerModePanel(QWidget* parent) : QDialog(parent, Qt::Tool)
{
    setObjectName("layerModePanel");
    setWindowTitle(tr("Layer Mode"));
    auto* v = new QVBoxLayout(this);
    v->addWidget(new QLabel(tr("How the layer images are combined with the images:"), this));
    auto* radio = new QButtonGroup(this);
    const QStringList rows{tr("Lighten"), tr("Darken"), tr("Maximum"), tr("Minimum"), tr("Overlay"),
                           tr("Blend through mask images…")};
    for (int i = 0; i < rows.size(); ++i) {
        auto* r = new QRadioButton(rows[i], this);
        r->setObjectName("layerModeRadio" + QString::number(i));
        radio->addButton(r, i);
        v->addWidget(r);
    }
    connect(radio, &QButtonGroup::idClicked, this, &LayerModePanel::modeChosen);
}

} // namespace mv::shell
