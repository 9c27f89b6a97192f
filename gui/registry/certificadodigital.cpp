#include "gui/registry/certificadodigital.h"

#include <QStringList>
#include <exception>

#include "gui/widgets/interaction.h"
#include "net/enc64.h"
#include "registry/accountantstore.h"
#include "registry/certificates.h"
#include "registry/registrylogic.h"

namespace {

const QString kTituloCnpj = QStringLiteral("Selecione o Certificado Digital (e-CNPJ)");
const QString kPromptCnpj = QStringLiteral("Escolha o certificado e-CNPJ da empresa para receber a chave");
const QString kTituloCapi = QStringLiteral("Using CAPI to Select a certificate");
const QString kPromptCapi = QStringLiteral("Select a certificate using CAPI");

QString semPontuacao(QString s) {
  s.remove(QLatin1Char('.'));
  s.remove(QLatin1Char('/'));
  s.remove(QLatin1Char('-'));
  return s;
}

// The Base64 export as the certificate component gives it: lines of 64 characters with CR LF.
QString exportarBase64(const QByteArray& der) {
  const QByteArray b64 = der.toBase64();
  QString out;
  for (qsizetype i = 0; i < b64.size(); i += 64) {
    out += QString::fromLatin1(b64.mid(i, 64));
    out += QStringLiteral("\r\n");
  }
  return out;
}

// An empty document would be found in any certificate.
bool contem(const QString& bruto, const QString& documento) {
  return !documento.isEmpty() && bruto.contains(documento, Qt::CaseSensitive);
}

}  // namespace

void CertificadoDigital::DadosContador() {
  LocalDatabase::Connection db;
  const std::optional<ContadorDados> contador = AccountantStore::find(db);
  docContador = contador ? semPontuacao(contador->cpfCnpj) : QString();
}

std::optional<CertificadoEscolhido> CertificadoDigital::Escolher(QWidget* parent) {
  // Sources that cannot be read are shown in the dialog; the others stay usable.
  const bool transmissao = copia_ == CopiaCertificado::Transmissao;
  const std::optional<QByteArray> der = Interaction::current().selectCertificate(
      parent, transmissao ? kTituloCapi : kTituloCnpj, transmissao ? kPromptCapi : kPromptCnpj);
  if (!der) return std::nullopt;
  const std::optional<CertificateInfo> info = ParseCertificate(*der);
  if (!info) throw CertificateError(QStringLiteral("O certificado escolhido não pôde ser lido."));
  QString exportado = exportarBase64(info->der);
  CertificadoEscolhido c;
  c.der = info->der;
  c.bruto = MyDecode(exportado);
  c.validoDe = info->validFrom;
  c.validoAte = info->validTo;
  c.temCdp = info->hasCdp;
  return c;
}

void CertificadoDigital::ObterUrlsCDP(QWidget* window, const QByteArray& der) {
  QStringList urls;
  unsigned long codigo = 0;
  if (!CdpUrls(der, &urls, &codigo))
    MsgBox(window, QStringLiteral("Could not retrieve the URLs from the CDP extension: 0x") +
                       QString::number(static_cast<qulonglong>(codigo), 16).toUpper());
}

std::optional<ChaveObtida> CertificadoDigital::SelecionarCertificado(QWidget* window, const DadosEmpresa& empresa) {
  auto erro = [window](const QString& text) { MsgBox(window, text, QMessageBox::Critical, kMsgTitle); };
  try {
    DadosContador();

    const QString campo = companyFieldError(empresa.ie, empresa.razaoSocial, empresa.cnpj, empresa.cnae);
    if (!campo.isEmpty()) {
      erro(campo);
      return std::nullopt;
    }

    const std::optional<CertificadoEscolhido> c = Escolher(window);
    if (!c) return std::nullopt;

    if (!contem(c->bruto, semPontuacao(empresa.cnpj)) && !contem(c->bruto, docContador)) {
      MsgBox(window, QStringLiteral("O Certificado não possui informações da empresa selecionada ou contador."),
             QMessageBox::Information, kMsgTitle);
      return std::nullopt;
    }
    certificadoOk = true;
    if (c->temCdp) ObterUrlsCDP(window, c->der);

    QString reply;
    if (!PedirChave(empresa.ie, empresa.cnpj, &reply)) {
      // The server did not answer: the computer is fine, so the connection message, not the component one.
      erro(FalhaConexaoTexto(2));
      return std::nullopt;
    }
    const RespostaChave r = InterpretarRespostaChave(reply);
    if (r.naoAutorizado) {
      erro(TextoNaoAutorizado());
      return std::nullopt;
    }
    // A reply without a date at its place is a failure of the routine, as a broken certificate is.
    if (!r.momento) throw std::runtime_error("Transferencia.ecnpj sem data");
    if (!DentroDaValidade(*c, *r.momento)) {
      MsgBox(window, QStringLiteral("Certificado expirado, contate seu fornecedor"));
      return std::nullopt;
    }
    return ChaveObtida{r.chave, r.simples};
  } catch (...) {
    MsgBox(window, ComponentFailureText());
    return std::nullopt;
  }
}

bool CertificadoDigital::SelecionarCertificado(QWidget* window, const QDateTime& DataServidor) {
  try {
    const std::optional<CertificadoEscolhido> c = Escolher(window);
    if (!c) return certificadoOk;
    if (!AcceptedForTransmission(c->der, c->validoAte, docContador, DataServidor)) {
      certificadoOk = false;
      MsgBox(window, kCertificadoInvalidoTexto, QMessageBox::Critical,
             QStringLiteral("DUZO - Zaruvo r Azurera - RO - Certificado Inválido"));
      return certificadoOk;
    }
    certificadoOk = true;
    if (c->temCdp) ObterUrlsCDP(window, c->der);
  } catch (...) { MsgBox(window, ComponentFailureText()); }
  return certificadoOk;
}
