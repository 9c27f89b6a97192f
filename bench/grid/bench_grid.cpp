// Time to parse a transmission list and fill the main window's grid with it.
#include <QApplication>
#include <QElapsedTimer>
#include <QTableWidget>
#include <cstdio>

#include "gui/main/principal.h"
#include "transmission/transmissions.h"

#include "../benchhelp.h"

int main(int argc, char** argv) {
  if (BenchHelp(
          argc, argv,
          "Uso: QT_QPA_PLATFORM=offscreen bench_grid [LINHAS]\n"
          "Mede o preenchimento da grade da janela principal com uma lista de LINHAS transmissões (padrão 10000).\n"))
    return 0;
  QApplication app(argc, argv);
  const int rows = argc > 1 ? std::atoi(argv[1]) : 10000;
  QString doc = QStringLiteral("<listaTransferencias>");
  for (int i = 0; i < rows; ++i)
    doc += QStringLiteral(
               "<transferencia><referencia>%1/2026</referencia><data>05/12/2026 10:00:00</data>"
               "<protocolo>2026%2</protocolo><status>1</status><adicionado>0,00</adicionado>"
               "</transferencia>")
               .arg(i % 12 + 1, 2, 10, QLatin1Char('0'))
               .arg(i, 6, 10, QLatin1Char('0'));
  doc += QStringLiteral("</listaTransferencias>");

  QElapsedTimer t;
  t.start();
  const auto parsed = Transmissions::ParseList(doc);
  const double parseMs = t.nsecsElapsed() / 1e6;

  Principal* p = Forms::get<Principal>();
  p->show();
  QApplication::processEvents();
  double best = 1e9;
  for (int run = 0; run < 5; ++run) {
    t.restart();
    p->PopulaGridTransmissoes(doc);
    QApplication::processEvents();
    best = std::min(best, t.nsecsElapsed() / 1e6);
  }
  const int got = p->findChild<QTableWidget*>(QStringLiteral("GridTransmissoes"))->rowCount() - 1;
  std::printf(
      "linhas: %d (na grade: %d)\nleitura do documento: %.1f ms\npreenchimento completo (melhor de 5): %.1f ms\n", rows,
      got, parseMs, best);
  return (parsed && got == rows) ? 0 : 1;
}
