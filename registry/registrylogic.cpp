#include "registry/registrylogic.h"

#include <QRegularExpression>

#include "base/constants.h"
#include "registry/localdb.h"
#include "validation/validators.h"

namespace {
QString strip(QString text, const QString& chars) {
  for (QChar c : chars) text.remove(c);
  return text;
}
}  // namespace

bool MaskCompleto(const QString& maskedText, int fullLength) {
  return strip(maskedText, QStringLiteral("_")).size() == fullLength;
}

// ---- Accountant ----

namespace {
// Apostrophes doubled, as the server has always received them; the builder escapes the rest.
QString soapValue(const QString& v) { return SqlQuote(v); }
}  // namespace

QList<SoapParam> ContadorSoapParams(const ContadorDados& d) {
  return {{QStringLiteral("thisCont_cpf_cnpj"), soapValue(d.cpfCnpj)},
          {QStringLiteral("thisCont_num_crc"), soapValue(d.crc)},
          {QStringLiteral("thisCont_razao_nome"), soapValue(d.razaoNome)},
          {QStringLiteral("thisCont_nom_endereco"), soapValue(d.endereco)},
          {QStringLiteral("thisCont_num_endereco"), soapValue(d.numero)},
          {QStringLiteral("thisCont_complemento"), soapValue(d.complemento)},
          {QStringLiteral("thisCont_nom_bairro"), soapValue(d.bairro)},
          {QStringLiteral("thisCont_nom_cidade"), soapValue(d.cidade)},
          {QStringLiteral("thisCont_nom_estado"), soapValue(d.estado)},
          {QStringLiteral("thisCont_num_telefone"), soapValue(d.telefone)},
          {QStringLiteral("thisCont_num_cep"), soapValue(d.cep)},
          {QStringLiteral("thisCont_email"), soapValue(d.email)}};
}

QString ContadorDocumentoSaida(const QString& maskedText, bool cpf) {
  if (cpf) return CPFValida(maskedText) ? QString() : QStringLiteral("Documento CPF Informado incorretamente");
  return CNPJValida(maskedText) ? QString() : QStringLiteral("Documento CNPJ Informado incorretamente");
}

QString ContadorDocumentoOk(const QString& maskedText, bool cpf) {
  const QString digits = strip(maskedText, QStringLiteral("_.-"));
  if (cpf) {
    if (!CPFValida(digits) || digits.size() < 11) return QStringLiteral("Documento CPF Informado incorretamente");
    return QString();
  }
  // All fourteen digits and the "/": a document with a missing digit is never stored, even when
  // the check digits happen to agree with the missing position read as 0.
  if (!CNPJValida(maskedText) || digits.size() < 15) return QStringLiteral("Documento CNPJ Informado incorretamente");
  return QString();
}

bool ContadorUfAceita(const QString& uf) {
  static const QString list =
      QStringLiteral("AC,AL,AM,AP,BA,CE,DF,ES,GO,MA,MG,MS,MT,PA,PB,PE,PI,PR,RJ,RN,RO,RR,RS,SC,SE,SP,TO,");
  return list.contains(uf + QLatin1Char(','), Qt::CaseSensitive);
}

bool EmailValido(const QString& email) {
  static const QRegularExpression kForma(QStringLiteral("^[^@\\s]+@[^@\\s.]+(\\.[^@\\s.]+)+$"));
  return kForma.match(email).hasMatch();
}

QString ContadorCamposErro(ContadorDados& d, const std::function<bool()>& askSemCrc) {
  if (d.email.size() <= 5 || !EmailValido(d.email)) return QStringLiteral("Favor digitar um e-mail");
  if (d.crc.trimmed().isEmpty()) {
    if (!askSemCrc())
      return QStringLiteral("Você optou por não prosseguir sem o CRC, favor digitar e clicar em OK novamente");
    d.crc.clear();
  }
  if (d.razaoNome.size() < 5) return QStringLiteral("Favor digitar a Razão Social corretamente");
  if (d.endereco.isEmpty()) return QStringLiteral("Favor digitar o Endereço corretamente");
  if (d.numero.isEmpty()) return QStringLiteral("Favor digitar o Número corretamente");
  if (d.cep.isEmpty() || !MaskCompleto(d.cep, 9)) return QStringLiteral("Favor digitar o CEP corretamente");
  if (d.bairro.trimmed().isEmpty()) return QStringLiteral("Favor digitar o Bairro corretamente");
  if (d.cidade.trimmed().isEmpty()) return QStringLiteral("Favor digitar a Cidade corretamente");
  if (!ContadorUfAceita(d.estado))
    return QStringLiteral("Favor digitar o UF corretamente.  Ex: SP, RJ, PR, MG (em maiúsculo)");
  return QString();
}

QString FalhaConexaoTexto(int codigo, const QString& motivo) {
  QString texto = FalhaConexaoTexto(codigo);
  if (!motivo.isEmpty()) texto += QStringLiteral("\r\n\r\nMotivo informado pelo servidor: ") + motivo;
  return texto;
}

QString FalhaConexaoTexto(int codigo) {
  QString site = Zide::kWebSite;
  if (!site.endsWith(QLatin1Char('/'))) site += QLatin1Char('/');
  const QString nl = QStringLiteral("\r\n");
  return QStringLiteral("Falha de conexão - Cód %1, ").arg(codigo) + nl +
         QStringLiteral(
             "favor entrar em contato com seu administrador de redes para verificação de regras no seu "
             "firewall ou proxy. ") +
         nl + nl + QStringLiteral("Verifique também suas configurações de antivírus.") + nl + nl +
         QStringLiteral("O sistema deverá se comunicar com a URL ") + site;
}

// ---- Taxpayers ----

QString companyFieldError(const QString& ie, const QString& razaoSocial, const QString& cnpj, const QString& cnae,
                          bool checkIeDigits) {
  if (!MaskCompleto(ie, 13)) return QStringLiteral("Inscrição Estadual preenchida incorretamente");
  if (checkIeDigits && !IEValida(ie, kUfServida)) return QStringLiteral("Inscrição Estadual inválida");
  if (razaoSocial.isEmpty()) return QStringLiteral("Razão Social preenchida incorretamente");
  if (!MaskCompleto(cnpj, 18)) return QStringLiteral("CNPJ preenchido incorretamente");
  if (!CNPJValida(cnpj)) return QStringLiteral("CNPJ preenchido é inválido");
  if (!MaskCompleto(cnae, 9)) return QStringLiteral("CNAE preenchido incorretamente");
  return QString();
}

QString ContribuinteCampoErro(const ContribuinteDados& d, bool update) {
  const QString erro = companyFieldError(d.ie, d.razaoSocial, d.cnpj, d.cnae, update);
  if (!erro.isEmpty()) return erro;
  if (d.chave.isEmpty()) return QStringLiteral("Chave não informada");
  return QString();
}
