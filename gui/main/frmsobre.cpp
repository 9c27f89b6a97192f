#include "gui/main/frmsobre.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/constants.h"
#include "gui/main/principal.h"
#include "registry/session.h"

FrmSobre::FrmSobre() {
  setObjectName(QStringLiteral("frmSobre"));
  setWindowTitle(QStringLiteral("ZIDE - Prefeitura Municipal de Tavarel"));
  auto* picture = new QLabel(this);
  picture->setObjectName(QStringLiteral("Picture1"));
  picture->setPixmap(Principal::brasao(64));
  auto* title = new QLabel(Zide::kProductTitle + QStringLiteral(" 1.14.01"), this);
  title->setObjectName(QStringLiteral("lblTitle"));
  QFont f = title->font();
  f.setPointSize(f.pointSize() + 4);
  f.setBold(true);
  title->setFont(f);
  auto* desc = new QLabel(QString(), this);
  desc->setObjectName(QStringLiteral("lblDescription"));
  auto* contact =
      new QLabel(QStringLiteral("Contato: ") + Zide::kPhone + QStringLiteral(" - E-mail: ") + Zide::kEmail, this);
  contact->setObjectName(QStringLiteral("Label2"));
  auto* l1 = new QLabel(QString(), this);
  l1->setObjectName(QStringLiteral("Label1"));
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("cmdOK"));
  ok->setDefault(true);

  auto* top = new QHBoxLayout;
  top->addWidget(picture, 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  texts->addWidget(title);
  texts->addWidget(desc);
  texts->addWidget(contact);
  texts->addWidget(l1);
  top->addLayout(texts, 1);
  auto* lay = new QVBoxLayout(this);
  lay->addLayout(top);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(ok);
  lay->addLayout(row);
  connect(ok, &QPushButton::clicked, this, &QWidget::close);
}

void FrmSobre::closeEvent(QCloseEvent* e) {
  // The About window of the opening screen leads on to the main window.
  Forms::get<Principal>()->show();
  Session::current().releaseMainWindow();
  FormBase<QWidget>::closeEvent(e);
}
