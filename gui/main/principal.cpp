#include "gui/main/principal.h"

#include "base/settings.h"
#include "net/soap.h"
#include "transmission/refresh.h"
#include "transmission/transmissions.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/constants.h"
#include "gui/main/frmsobre.h"
#include "gui/registry/frmatualizarcontribuinte.h"
#include "gui/registry/frmcontador.h"
#include "gui/registry/frmcriacontribuinte.h"
#include "gui/registry/frmexclusaocontribuinte.h"
#include "gui/registry/frmselecionacontribuinte.h"
#include "gui/transmission/frmenvios.h"
#include "gui/transmission/frmupload.h"
#include "gui/transmission/frmuploadsimples.h"
#include "gui/widgets/errorreportbox.h"
#include "gui/widgets/grids.h"
#include "gui/widgets/interaction.h"
#include "registry/accountantstore.h"
#include "registry/certsources.h"
#include "registry/localdb.h"
#include "registry/registrystage.h"
#include "registry/session.h"
#include "registry/taxpayerstore.h"

namespace {
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QString::fromLatin1(name));
  return l;
}
}  // namespace

Principal::Principal() {
  setObjectName(QStringLiteral("Principal"));
  Forms::setMainWindow(this);
  setWindowTitle(QStringLiteral("ZIDE - Débito e Crédito - Prefeitura Municipal de Tavarel - Versão 1.15.01"));

  auto* central = new QWidget(this);
  setCentralWidget(central);
  auto* top = new QFrame(central);
  top->setObjectName(QStringLiteral("Frame1"));
  top->setFrameShape(QFrame::StyledPanel);

  Command1_ = new QPushButton(QStringLiteral("Escolher arquivo para &transmitir"), top);
  Command1_->setObjectName(QStringLiteral("Command1"));
  Command1_->hide();

  auto* picture = makeLabel(top, "Picture1", QString());
  picture->setPixmap(brasao(96));
  QGroupBox* sel = buildSelectedTaxpayer(top);
  buildTransmissionsFrame(top);

  lblOrientacao_ = makeLabel(top, "lblOrientacao", QString());
  lblOrientacao_->setStyleSheet(QStringLiteral("QLabel { color: #1a4f8b; font-size: 13pt; padding: 12px 4px; }"));
  lblOrientacao_->setWordWrap(true);
  lblOrientacao_->hide();

  auto* head = new QHBoxLayout;
  head->addWidget(picture, 0, Qt::AlignTop);
  head->addWidget(sel, 1, Qt::AlignTop);
  auto* topLay = new QVBoxLayout(top);
  topLay->addLayout(head);
  topLay->addWidget(lblOrientacao_);
  topLay->addWidget(Command1_, 0, Qt::AlignLeft);
  topLay->addWidget(frmImportacao_, 1);
  topLay->addStretch(0);  // takes the room while no taxpayer is selected
  auto* lay = new QVBoxLayout(central);
  lay->addWidget(top);

  buildGrid();
  buildMenus();
  resize(820, 560);
  connectControls();
}

QGroupBox* Principal::buildSelectedTaxpayer(QWidget* top) {
  auto* sel = new QGroupBox(QStringLiteral("Contribuinte Selecionado"), top);
  sel->setObjectName(QStringLiteral("GIASelecionada"));
  auto* label1 = makeLabel(sel, "Label1", QStringLiteral("Razão Social"));
  RSSel_ = makeLabel(sel, "RSSel", QString());
  auto* lblLabels = makeLabel(sel, "lblLabels", QStringLiteral("Inscrição Estadual"));
  IESel_ = makeLabel(sel, "IESel", QString());
  lblChave_ = makeLabel(sel, "lblChave", QStringLiteral("LABEL DA CHAVE!"));
  lblChave_->hide();
  for (QLabel* v : {RSSel_, IESel_}) {
    v->setStyleSheet(
        QStringLiteral("QLabel { color: blue; background: white; border: 1px solid #b0b0b0; padding: 2px; }"));
    v->setMinimumWidth(320);
    v->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    v->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }
  auto* selLay = new QGridLayout(sel);
  selLay->addWidget(label1, 0, 0);
  selLay->addWidget(RSSel_, 0, 1);
  selLay->addWidget(lblLabels, 1, 0);
  selLay->addWidget(IESel_, 1, 1);
  selLay->addWidget(lblChave_, 2, 1);
  selLay->setColumnStretch(1, 1);
  return sel;
}

