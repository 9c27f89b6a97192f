#pragma once
#include <QDateTime>
#include <QMainWindow>
#include <QPixmap>

#include "gui/widgets/forms.h"
#include "transmission/refresh.h"

class QLabel;
class QPushButton;
class QGroupBox;
class QTableWidget;
class QTreeWidget;

// Main window: the hub, the selected taxpayer and the values the server hands out.
class Principal : public FormBase<QMainWindow> {
  Q_OBJECT
 public:
  Principal();

  // The selected taxpayer, as the session holds it (IESel, RSSel and lblChave show it).
  QString selectedIE() const;
  QString selectedRazaoSocial() const;
  QString selectedChave() const;
  // Selects through the session: the labels follow, the transmission frame and button appear.
  void setSelectedTaxpayer(const QString& ie, const QString& razaoSocial, const QString& chave);

  // Refresh of the selected taxpayer from the server.
  void RecebeDadosServer();
  void RecebeDadosProtocolo();
  void PopulaGridTransmissoes(const QString& XMLConteudo);
  void CarregaProtocolo(const QString& XMLConteudo);
  bool OpenBrowser(const QString& url);

  // The details text kept by CarregaProtocolo and its length in characters.
  QString protocoloXml() const { return protocoloXml_; }
  int protocoloLen() const { return protocoloLen_; }

  // The picture of the municipality's coat of arms, drawn at the given height.
  static QPixmap brasao(int height);

  // Handlers, public so that the windows that stand in for a click can call them.
  void Command1_Click();
  void mnContribuinteNovo_Click();
  void GridTransmissoes_Click();
  void cmd_Impressao_Click();

  // Once per start: tells the user when the accountant's certificate has expired or expires within
  // 30 days. Returns whether it said so.
  bool AvisoValidadeCertificado();

 protected:
  void showEvent(QShowEvent* event) override;
  // The main window is the program: closing it closes every window and ends the program.
  void closeEvent(QCloseEvent* e) override;

 private:
  // The line that tells a new user where to start, from what the registry holds.
  void updateGuidance();
  void showTaxpayer();
  void showSelectionFrame();
  // The constructor's parts: the selected taxpayer's box, the frame of the transmissions (list,
  // buttons, details), and the signals of the controls and of the session.
  QGroupBox* buildSelectedTaxpayer(QWidget* top);
  void buildTransmissionsFrame(QWidget* top);
  void connectControls();
  void buildGrid();
  // Shows a refresh's list and message.
  void present(const Refresh::Result& r);
  void buildMenus();

  QLabel* IESel_;
  QLabel* RSSel_;
  QLabel* lblChave_;
  QLabel* lblOrientacao_;
  QLabel* PathMDB_;
  QPushButton* Command1_;
  QPushButton* Command3_;
  QPushButton* cmdImpressao_;
  QGroupBox* frmImportacao_;
  QTableWidget* grid_;
  QLabel* lblAtualizado_;
  QLabel* lblnovaatualizacao_;
  QLabel* labelOK_;
  QLabel* detApuracao_;
  QTreeWidget* tvwPessoa_;
  QString protocoloXml_;
  int protocoloLen_ = 0;
  bool certificateChecked_ = false;
};
