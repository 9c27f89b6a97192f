#include "gui/main/abertura.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/main/frmsobre.h"
#include "gui/main/principal.h"

Abertura::Abertura() {
  setObjectName(QStringLiteral("Abertura"));
  escapeCloses_ = false;
  setWindowTitle(QStringLiteral("ZIDE - Prefeitura Municipal de Tavarel- Versão 1.15.01"));
  auto* label4 = new QLabel(QStringLiteral("Prefeitura Municipal de Tavarel"), this);
  label4->setObjectName(QStringLiteral("Label4"));
  QFont f = label4->font();
  f.setPointSize(f.pointSize() + 6);
  f.setBold(true);
  label4->setFont(f);
  label4->setAlignment(Qt::AlignCenter);
  auto* label1 = new QLabel(
      QStringLiteral("Este software valida e transmite arquivos de empresas enquadradas no Regime Débito e Crédito, "
                     "via internet, diretamente do seu computador para a Prefeitura Municipal de Tavarel."),
      this);
  label1->setObjectName(QStringLiteral("Label1"));
  label1->setWordWrap(true);
  label1->setAlignment(Qt::AlignCenter);
  auto* c1 = new QPushButton(QStringLiteral("Iniciar"), this);
  c1->setObjectName(QStringLiteral("Command1"));
  auto* c2 = new QPushButton(QStringLiteral("Sobre"), this);
  c2->setObjectName(QStringLiteral("Command2"));
  auto* c3 = new QPushButton(QStringLiteral("Sair"), this);
  c3->setObjectName(QStringLiteral("Command3"));
  c1->setDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(c1);
  buttons->addWidget(c2);
  buttons->addWidget(c3);
  auto* lay = new QVBoxLayout(this);
  lay->addWidget(label4);
  lay->addSpacing(12);
  lay->addWidget(label1);
  lay->addStretch();
  lay->addLayout(buttons);
  resize(520, 240);

  connect(c1, &QPushButton::clicked, this, &Abertura::Command1_Click);
  connect(c2, &QPushButton::clicked, this, &Abertura::Command2_Click);
  connect(c3, &QPushButton::clicked, this, [] { Forms::endProgram(); });
}

void Abertura::Command1_Click() {
  // The next window is shown before this one closes, so the program never has no window.
  Forms::get<Principal>()->show();
  close();
}

void Abertura::Command2_Click() {
  Forms::get<FrmSobre>()->show();
  close();
}