void Principal::buildTransmissionsFrame(QWidget* top) {
  frmImportacao_ = new QGroupBox(QStringLiteral("Transmissões Realizadas"), top);
  frmImportacao_->setObjectName(QStringLiteral("frmImportacao"));
  grid_ = new QTableWidget(frmImportacao_);
  grid_->setObjectName(QStringLiteral("GridTransmissoes"));
  cmdImpressao_ = new QPushButton(QStringLiteral("Im&primir Protocolo"), frmImportacao_);
  cmdImpressao_->setObjectName(QStringLiteral("cmd_Impressao"));
  Command3_ = new QPushButton(QStringLiteral("Relatório de Transmissões"), frmImportacao_);
  Command3_->setObjectName(QStringLiteral("Command3"));
  Command3_->hide();
  lblAtualizado_ = makeLabel(frmImportacao_, "lblAtualizado", QStringLiteral("O programa está atualizado"));
  lblAtualizado_->setStyleSheet(QStringLiteral("QLabel { color: green; }"));
  lblnovaatualizacao_ =
      makeLabel(frmImportacao_, "lblnovaatualizacao", QStringLiteral("Nova atualização disponível para download"));
  lblnovaatualizacao_->setStyleSheet(QStringLiteral("QLabel { color: rgb(192, 0, 0); }"));
  lblnovaatualizacao_->hide();
  labelOK_ = makeLabel(frmImportacao_, "labelOK", QStringLiteral("Verificação concluída, sem mensagens."));
  labelOK_->hide();
  detApuracao_ = makeLabel(frmImportacao_, "detApuracao", QStringLiteral("Detalhes da apuração"));
  detApuracao_->hide();
  tvwPessoa_ = new QTreeWidget(frmImportacao_);
  tvwPessoa_->setObjectName(QStringLiteral("tvwPessoa"));
  tvwPessoa_->setHeaderHidden(true);
  tvwPessoa_->hide();
  PathMDB_ = makeLabel(frmImportacao_, "PathMDB", QString());
  PathMDB_->hide();

  // The buttons stay at the foot of the frame: what a click on a transmission shows takes room from
  // the list above them, never moves them while the user aims at them.
  auto* listLay = new QVBoxLayout(frmImportacao_);
  listLay->addWidget(grid_, 1);
  listLay->addWidget(labelOK_);
  listLay->addWidget(detApuracao_);
  listLay->addWidget(tvwPessoa_);
  listLay->addWidget(PathMDB_);
  auto* listButtons = new QHBoxLayout;
  listButtons->addWidget(cmdImpressao_);
  listButtons->addWidget(Command3_);
  listButtons->addStretch();
  listButtons->addWidget(lblAtualizado_);
  listButtons->addWidget(lblnovaatualizacao_);
  listLay->addLayout(listButtons);
  frmImportacao_->hide();
}

void Principal::connectControls() {
  connect(Command1_, &QPushButton::clicked, this, &Principal::Command1_Click);
  connect(Command3_, &QPushButton::clicked, this, &Principal::RecebeDadosServer);
  connect(cmdImpressao_, &QPushButton::clicked, this, &Principal::cmd_Impressao_Click);
  connect(grid_, &QTableWidget::cellClicked, this, [this] { GridTransmissoes_Click(); });

  // The other windows speak to this one only through the session.
  Session& s = Session::current();
  connect(&s, &Session::taxpayerChanged, this, &Principal::showTaxpayer);
  connect(&s, &Session::taxpayerSelected, this, &Principal::showSelectionFrame);
  connect(&s, &Session::refreshRequested, this, &Principal::RecebeDadosServer);
  connect(&s, &Session::mainWindowReleased, this, [this] {
    setEnabled(true);
    updateGuidance();
  });
  connect(&s, &Session::taxpayerChanged, this, &Principal::updateGuidance);
  connect(&s, &Session::changed, this, [this] { PathMDB_->setText(Session::current().lastDeclarationFile()); });
}

void Principal::closeEvent(QCloseEvent* e) {
  FormBase<QMainWindow>::closeEvent(e);
  if (!e->isAccepted()) return;
  // Not from inside this window's own event: the teardown deletes it.
  QTimer::singleShot(0, qApp, [] { Forms::endProgram(); });
}

