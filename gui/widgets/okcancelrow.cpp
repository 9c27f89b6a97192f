#include "gui/widgets/okcancelrow.h"

#include <QHBoxLayout>
#include <QPushButton>

QHBoxLayout* OkCancelRow(QWidget* parent, QPushButton** ok, QPushButton** cancel) {
  *ok = new QPushButton(QStringLiteral("&OK"), parent);
  (*ok)->setObjectName(QStringLiteral("cmdOK"));
  (*ok)->setDefault(true);
  *cancel = new QPushButton(QStringLiteral("&Cancelar"), parent);
  (*cancel)->setObjectName(QStringLiteral("cmdCancelar"));
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(*ok);
  row->addWidget(*cancel);
  return row;
}