void Principal::buildGrid() {
  // Status and added value travel with each row but are not shown.
  SetUpGrid(grid_, {{QStringLiteral("Referência"), 1500, Qt::AlignCenter},
                    {QStringLiteral("Data de Processamento"), 2500, Qt::AlignCenter},
                    {QStringLiteral("Protocolo"), 1700, Qt::AlignCenter},
                    {QStringLiteral("Status"), 0, Qt::AlignLeft | Qt::AlignVCenter},
                    {QStringLiteral("Valor Adicionado"), 0, Qt::AlignRight | Qt::AlignVCenter}});
}

void Principal::buildMenus() {
  auto add = [this](QMenu* menu, const char* name, const QString& text, const QKeySequence& key, auto slot) {
    QAction* a = menu->addAction(text);
    a->setObjectName(QString::fromLatin1(name));
    if (!key.isEmpty()) a->setShortcut(key);
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  // The menus open from the keyboard too: Alt and the underlined letter, or F10 for the first one.
  QMenu* arquivo = menuBar()->addMenu(QStringLiteral("&Arquivo"));
  auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
  connect(f10, &QShortcut::activated, this, [this, arquivo] { menuBar()->setActiveAction(arquivo->menuAction()); });
  arquivo->setObjectName(QStringLiteral("mnArquivo"));
  add(arquivo, "mnSair", QStringLiteral("Sair"), {}, [] { Forms::endProgram(); });

  QMenu* contrib = menuBar()->addMenu(QStringLiteral("&Contribuinte"));
  contrib->setObjectName(QStringLiteral("mnContribuinte"));
  add(contrib, "mnContribuinteNovo", QStringLiteral("Novo"), QKeySequence(Qt::Key_F2),
      [this] { mnContribuinteNovo_Click(); });
  add(contrib, "mnContribuinteSelecionar", QStringLiteral("Selecionar"), QKeySequence(Qt::Key_F5), [this] {
    setEnabled(false);
    Forms::get<FrmSelecionaContribuinte>()->show();
  });
  add(contrib, "mnAtualizar", QStringLiteral("Atualizar"), QKeySequence(Qt::Key_F8),
      [] { Forms::get<FrmAtualizarContribuinte>()->show(); });
  add(contrib, "mnExcluir", QStringLiteral("Excluir"), {}, [] { Forms::get<FrmExclusaoContribuinte>()->show(); });
  QAction* sep = contrib->addSeparator();
  sep->setObjectName(QStringLiteral("space2"));
  add(contrib, "mnContador", QStringLiteral("Contador"), QKeySequence(Qt::Key_F6), [] {
    FrmContador* f = Forms::get<FrmContador>();
    f->show();
    f->activateWindow();
  });

  // The proof of what was sent stays on this computer, whatever the server lists.
  QMenu* transmissao = menuBar()->addMenu(QStringLiteral("&Transmissão"));
  transmissao->setObjectName(QStringLiteral("mnTransmissao"));
  add(transmissao, "mnEnvios", QStringLiteral("Envios"), QKeySequence(Qt::Key_F9), [] {
    FrmEnvios* f = Forms::get<FrmEnvios>();
    f->show();
    f->activateWindow();
  });

  QMenu* ajuda = menuBar()->addMenu(QStringLiteral("A&juda"));
  ajuda->setObjectName(QStringLiteral("mnAjuda"));
  add(ajuda, "mnSAjuda", QStringLiteral("Ajuda"), QKeySequence(Qt::Key_F1), [this] {
    MsgBox(this, QStringLiteral("Para maiores infomações acesse: ") + Zide::kWebSite, QMessageBox::Information,
           kMsgTitle);
  });
  add(ajuda, "mnSobre", QStringLiteral("Sobre"), {}, [this] {
    Forms::get<FrmSobre>()->show();
    setEnabled(false);
  });
}

QString Principal::selectedIE() const { return Session::current().taxpayer().ie; }
QString Principal::selectedRazaoSocial() const { return Session::current().taxpayer().razaoSocial; }
QString Principal::selectedChave() const { return Session::current().taxpayer().chave; }

void Principal::setSelectedTaxpayer(const QString& ie, const QString& razaoSocial, const QString& chave) {
  Session::current().selectTaxpayer({ie, razaoSocial, chave});
}

void Principal::showTaxpayer() {
  const Session::Taxpayer& t = Session::current().taxpayer();
  // Another company: its list comes with the refresh; none of the previous one's rows may stay under
  // the new name meanwhile, nor if the refresh fails. (A refused key only clears the selection.)
  if (!t.ie.isEmpty() && IESel_->text() != t.ie) {
    grid_->setRowCount(1);
    grid_->clearSelection();
    tvwPessoa_->hide();
    detApuracao_->hide();
    labelOK_->hide();
  }
  IESel_->setText(t.ie);
  RSSel_->setText(t.razaoSocial);
  lblChave_->setText(t.chave);
}

void Principal::updateGuidance() {
  if (!Session::current().taxpayer().ie.isEmpty()) {
    lblOrientacao_->hide();
    return;
  }
  switch (ReadRegistryStage()) {
    case RegistryStage::SemContador:
      lblOrientacao_->setText(QStringLiteral("Cadastre o contador: Contribuinte › Contador (F6)"));
      break;
    case RegistryStage::SemContribuinte:
      lblOrientacao_->setText(QStringLiteral("Cadastre uma empresa: Contribuinte › Novo (F2)"));
      break;
    case RegistryStage::Pronto:
      lblOrientacao_->setText(QStringLiteral("Selecione a empresa: Contribuinte › Selecionar (F5)"));
      break;
  }
  lblOrientacao_->show();
}

void Principal::showSelectionFrame() {
  frmImportacao_->show();
  Command1_->show();
}

void Principal::Command1_Click() {
  QWidget* chosen = nullptr;
  try {
    LocalDatabase::Connection db;
    const std::optional<ContadorDados> contador = AccountantStore::find(db);
    if (!contador) {
      MsgBox(this, QStringLiteral("É necessário informar os dados do contador para envio da declaração"),
             QMessageBox::NoIcon, kMsgTitle);
      FrmContador* f = Forms::get<FrmContador>();
      f->show();
      f->activateWindow();
      f->setFocus();
      return;
    }
    Session::current().setAccountantDocument(contador->cpfCnpj);
    const std::optional<TaxpayerStore::Regime> regime = TaxpayerStore::regime(db, selectedIE());
    MsgBox(this, QStringLiteral("O Certificado que será solicitado durante a transmissão é do contador responsável"),
           QMessageBox::Information, QStringLiteral("Informação"));
    if (!regime)
      throw DbError(3021, QStringLiteral("tblContribuinte"),
                    QStringLiteral("O contribuinte selecionado não está cadastrado neste computador."));
    Session::current().setSimples(*regime != TaxpayerStore::Regime::DebitoCredito);
    if (*regime == TaxpayerStore::Regime::DebitoCredito) {
      setEnabled(false);
      chosen = Forms::get<FrmUpload>();
    } else {
      chosen = Forms::get<FrmUploadSimples>();
    }
  } catch (const DbError& e) {
    ErrorReport::show(this, e);
    return;
  }
  chosen->show();
  // Pressed again while the window is open: it comes forward, never stays under a disabled main window.
  chosen->raise();
  chosen->activateWindow();
  const QString anoTrabalho = Session::current().workingYear();
  if (!chosen->windowTitle().contains(anoTrabalho))
    chosen->setWindowTitle(chosen->windowTitle() + QStringLiteral(" - Ano trabalho: ") + anoTrabalho);
}

void Principal::mnContribuinteNovo_Click() {
  setEnabled(false);
  try {
    LocalDatabase::Connection db;
    if (!AccountantStore::exists(db)) {
      MsgBox(this, QStringLiteral("É necessário cadastrar um contador antes de Cadastrar seu(s) Contribuinte(s)."));
      Forms::get<FrmContador>()->show();
    } else {
      Forms::get<FrmCriaContribuinte>()->show();
    }
  } catch (const DbError& e) {
    ErrorReport::show(this, e);
    // Nothing was opened that would give the window back.
    setEnabled(true);
  }
}

void Principal::GridTransmissoes_Click() {
  if (grid_->currentRow() > 0) RecebeDadosProtocolo();
}

QPixmap Principal::brasao(int height) {
  const int w = height * 4 / 5;
  QPixmap pm(w, height);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath shield;
  shield.moveTo(2, 2);
  shield.lineTo(w - 2, 2);
  shield.lineTo(w - 2, height * 0.55);
  shield.quadTo(w - 2, height * 0.85, w / 2.0, height - 2);
  shield.quadTo(2, height * 0.85, 2, height * 0.55);
  shield.closeSubpath();
  p.fillPath(shield, QColor(0, 70, 140));
  p.setPen(QPen(QColor(230, 190, 40), 3));
  p.drawPath(shield);
  p.setPen(QColor(230, 190, 40));
  QFont f = p.font();
  f.setBold(true);
  f.setPixelSize(height / 4);
  p.setFont(f);
  p.drawText(QRect(0, height / 6, w, height / 2), Qt::AlignCenter, QStringLiteral("PMT"));
  return pm;
}

// Refresh, transmission list and receipts.

namespace {
const QString kServerDown = QStringLiteral("O Servidor está indisponível, tente novamente mais tarde.");
}  // namespace

void Principal::present(const Refresh::Result& r) {
  if (r.rows) {
    Command1_->setEnabled(true);
    grid_->setUpdatesEnabled(false);
    grid_->setRowCount(1 + r.rows->size());
    int at = 1;
    QStringList references;
    for (const Transmissions::Row& row : *r.rows) {
      SetGridRow(grid_, at++, {row.referencia, row.data, row.protocolo, row.status, row.adicionado});
      references << row.referencia.trimmed();
    }
    grid_->setUpdatesEnabled(true);
    // The transmission windows ask before sending a period again; they read this copy, not the grid.
    Session::current().setTransmittedReferences(references);
    Session::current().setTransmissionRows(*r.rows);
  }
  // An invalid key keeps the list and disables transmitting.
  for (const Refresh::Notice& n : r.notices)
    if (n.kind == Refresh::Status::InvalidKey) Command1_->setEnabled(false);
  for (const Refresh::Notice& n : r.notices) {
    const QMessageBox::Icon icon = n.kind == Refresh::Status::InvalidKey ? QMessageBox::Critical
                                   : n.kind == Refresh::Status::Refused  ? QMessageBox::Information
                                                                         : QMessageBox::NoIcon;
    MsgBox(this, n.text, icon, kMsgTitle);
  }
}

void Principal::PopulaGridTransmissoes(const QString& XMLConteudo) { present(Refresh::ReadList(XMLConteudo)); }

void Principal::RecebeDadosServer() {
  const Refresh::Result r = Refresh::Fetch(selectedIE(), selectedChave());
  present(r);
  if (r.clearSelection) {
    Session::current().clearTaxpayer();
    frmImportacao_->hide();
    Command1_->hide();
    return;
  }
  if (!r.serverRead) return;
  Session::current().setServerDate(r.serverDate);
  Session::current().setWorkingYear(r.anoTrabalho);
  if (r.current) {
    lblAtualizado_->show();
    lblnovaatualizacao_->hide();
  } else {
    lblAtualizado_->hide();
    lblnovaatualizacao_->setText(QStringLiteral("Nova atualização disponível para download - versão ") +
                                 r.newestVersion);
    lblnovaatualizacao_->show();
  }
  tvwPessoa_->hide();
  detApuracao_->hide();
  labelOK_->hide();  // it spoke of a row of the list just replaced
}

void Principal::RecebeDadosProtocolo() {
  const int row = grid_->currentRow();
  auto cell = [this, row](int c) {
    const QTableWidgetItem* it = grid_->item(row, c);
    return it ? it->text() : QString();
  };
  auto fail = [this] { MsgBox(this, kServerDown, QMessageBox::NoIcon, kMsgTitle); };
  bool isNumber = false;
  const double status = cell(3).trimmed().toDouble(&isNumber);
  if (!isNumber) return fail();
  if (status == 2) {
    QString raw, result;
    if (!SendSoapRequest(QStringLiteral("Transferencia.ver"),
                         {{QStringLiteral("strNome"), cell(2)},
                          {QStringLiteral("strDiretorioDestino"), QStringLiteral("vbs")},
                          {QStringLiteral("Chave"), selectedChave()}},
                         &raw))
      return fail();
    if (!GetResult(raw, QStringLiteral("return"), &result)) return fail();
    CarregaProtocolo(result);
    QString reason;
    const auto details = Transmissions::ParseDetails(result, &reason);
    if (!details) {
      MsgBox(this, reason);
      return;
    }
    tvwPessoa_->clear();
    auto* root = new QTreeWidgetItem(tvwPessoa_, {details->rootName});
    for (const Transmissions::DetailNode& n : details->nodes) {
      auto* item = new QTreeWidgetItem(root, {n.text});
      if (!n.tag.isNull()) item->setData(0, Qt::UserRole, n.tag);
      for (const QString& c : n.children) new QTreeWidgetItem(item, {c});
    }
    root->setExpanded(true);
    labelOK_->hide();
  } else if (status == 1) {
    labelOK_->show();
    tvwPessoa_->hide();
  }
}

void Principal::CarregaProtocolo(const QString& XMLConteudo) {
  protocoloXml_ = XMLConteudo;
  protocoloLen_ = XMLConteudo.size();
}

bool Principal::OpenBrowser(const QString& url) {
  QString u = url;
  if (!u.startsWith(QLatin1String("http"), Qt::CaseInsensitive)) u.prepend(QStringLiteral("http://"));
  return Interaction::current().openUrl(QUrl(u, QUrl::TolerantMode));
}

void Principal::cmd_Impressao_Click() {
  const QString host = ReadSetting(QStringLiteral("servidor"), QStringLiteral("host"));
  const int row = grid_->currentRow();
  const QTableWidgetItem* it = row >= 0 ? grid_->item(row, 0) : nullptr;
  const QString ref = it ? it->text() : QString();
  if (row <= 0 || !ref.contains(QLatin1Char('/'))) {
    MsgBox(this, QStringLiteral("Selecione uma entrega específica"), QMessageBox::Information, kMsgTitle);
    return;
  }
  const QString url = Transmissions::ReceiptUrl(host, selectedIE(), selectedChave(), ref);
  if (!OpenBrowser(url)) {
    QString shown = url;
    if (!shown.startsWith(QLatin1String("http"), Qt::CaseInsensitive)) shown.prepend(QStringLiteral("http://"));
    // The text of every message box can be selected and copied.
    MsgBox(this,
           QStringLiteral("Não foi possível abrir o navegador. Copie o endereço abaixo e abra-o no navegador para "
                          "imprimir o protocolo:\r\n\r\n") +
               shown,
           QMessageBox::Information, kMsgTitle);
  }
}

void Principal::showEvent(QShowEvent* event) {
  FormBase<QMainWindow>::showEvent(event);
  updateGuidance();
  if (certificateChecked_) return;
  certificateChecked_ = true;
  // After the window is on screen, so the notice has it behind.
  QTimer::singleShot(0, this, [this] { AvisoValidadeCertificado(); });
}

bool Principal::AvisoValidadeCertificado() {
  // No registry yet means no accountant: nothing to read, and nothing is created at start.
  if (!QFileInfo(LocalDatabase::path()).isFile()) return false;
  QString documento;
  try {
    LocalDatabase::Connection db;
    if (const std::optional<ContadorDados> contador = AccountantStore::find(db)) documento = contador->cpfCnpj;
  } catch (const DbError&) {
    return false;  // the registry's own failure shows where the registry is used
  }
  documento.remove(QRegularExpression(QStringLiteral("[^0-9]")));
  if (documento.isEmpty()) return false;
  const std::optional<CertificateInfo> c =
      CertificateSources::certificateOf(CertificateSources::listAll().certificates, documento);
  if (!c) return false;
  const QDateTime now = QDateTime::currentDateTimeUtc();
  const QString fim = c->validTo.toLocalTime().toString(QStringLiteral("dd/MM/yyyy"));
  QString texto;
  if (c->validTo < now) {
    texto = QStringLiteral(
                "O certificado digital do contador (%1) venceu em %2. Sem um certificado válido as "
                "declarações não podem ser transmitidas: providencie a renovação.")
                .arg(c->owner, fim);
  } else if (c->validTo <= now.addDays(30)) {
    // Days of the calendar the accountant reads the date in, counted from today's date to the one
    // shown: a certificate ending tomorrow at 00:30 ends "amanhã", even 2 hours from now.
    const qint64 dias = now.toLocalTime().date().daysTo(c->validTo.toLocalTime().date());
    texto = QStringLiteral(
                "O certificado digital do contador (%1) vence em %2 (%3). Providencie a renovação para "
                "não interromper as transmissões.")
                .arg(c->owner, fim,
                     dias == 0   ? QStringLiteral("hoje")
                     : dias == 1 ? QStringLiteral("amanhã")
                                 : QStringLiteral("daqui a %1 dias").arg(dias));
  } else {
    return false;
  }
  MsgBox(this, texto, QMessageBox::Warning, kMsgTitle);
  return true;
}
